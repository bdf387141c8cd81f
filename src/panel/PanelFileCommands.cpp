// The File menu's configuration commands: upload the controller's or the tool configuration into a
// file, and download a file into the controller, then offer to store it in non-volatile memory.
//
// Errors: a link or file failure (EIxaInterface) is shown here; a line the controller rejects
// (EIxa) ends the download and goes to the standard error display through the guarded menu
// connection. Everything runs on the main thread and blocks it for the transfer; the monitor is not
// paused, the link lock keeps its polls out of a running transfer.

#include "panel/Downloadingconfig.h"
#include "panel/Panel.h"

#include "platform/SysUtils.h"
#include "toolkit/Application.h"
#include "toolkit/Text.h"

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
}

void TKorvaControlPanel::UploadIxaCfg() {
    if (!Dialogs().SaveFile(IxaUploadDialog))
        return;
    try {
        Link->UploadIxaCfg(ToSystemName(IxaUploadDialog.FileName));
    } catch (const EIxaInterface& error) {
        ShowError(ToQString(error.Message));
    }
}

void TKorvaControlPanel::UploadToolCfg() {
    if (!Dialogs().SaveFile(IxaUploadDialog))
        return;
    try {
        Link->UploadToolCfg(ToSystemName(IxaUploadDialog.FileName));
    } catch (const EIxaInterface& error) {
        ShowError(ToQString(error.Message));
    }
}

void TKorvaControlPanel::DownloadToIxa() {
    if (!Dialogs().OpenFile(IxaDownloadDialog))
        return;
    // Destroyed on every path out, also when an error passes through.
    auto busy = std::make_unique<TDownloadConfig>(this);
    try {
        repaint();
        busy->ShowAndPaint();
        Link->DownloadCfg(ToSystemName(IxaDownloadDialog.FileName));
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
