// The File menu's compare and backup commands, and the backup before a download. The uploads show
// their progress line by line in their busy windows; the monitor is not paused, the link lock keeps
// its polls out of a running upload.

#include "panel/FileLauncher.h"
#include "panel/Compareconfig.h"
#include "panel/Panel.h"
#include "panel/UploadProgress.h"

#include "operations/ConfigOperations.h"

#include "platform/SysUtils.h"
#include "toolkit/Application.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Help.h"
#include "toolkit/Settings.h"
#include "toolkit/Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <ctime>

namespace {
QString PathText(const std::filesystem::path& path) {
    return QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(path.string())));
}
} // namespace

void TFileLauncher::CreateFileCommandItems() {
    CompareItem = Panel.FileMenu->addAction("&Compare Configuration with File...");
    CompareItem->setStatusTip("Compare a configuration file with the controller's configuration");
    BackupItem = Panel.FileMenu->addAction("&Back Up Controller");
    BackupItem->setStatusTip("Save the controller and tool configuration into a new backup");
    QObject::connect(CompareItem, &QAction::triggered, &Panel,
                     [this] { GuardedCall([this] { CompareWithFile(); }); });
    OpenBackupFolderItem = Panel.FileMenu->addAction("Open Backup &Folder");
    OpenBackupFolderItem->setStatusTip("Show the backup folder in the file manager");
    QObject::connect(BackupItem, &QAction::triggered, &Panel,
                     [this] { GuardedCall([this] { BackUpController(); }); });
    QObject::connect(OpenBackupFolderItem, &QAction::triggered, &Panel,
                     [this] { GuardedCall([this] { OpenBackupFolder(); }); });
}

void TFileLauncher::OpenBackupFolder() {
    ShowFolder(BackupRoot());
}

void TFileLauncher::ShowFolder(const QString& folder) {
    const QString shown = QDir::toNativeSeparators(folder);
    if (!QFileInfo(folder).isDir()) {
        MessageBox("Korva Windows", "There is no backup yet. Backups go to " + shown + ".", TMsgButtons::Ok,
                   TMsgIcon::Information);
        return;
    }
    if (!OpenFolder(folder))
        ShowError("The folder " + shown + " could not be shown: the desktop has no program to open it.");
}

void TFileLauncher::PutBackBackup(const TConfigBackups::TBackup& backup) {
    try {
        const TDownloadPlan plan = PlanDownload(*Panel.Link, backup.Controller);
        DownloadPlanned(*Panel.Link, plan, IdentityLinesLeftOut(plan, false, false));
        MessageBox("Korva Windows",
                   "The backup is back in the controller: " + PathText(backup.Controller) + ".",
                   TMsgButtons::Ok, TMsgIcon::Information);
    } catch (const std::exception& error) {
        ShowError("The backup could not be put back: " + ToQString(error.what()) + " It is in " +
                  PathText(backup.Controller) + ".");
    }
}

QString TFileLauncher::BackupRoot() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return FromSystemName(BackupFolder(ToSystemName(data)).generic_string());
}

bool TFileLauncher::BackupBeforeDownload() {
    return ReadSetting("BackupBeforeDownload", "0") == "1";
}

TConfigBackups::TBackup TFileLauncher::TakeBackup() {
    Panel.Link->AssertConnected();
    const TConfigBackups backups(ToSystemName(BackupRoot()));
    TBackupResult result;
    UploadWithProgress(&Panel, "Backing Up Configuration...", [&](const auto& progress) {
        result = ::BackUpController(*Panel.Link, backups, std::time(nullptr), progress);
    });
    for (const std::string& warning : result.Warnings)
        MessageBox("Korva Windows", ToQString(warning), TMsgButtons::Ok, TMsgIcon::Warning);
    const TConfigBackups::TBackup backup = result.Backup;
    return backup;
}

void TFileLauncher::BackUpController() {
    try {
        const TConfigBackups::TBackup backup = TakeBackup();
        if (MessageBox("Korva Windows",
                       QString("The controller is backed up in %1:\n%2\n%3")
                           .arg(PathText(backup.Controller.parent_path()),
                                PathText(backup.Controller.filename()), PathText(backup.Tool.filename())),
                       TMsgButtons::Ok, TMsgIcon::Information,
                       {"Open Backup Folder", BackupHelpContext}) == mrExtra)
            ShowFolder(FromSystemName(backup.Controller.parent_path().generic_string()));
    } catch (const EIxaInterface& error) {
        ShowError(ToQString(error.Message));
    } catch (const EConfig& error) {
        ShowError(ToQString(error.Message));
    }
}

void TFileLauncher::CompareWithFile() {
    if (!Dialogs().OpenFile(Panel.IxaDownloadDialog))
        return;
    const QString fileName = Panel.IxaDownloadDialog.FileName;
    try {
        TConfigText file = ReadConfigurationFile(ToSystemName(fileName));
        Panel.Link->AssertConnected();
        std::optional<TControllerCompare> compared;
        UploadWithProgress(&Panel, "Uploading Configuration...", [&](const auto& progress) {
            compared = CompareWithController(*Panel.Link, std::move(file), progress);
        });
        if (CompareWindow)
            CompareWindow->close();
        auto* form = new TCompareConfigForm(&Panel, fileName, *compared);
        form->OnDownload = [this](const QString& name) {
            GuardedCall([this, name] { Panel.DownloadFile(name); });
        };
        CompareWindow = form;
        form->show();
    } catch (const EIxaInterface& error) {
        ShowError(ToQString(error.Message));
    } catch (const EConfig& error) {
        ShowError(ToQString(error.Message));
    }
}
