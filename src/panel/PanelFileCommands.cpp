// The File menu's configuration commands: upload the controller's or the tool configuration into a
// file, and download a file into the controller, then offer to store it in non-volatile memory
// (compare and backup are in FileLauncher.cpp). The transfers show their progress line by line in
// their busy windows.
//
// A download never moves or renames the unit unasked, and checks every value of the file before it
// sends the first line.
//
// Errors: a link or file failure (EIxaInterface) or a refused file (EConfig) is shown here; a line
// the controller rejects (ERestoreRefused) ends the download and, without a backup to offer, goes
// to the standard error display through the guarded menu connection. Everything runs on the main thread and
// blocks it for the transfer; the monitor is not paused, the link lock keeps its polls out of a running
// transfer.

#include "panel/Downloadingconfig.h"
#include "panel/Panel.h"
#include "panel/UploadProgress.h"

#include "operations/ConfigOperations.h"

#include "platform/SysUtils.h"
#include "toolkit/Application.h"
#include "toolkit/Text.h"

#include <QDir>

void TKorvaControlPanel::CreateFileCommandItems() {
    IxaUploadIxaItem = FileMenu->addAction("Upload &IXA Configuration to PC");
    IxaUploadToolItem = FileMenu->addAction("Upload &Tool Configuration to PC");
    IxaUploadToolItem->setStatusTip("Save current file");
    IxaDownloadItem = FileMenu->addAction("&Download Configuration to IXA");
    IxaDownloadItem->setStatusTip("Open an existing file");
    connect(IxaUploadIxaItem, &QAction::triggered, this, [this] { GuardedCall([this] { UploadIxaCfg(); }); });
    connect(IxaUploadToolItem, &QAction::triggered, this,
            [this] { GuardedCall([this] { UploadToolCfg(); }); });
    connect(IxaDownloadItem, &QAction::triggered, this, [this] { GuardedCall([this] { DownloadToIxa(); }); });
    FileMenu->addSeparator();
    Files.CreateFileCommandItems();
}

void TKorvaControlPanel::UploadIxaCfg() {
    UploadToFile(&TIxaInterface::UploadIxaCfg);
}

void TKorvaControlPanel::UploadToolCfg() {
    UploadToFile(&TIxaInterface::UploadToolCfg);
}

void TKorvaControlPanel::UploadToFile(TUploadToFile upload) {
    if (!Dialogs().SaveFile(IxaUploadDialog))
        return;
    try {
        const QString fileName = IxaUploadDialog.FileName;
        const size_t lines =
            UploadWithProgress(this, "Uploading Configuration...", [&](const auto& progress) {
                (Link.get()->*upload)(ToSystemName(fileName), progress);
            });
        MessageBox("Korva Windows",
                   QString("%1 written to %2.").arg(LineCount(lines), QDir::toNativeSeparators(fileName)),
                   TMsgButtons::Ok, TMsgIcon::Information);
    } catch (const EIxaInterface& error) {
        ShowError(ToQString(error.Message));
    }
}

void TKorvaControlPanel::DownloadToIxa() {
    if (!Dialogs().OpenFile(IxaDownloadDialog))
        return;
    DownloadFile(IxaDownloadDialog.FileName);
}

namespace {
// The question for a line that would change who the unit is; Yes applies it, No (the safe answer)
// leaves it out.
QString IdentityQuestion(const TIdentityChange& change) {
    if (change.Move())
        return QString("This file would move the unit at address %1 to address %2%3.\n\n"
                       "Move it? No keeps address %1 and leaves line %4 out.")
            .arg(ToQString(change.Now), ToQString(change.File),
                 change.Taken ? ", where another unit answers" : "")
            .arg(change.LineNumber);
    return QString("This file would rename the unit \"%1\" to \"%2\".\n\n"
                   "Rename it? No keeps the name \"%1\" and leaves line %3 out.")
        .arg(ToQString(change.Now), ToQString(change.File))
        .arg(change.LineNumber);
}

QString LineList(const std::vector<size_t>& lines) {
    QStringList numbers;
    for (const size_t line : lines)
        numbers << QString::number(line);
    return (lines.size() == 1 ? "Line " : "Lines ") + numbers.join(", ");
}
} // namespace

void TKorvaControlPanel::DownloadFile(const QString& fileName) {
    // The whole file is checked, and the unit asked who it is, before anything is sent.
    TDownloadPlan plan;
    try {
        plan = PlanDownload(*Link, ToSystemName(fileName));
    } catch (const EConfig& error) {
        ShowError(ToQString(error.Message));
        return;
    } catch (const EIxaInterface& error) {
        ShowError(ToQString(error.Message));
        return;
    }
    if (plan.Active &&
        MessageBox(
            "Korva Windows",
            "The carriage is active. A download changes the set-up it works with.\n\nDownload all the same?",
            TMsgButtons::YesNo, TMsgIcon::Warning) != mrYes)
        return;
    std::vector<size_t> leaveOut;
    for (const TIdentityChange& change : plan.Changes)
        if (MessageBox("Korva Windows", IdentityQuestion(change), TMsgButtons::YesNo, TMsgIcon::Warning) !=
            mrYes)
            leaveOut.push_back(change.LineNumber);
    std::optional<TConfigBackups::TBackup> backup;
    if (TFileLauncher::BackupBeforeDownload()) {
        try {
            backup = Files.TakeBackup();
        } catch (const std::exception& error) {
            ShowError("The backup before the download failed, so nothing was downloaded: " +
                      ToQString(error.what()));
            return;
        }
    }
    // Destroyed on every path out, also when an error passes through.
    auto busy = std::make_unique<TDownloadConfig>(this);
    try {
        repaint();
        busy->ShowAndPaint();
        TRestoreResult result;
        try {
            // Saved below, after the question.
            result =
                DownloadPlanned(*Link, plan, leaveOut, [&](size_t line, size_t total, const AnsiString&) {
                    busy->ShowProgress(QString("line %1 of %2").arg(line).arg(total));
                });
        } catch (const ERestoreRefused& refused) {
            busy.reset();
            if (!backup)
                throw;
            if (MessageBox("Korva Windows",
                           ToQString(refused.Message) +
                               "\n\nPut back the backup taken before the download, so that the controller "
                               "holds what it held before?",
                           TMsgButtons::YesNo, TMsgIcon::Warning) == mrYes)
                Files.PutBackBackup(*backup);
            Monitor->ConnectAndRefresh();
            return;
        }
        busy->hide();
        // A second's rest for the controller before the question and the new handshake.
        SleepMs(1000);
        if (result.MovedTo) {
            // The unit answers elsewhere now: a save would go to nobody, so none is offered.
            MessageBox(
                "Korva Windows",
                QString("The download moved the unit from address %1 to address %2, where it answers "
                        "now. The panel stays at address %1 and goes offline; set the address to %2 to "
                        "reach the unit. The configuration was not saved to non-volatile memory.")
                    .arg(Link->Address)
                    .arg(*result.MovedTo),
                TMsgButtons::Ok, TMsgIcon::Information);
        } else {
            if (!leaveOut.empty())
                MessageBox("Korva Windows",
                           LineList(leaveOut) +
                               " of the file were left out: the unit keeps its address and name.",
                           TMsgButtons::Ok, TMsgIcon::Information);
            if (MessageBox("Korva Windows", "Do you want to save configuration to Non-volatile memory?",
                           TMsgButtons::YesNo, TMsgIcon::None) == mrYes)
                SaveControllerConfig(true);
        }
        Monitor->ConnectAndRefresh();
    } catch (const EIxaInterface& error) {
        busy.reset();
        ShowError(ToQString(error.Message));
    }
}
