#include "operations/ConfigOperations.h"

#include "platform/StoredSetting.h"

std::filesystem::path BackupFolder(const std::filesystem::path& userDataFolder) {
    return userDataFolder / SettingsOrganization / SettingsApplication / "Backups";
}

TBackupResult BackUpController(TIxaInterface& link, const TConfigBackups& backups, std::time_t now,
                               const TTransferProgress& progress) {
    link.AssertConnected();
    const AnsiString name = link.GetControllerName();
    TBackupResult result;
    result.Backup = backups.NewBackup(name, now);
    try {
        link.UploadIxaCfg(result.Backup.Controller.string(), progress);
        link.UploadToolCfg(result.Backup.Tool.string(), progress);
    } catch (...) {
        TConfigBackups::Discard(result.Backup);
        throw;
    }
    // The backup is made; a folder that cannot be tidied is worth a word, not a failure.
    TConfigBackups::TPruneResult pruned = backups.Prune(name);
    result.Pruned = std::move(pruned.Removed);
    result.Warnings = std::move(pruned.Warnings);
    return result;
}

TConfigText ReadConfigurationFile(const std::filesystem::path& file) {
    const AnsiString text = TConfigText::ReadFile(file);
    TIxaInterface::CheckConfigText(text);
    return TConfigText::Parse(text);
}

TControllerCompare CompareWithController(TIxaInterface& link, TConfigText file,
                                         const TTransferProgress& progress) {
    TControllerCompare out;
    out.File = std::move(file);
    out.Tools = out.File.IsToolConfiguration();
    link.AssertConnected();
    out.Controller = TConfigText::FromLines(link.UploadCfgLines(out.Dump(), progress));
    if (!out.Controller.EnglishUnits())
        out.ControllerEnglish = link.GetEnglishUnits();
    out.Result = TConfigCompare::Compare(out.File, out.Controller, out.ControllerEnglish);
    return out;
}

TRestoreResult RestoreFile(TIxaInterface& link, const std::filesystem::path& file, bool save,
                           const TTransferProgress& progress) {
    TRestoreResult result;
    link.DownloadCfg(file.string(), [&](size_t line, size_t total, const AnsiString& text) {
        result.Lines = line;
        if (progress)
            progress(line, total, text);
    });
    if (save) {
        SaveControllerConfiguration(link, true);
        result.Saved = true;
    }
    return result;
}

TWeighResult WeighTool(TIxaInterface& link, bool save) {
    TWeighResult result;
    link.AutoWeigh();
    result.Weight = link.GetCurrentToolWeight();
    if (save) {
        SaveControllerConfiguration(link, true);
        result.Saved = true;
    }
    link.GetEnglishUnits();
    result.Units = link.WeightUnits;
    return result;
}

void SaveControllerConfiguration(TIxaInterface& link, bool full) {
    link.SaveConfiguration(full);
}
