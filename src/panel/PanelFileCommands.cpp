// The File menu's configuration commands: upload the controller's or the tool configuration into a
// file, and download a file into the controller, then offer to store it in non-volatile memory
// (compare and backup are in FileLauncher.cpp). The transfers show their progress line by line in
// their busy windows.
//
// Errors: a link or file failure (EIxaInterface) is shown here; a line the controller rejects
// (EIxa) ends the download and goes to the standard error display through the guarded menu
// connection. Everything runs on the main thread and blocks it for the transfer; the monitor is not
// paused, the link lock keeps its polls out of a running transfer.

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

void TKorvaControlPanel::DownloadFile(const QString& fileName) {
    if (!Files.TakeBackupBeforeDownload())
        return;
    // Destroyed on every path out, also when an error passes through.
    auto busy = std::make_unique<TDownloadConfig>(this);
    try {
        repaint();
        busy->ShowAndPaint();
        size_t lineNumber = 0, lineCount = 0;
        AnsiString lineText;
        try {
            // Saved below, after the question.
            RestoreFile(*Link, ToSystemName(fileName), false,
                        [&](size_t line, size_t total, const AnsiString& text) {
                            lineNumber = line;
                            lineCount = total;
                            lineText = text;
                            busy->ShowProgress(QString("line %1 of %2").arg(line).arg(total));
                        });
        } catch (EIxa& error) {
            // Which line, and how far the file got: the lines before it are in the controller now.
            error.Message = "Line " + std::to_string(lineNumber) + " of " + std::to_string(lineCount) +
                            " (\"" + lineText + "\") was refused by the controller: " + error.Message +
                            (lineNumber > 1 ? ". The lines before it were applied, the rest was not sent"
                                            : ". Nothing was applied");
            throw;
        }
        busy->hide();
        // A second's rest for the controller before the question and the new handshake.
        SleepMs(1000);
        if (MessageBox("Korva Windows", "Do you want to save configuration to Non-volatile memory?",
                       TMsgButtons::YesNo, TMsgIcon::None) == mrYes)
            SaveControllerConfig(true);
        Monitor->ConnectAndRefresh();
    } catch (const EIxaInterface& error) {
        busy.reset();
        ShowError(ToQString(error.Message));
    }
}
