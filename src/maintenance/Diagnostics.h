#pragma once
// TDiagnosticsForm: the one modeless I/O window. It shows the controller's digital outputs and
// inputs as 24 lamps and its two analogue outputs and one analogue input as numbers, refreshed from
// the monitor's OnIo while the window is visible, and lets the operator pick the function of each
// of the four digital inputs, four digital outputs and two analogue outputs. An assignment goes to
// the controller the moment it is picked (Cancel does not take it back); OK saves the configuration
// ("SC") when the port is open.
//
// The window attaches its handler to the monitor's OnIo when it is shown and empties the slot when
// it is hidden: that is what starts and stops the monitor's I/O queries. The selectors are loaded
// (names and current assignments) only when the window goes from hidden to visible.
//
// Errors: a controller error ("Error N") while loading the assignments is shown (ShowError) and the
// showing goes on. Any other failure while loading, and any failure sending an assignment, goes to
// the standard error display; after a failed load the refresh stays detached until the next showing.
// A failed save on OK is shown, then the window closes.
// Threads: main thread only; the monitor delivers through its main-thread call.

#include "monitor/Ixamonitor.h"

#include <QComboBox>
#include <QDialog>
#include <QPushButton>
#include <array>
#include <cstdint>

class TStaticText;

class TDiagnosticsForm : public QDialog {
public:
    static constexpr int LampCount = 24;
    static constexpr int OutputLampCount = 11; // the first eleven lamps show the output word

    // The monitor is not owned. Destroy the window hidden, or after the monitor has ended: a
    // visible window's handler stays in the monitor's OnIo.
    TDiagnosticsForm(QWidget* owner, TIxaMonitor& monitor);
    ~TDiagnosticsForm() override;

    // The lamps in the order of the form: eleven from the output word, then thirteen from the input
    // word. Lamp(i) and its caption Caption(i).
    TStaticText* Lamp(int i) const { return Lamps.at(static_cast<size_t>(i)); }
    TStaticText* Caption(int i) const { return Captions.at(static_cast<size_t>(i)); }
    static const char* LampName(int i);
    // Whether word (output word for the first eleven lamps, input word after) lights lamp i.
    static bool LampLit(int i, uint32_t outputs, uint32_t inputs);

    TStaticText *CpuClockLed, *Rs232Led, *ToolLed, *PlusLimitLed, *MinusLimitLed, *PlusLimit, *MinusLimit;
    TStaticText *Dout0, *Dout1, *Dout2, *Dout3;
    TStaticText *ActRet, *Cdf0, *Cdf1, *Cdf2, *Cdf3, *Tool0, *Tool1, *Tool2, *Tool3;
    TStaticText *Din0, *Din1, *Din2, *Din3;
    TStaticText *Aout0, *Aout1, *Ain0;
    QComboBox *Dout0Function, *Dout1Function, *Dout2Function, *Dout3Function;
    QComboBox *Din0Function, *Din1Function, *Din2Function, *Din3Function;
    QComboBox *Aout0Function, *Aout1Function;
    QPushButton *OKButton, *CancelButton, *HelpButton;

    // The link dropped while the window is open: every lamp unlit (grey) and the analogue values at
    // 0.00, as the window shows them when it opens offline; the next OnIo lights them again.
    void ShowLinkLost();

    // The handler attached to the monitor's OnIo.
    void MonitorIo(TIxaMonitor& sender, int32_t inputs, int32_t outputs, double ain, double aout0,
                   double aout1);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    enum class TChannel { Din, Dout, Aout };
    struct TSelector {
        QComboBox* Box;
        TChannel Kind;
        int Index;
    };

    void BuildLamps();
    void BuildDisplays();
    void BuildSelectors();
    void FormShow();
    void FormHide();
    void ShowOffline();
    void LoadSelectors();
    void FunctionChange(const TSelector& selector, int entry);
    void OKButtonClick();
    void CancelButtonClick();
    void HelpButtonClick();
    static void SetLamp(TStaticText* lamp, bool lit);

    TIxaMonitor& Monitor;
    std::array<TStaticText*, LampCount> Lamps{};
    std::array<TStaticText*, LampCount> Captions{};
    std::array<TSelector, 10> Selectors{}; // Din0-3, Dout0-3, Aout0-1: the order of the queries
};

// The one diagnostics window, created by the main window.
extern TDiagnosticsForm* DiagnosticsForm;
