// The Maintenance menu's windows: the terminal and the diagnostics window (the line's windows are
// in MaintenanceLauncher.cpp).
#include "maintenance/Diagnostics.h"
#include "maintenance/Terminal.h"
#include "panel/Panel.h"
#include "toolkit/Application.h"

#include <memory>

void TKorvaControlPanel::TerminalItemClick() {
    auto form = std::make_unique<TTerminalForm>(this, Port.get());
    TerminalForm = form.get();
    // The terminal talks to the port directly: no polling may share the line meanwhile.
    Monitor->SetPolling(false);
    try {
        form->exec();
    } catch (...) {
        form.reset();
        Monitor->SetPolling(true);
        throw;
    }
    form.reset();
    Monitor->SetPolling(true);
}

void TKorvaControlPanel::DiagnosticsItemClick() {
    if (!DiagnosticsWindow)
        return;
    DiagnosticsWindow->show(); // a visible window is not shown again: its selectors stay as they are
    DiagnosticsWindow->raise();
    DiagnosticsWindow->activateWindow();
}

void TKorvaControlPanel::CreateMaintenanceWindows() {
    DiagnosticsForm = new TDiagnosticsForm(this, *Monitor);
    DiagnosticsWindow = DiagnosticsForm;
}

void TKorvaControlPanel::DestroyMaintenanceWindows() {
    delete DiagnosticsWindow; // also clears DiagnosticsForm
    DiagnosticsWindow = nullptr;
    Maintenance.DestroyLineWindows();
}

void TKorvaControlPanel::ShowMaintenanceOffline() {
    if (DiagnosticsForm && DiagnosticsForm->isVisible())
        DiagnosticsForm->ShowLinkLost();
}
