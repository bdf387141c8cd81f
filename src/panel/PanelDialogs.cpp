// TKorvaControlPanel: the setup dialogs' menu items and what the window does after each dialog's OK,
// the Help menu, the about window and File > Exit.
#include "dialogs/Contour.h"
#include "dialogs/Forcelevel.h"
#include "dialogs/Interface.h"
#include "dialogs/Options.h"
#include "dialogs/Positionlimit.h"
#include "panel/About.h"
#include "panel/Panel.h"
#include "toolkit/Application.h"
#include "toolkit/Help.h"
#include "toolkit/Layout.h"
#include "toolkit/Text.h"

#include <QMenu>
#include <memory>

namespace {
// A menu item whose handler's escaped errors go to the application's error report.
template <typename F>
QAction* AddItem(QMenu* menu, const char* name, const char* caption, const char* hint, QObject* context,
                 F handler) {
    QAction* item = menu->addAction(caption, context, [handler] { GuardedCall(handler); });
    item->setObjectName(name);
    if (hint)
        item->setStatusTip(hint);
    return item;
}
} // namespace

void TKorvaControlPanel::CreateDialogAndHelpItems() {
    FileMenu->addSeparator();
    FileExitItem =
        AddItem(FileMenu, "FileExitItem", "E&xit", "Exit this application", this, [this] { FileExit(); });

    AddItem(SetupMenu, "PositionLimitsItem", "Position &Limits", nullptr, this,
            [this] { PositionLimitsItemClick(); });
    AddItem(SetupMenu, "ContourModeItem", "&Contour Mode", nullptr, this, [this] { ContourModeItemClick(); });
    AddItem(SetupMenu, "ForceLevelsItem", "&Force Levels", nullptr, this, [this] { ForceLevelsItemClick(); });
    AddItem(SetupMenu, "KorvaInterfaceItem", "IXA &Interface", nullptr, this,
            [this] { KorvaInterfaceItemClick(); });
    AddItem(MaintenanceMenu, "ProgramOptionsItem", "&Program Options", nullptr, this,
            [this] { ProgramOptionsItemClick(); });

    HelpContentsItem = AddItem(HelpMenu, "HelpContentsItem", "&Contents", "Display the help contents screen",
                               this, [this] { HelpContents(); });
    HelpSearchItem = AddItem(HelpMenu, "HelpSearchItem", "&Search for Help On...",
                             "Search help file for a topic", this, [this] { HelpSearch(); });
    HelpHowToUseItem = AddItem(HelpMenu, "HelpHowToUseItem", "&How to Use Help",
                               "Help on using the help system", this, [this] { HelpHowToUse(); });
    HelpMenu->addSeparator();
    HelpAboutItem = AddItem(HelpMenu, "HelpAboutItem", "&About...", "Show program information", this,
                            [this] { HelpAbout(); });
}

void TKorvaControlPanel::PositionLimitsItemClick() {
    auto form = std::make_unique<TPositionLimitForm>(this, *Link);
    // Saved only after a dialog that wrote: one that wrote nothing has said so.
    if (form->exec() == QDialog::Accepted && form->Written) {
        SaveControllerConfig(false);
        SetupPositionGauge();
    }
}

void TKorvaControlPanel::ContourModeItemClick() {
    auto form = std::make_unique<TContourForm>(this, *Link);
    if (form->exec() == QDialog::Accepted && form->Written)
        SaveControllerConfig(false);
}

void TKorvaControlPanel::ForceLevelsItemClick() {
    auto form = std::make_unique<TForceLevelForm>(this, *Link);
    if (form->exec() == QDialog::Accepted && form->Written)
        SaveControllerConfig(false);
}

void TKorvaControlPanel::KorvaInterfaceItemClick() {
    auto form = std::make_unique<TInterfaceForm>(this, *Link);
    if (form->exec() != QDialog::Accepted)
        return;
    if (form->Written) {
        // With no tool connected the full configuration is saved.
        SaveControllerConfig(!Monitor->ToolPresent);
        // The name as the controller now holds it, not as typed.
        OnlineStatus->setText(ToQString(Link->GetControllerName()));
        OnlineStatus->SetColor(clr::Green);
        SetupCommandBar();
    } else if (!Link->Connected) {
        OnlineStatus->setText("Offline");
        OnlineStatus->SetColor(clr::Grey);
    }
}

void TKorvaControlPanel::ProgramOptionsItemClick() {
    auto form = std::make_unique<TOptionsForm>(this, *Link, *Port);
    const bool accepted = form->exec() == QDialog::Accepted;
    // A cancel goes back to the port in use; only when that one could not be opened again does the
    // window follow the port as it now is. The setting keeps its port either way.
    if (!accepted && !form->PortSwitched())
        return;
    // The broker's settings as stored by OK, and its unit on the port as it now is.
    Broker.Apply(accepted);
    // Under an override the setting keeps the stored port: only a port chosen here replaces it.
    if (accepted && (PortOverride.empty() || Port->Name != PortOverride)) {
        CommPortName = Port->Name;
        PortOverride.clear();
    }
    Monitor->ConnectAndRefresh();
    if (accepted)
        SaveControllerConfig(false);
}

void TKorvaControlPanel::HelpContents() {
    HelpRequest(HELP_INDEX, 0);
}

void TKorvaControlPanel::HelpSearch() {
    HelpRequest(HELP_PARTIALKEY, QString());
}

void TKorvaControlPanel::HelpHowToUse() {
    HelpRequest(HELP_HELPONHELP, 0);
}

void TKorvaControlPanel::HelpAbout() {
    auto form = std::make_unique<TAboutForm>(this);
    form->exec();
}

void TKorvaControlPanel::FileExit() {
    close();
}
