#include "maintenance/Diagnostics.h"

#include "toolkit/Application.h"
#include "toolkit/Controls.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Help.h"
#include "toolkit/Layout.h"
#include "toolkit/Placement.h"
#include "toolkit/Text.h"

#include <QFrame>
#include <QShowEvent>

TDiagnosticsForm* DiagnosticsForm = nullptr;

namespace {

struct TLampSpec {
    const char* Name;
    const char* Caption;
    int Top;
    uint32_t Mask; // in the output word for the first eleven lamps, the input word after
};

// The minus-limit captions carry two blanks after the sign. Output bits 5-7 and 14-31 and input
// bits 13-31 have no lamp.
constexpr TLampSpec LampTable[TDiagnosticsForm::LampCount] = {
    {"CpuClockLed", "CPU CLOCK", 71, 0x0001},
    {"Rs232Led", "RS232", 87, 0x0002},
    {"ToolLed", "TOOL", 103, 0x0004},
    {"PlusLimitLed", "+ LIMIT", 118, 0x0008},
    {"MinusLimitLed", "-  LIMIT", 135, 0x0010},
    {"PlusLimit", "+ LIMIT", 166, 0x0100},
    {"MinusLimit", "-  LIMIT", 182, 0x0200},
    {"Dout0", "DOUT0", 198, 0x0400},
    {"Dout1", "DOUT1", 214, 0x0800},
    {"Dout2", "DOUT2", 230, 0x1000},
    {"Dout3", "DOUT3", 246, 0x2000},
    {"ActRet", "ACT/RET", 279, 0x0001},
    {"Cdf0", "CDF0", 295, 0x0002},
    {"Cdf1", "CDF1", 311, 0x0004},
    {"Cdf2", "CDF2", 327, 0x0008},
    {"Cdf3", "CDF3", 343, 0x0010},
    {"Tool0", "TOOL0", 359, 0x0020},
    {"Tool1", "TOOL1", 375, 0x0040},
    {"Tool2", "TOOL2", 391, 0x0080},
    {"Tool3", "TOOL3", 407, 0x0100},
    {"Din0", "DIN0", 423, 0x0200},
    {"Din1", "DIN1", 439, 0x0400},
    {"Din2", "DIN2", 455, 0x0800},
    {"Din3", "DIN3", 471, 0x1000},
};
constexpr int FirstToolLabel = 16, LastToolLabel = 19; // TOOL0-TOOL3 stand one pixel further left

const QColor LampLitColor(0x00, 0xFF, 0x00);
const QColor LampUnlitColor(0x80, 0x80, 0x80);

// Every position of this form is laid out at 120 dpi.
int S(int v) {
    return Scale120(v);
}
void Place120(QWidget* w, int left, int top, int width, int height) {
    Place(w, S(left), S(top), S(width), S(height));
}

TStaticText* MakeLabel(QWidget* parent, const char* caption, int left, int top, const QFont& font,
                       const QColor& background = QColor()) {
    auto* text = new TStaticText(parent);
    text->setText(caption);
    text->setFont(font);
    if (background.isValid())
        text->SetColor(background);
    text->adjustSize();
    text->move(S(left), S(top));
    return text;
}

} // namespace

TDiagnosticsForm::TDiagnosticsForm(QWidget* owner, TIxaMonitor& monitor)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      Monitor(monitor) {
    setWindowTitle("IXA Diagnostics");
    setFont(FormFont(8));
    setFixedSize(S(553), S(591));
    setModal(false);

    BuildLamps();
    BuildDisplays();
    BuildSelectors();

    OKButton = new QPushButton("OK", this);
    CancelButton = new QPushButton("Cancel", this);
    HelpButton = new QPushButton("&Help", this);
    Place120(OKButton, 420, 268, 92, 31);
    Place120(CancelButton, 420, 309, 92, 31);
    Place120(HelpButton, 420, 348, 92, 31);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
    connect(HelpButton, &QPushButton::clicked, this, [this] { HelpButtonClick(); });

    PlaceOnScreen(this);
}

TDiagnosticsForm::~TDiagnosticsForm() {
    // The monitor may be gone already (the main window ends it first): leave its slot alone.
    if (DiagnosticsForm == this)
        DiagnosticsForm = nullptr;
}

void TDiagnosticsForm::BuildLamps() {
    auto* shape = new QFrame(this);
    shape->setObjectName("Shape1");
    shape->setStyleSheet("#Shape1 { background: white; border: 1px solid black; border-radius: 8px; }");
    Place120(shape, 17, 9, 176, 571);

    // The logo: the maker's name on a dark plate.
    auto* logo = new TStaticText(this);
    logo->setText("HALVANE");
    logo->setAlignment(Qt::AlignCenter);
    QFont logoFont = FormFont(8, true);
    logoFont.setLetterSpacing(QFont::AbsoluteSpacing, 2);
    logo->setFont(logoFont);
    logo->SetColor(QColor(0, 0, 128));
    logo->SetFontColor(clr::White);
    Place120(logo, 30, 16, 152, 21);

    // The small captions are kept at 7 px rather than scaled down, so that they stay legible.
    QFont small = FormFont(8);
    small.setPixelSize(7);
    MakeLabel(this, "IXA90 Controller", 47, 38, small, clr::White);

    for (int i = 0; i < LampCount; ++i) {
        const TLampSpec& row = LampTable[i];
        auto* lamp = new TStaticText(this);
        lamp->setObjectName(row.Name);
        lamp->setFrameStyle(QFrame::Box | QFrame::Plain);
        lamp->setLineWidth(1);
        Place120(lamp, 59, row.Top, 16, 16);
        SetLamp(lamp, false);
        Lamps[static_cast<size_t>(i)] = lamp;
        const int left = i >= FirstToolLabel && i <= LastToolLabel ? 81 : 82;
        auto* caption = MakeLabel(this, row.Caption, left, row.Top + 1, small, clr::White);
        caption->SetFontColor(clr::Black);
        Captions[static_cast<size_t>(i)] = caption;
    }
    TStaticText** named[LampCount] = {
        &CpuClockLed, &Rs232Led, &ToolLed, &PlusLimitLed, &MinusLimitLed, &PlusLimit, &MinusLimit, &Dout0,
        &Dout1,       &Dout2,    &Dout3,   &ActRet,       &Cdf0,          &Cdf1,      &Cdf2,       &Cdf3,
        &Tool0,       &Tool1,    &Tool2,   &Tool3,        &Din0,          &Din1,      &Din2,       &Din3};
    for (int i = 0; i < LampCount; ++i)
        *named[i] = Lamps[static_cast<size_t>(i)];
}

void TDiagnosticsForm::BuildDisplays() {
    QFont valueFont = FormFont(8);
    valueFont.setPixelSize(S(15));
    const struct {
        TStaticText** Display;
        int Left, Top;
        const char* Caption;
        int CaptionLeft, CaptionTop;
    } displays[] = {
        {&Aout0, 60, 502, "AOUT0", 110, 505},
        {&Aout1, 60, 524, "AOUT1", 108, 527},
        {&Ain0, 59, 546, "AIN0", 108, 548},
    };
    for (const auto& d : displays) {
        auto* text = new TStaticText(this);
        text->setAlignment(Qt::AlignCenter);
        text->SetSunken(true);
        text->SetColor(clr::Olive);
        text->setFont(valueFont);
        text->setText("0.00");
        Place120(text, d.Left, d.Top, 43, 21);
        *d.Display = text;
        MakeLabel(this, d.Caption, d.CaptionLeft, d.CaptionTop, font(), clr::White);
    }
}

void TDiagnosticsForm::BuildSelectors() {
    auto* bevel1 = new TBevel(this);
    auto* bevel2 = new TBevel(this);
    auto* bevel3 = new TBevel(this);
    Place120(bevel1, 209, 14, 164, 241);
    Place120(bevel2, 377, 14, 167, 241);
    Place120(bevel3, 209, 261, 164, 125);
    const struct {
        QComboBox** Box;
        TChannel Kind;
        int Index;
        const char* Caption;
        int Left, Top, LabelTop;
    } selectors[] = {
        {&Din0Function, TChannel::Din, 0, "DIN0 Function", 386, 41, 22},
        {&Din1Function, TChannel::Din, 1, "DIN1 Function", 386, 95, 75},
        {&Din2Function, TChannel::Din, 2, "DIN2 Function", 386, 153, 133},
        {&Din3Function, TChannel::Din, 3, "DIN3 Function", 386, 214, 194},
        {&Dout0Function, TChannel::Dout, 0, "DOUT0 Function", 218, 41, 22},
        {&Dout1Function, TChannel::Dout, 1, "DOUT1 Function", 217, 95, 75},
        {&Dout2Function, TChannel::Dout, 2, "DOUT2 Function", 217, 153, 133},
        {&Dout3Function, TChannel::Dout, 3, "DOUT3 Function", 217, 214, 194},
        {&Aout0Function, TChannel::Aout, 0, "AOUT0 Function", 217, 289, 271},
        {&Aout1Function, TChannel::Aout, 1, "AOUT1 Function", 219, 346, 326},
    };
    size_t n = 0;
    for (const auto& s : selectors) {
        MakeLabel(this, s.Caption, s.Left, s.LabelTop, font());
        auto* box = new QComboBox(this);
        box->setEditable(false);
        Place120(box, s.Left, s.Top, 149, 24);
        *s.Box = box;
        Selectors[n] = {box, s.Kind, s.Index};
        const TSelector& selector = Selectors[n++];
        // activated: only the operator's pick sends; selecting from the program does not.
        connect(box, &QComboBox::activated, this,
                [this, &selector](int entry) { GuardedCall([&] { FunctionChange(selector, entry); }); });
    }
}

const char* TDiagnosticsForm::LampName(int i) {
    return LampTable[i].Name;
}

bool TDiagnosticsForm::LampLit(int i, uint32_t outputs, uint32_t inputs) {
    return ((i < OutputLampCount ? outputs : inputs) & LampTable[i].Mask) != 0;
}

void TDiagnosticsForm::SetLamp(TStaticText* lamp, bool lit) {
    lamp->SetColor(lit ? LampLitColor : LampUnlitColor);
}

void TDiagnosticsForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) // a window restored from the task bar was visible all along
        FormShow();
}

void TDiagnosticsForm::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        FormHide();
}

void TDiagnosticsForm::FormShow() {
    if (Monitor.Online) {
        try {
            LoadSelectors();
        } catch (const EIxa& error) {
            ShowError(ToQString(error.Message));
        } catch (...) {
            // Not the window's to handle; this showing then stays without refresh.
            TApplication::HandleCurrentException();
            return;
        }
    } else {
        ShowOffline();
    }
    Monitor.OnIo = [this](TIxaMonitor& sender, int32_t inputs, int32_t outputs, double ain, double aout0,
                          double aout1) { MonitorIo(sender, inputs, outputs, ain, aout0, aout1); };
}

void TDiagnosticsForm::FormHide() {
    Monitor.OnIo = nullptr; // stops the monitor's I/O queries
}

void TDiagnosticsForm::LoadSelectors() {
    TIxaInterface& link = Monitor.Link;
    TStringList din, dout, aout;
    {
        // The monitor's handshake refills the lists under the lock.
        TLinkLock lock(link);
        din = link.DinFunctionNames;
        dout = link.DoutFunctionNames;
        aout = link.AoutFunctionNames;
    }
    auto entries = [](const TStringList& names) {
        QStringList list;
        for (const auto& name : names)
            list << ToQString(name);
        return list;
    };
    const QStringList names[] = {entries(din), entries(dout), entries(aout)};
    for (const TSelector& s : Selectors) {
        s.Box->clear();
        s.Box->addItems(names[static_cast<int>(s.Kind)]);
        // Nothing selected until the controller has said: a failed load leaves the rest unselected.
        s.Box->setCurrentIndex(-1);
    }
    for (const TSelector& s : Selectors) {
        const int function = s.Kind == TChannel::Din    ? link.GetDinFunction(s.Index)
                             : s.Kind == TChannel::Dout ? link.GetDoutFunction(s.Index)
                                                        : link.GetAoutFunction(s.Index);
        // A function the list has no entry for shows as no selection.
        s.Box->setCurrentIndex(function >= 0 && function < s.Box->count() ? function : -1);
    }
}

void TDiagnosticsForm::ShowLinkLost() {
    for (TStaticText* lamp : Lamps)
        SetLamp(lamp, false);
    for (TStaticText* value : {Aout0, Aout1, Ain0})
        value->setText("0.00");
}

void TDiagnosticsForm::ShowOffline() {
    ShowLinkLost();
    Aout0Function->clear();
    Aout1Function->clear();
}

void TDiagnosticsForm::MonitorIo(TIxaMonitor&, int32_t inputs, int32_t outputs, double ain, double aout0,
                                 double aout1) {
    for (int i = 0; i < LampCount; ++i)
        SetLamp(Lamps[static_cast<size_t>(i)],
                LampLit(i, static_cast<uint32_t>(outputs), static_cast<uint32_t>(inputs)));
    Aout0->setText(FormatFloat("0.00", aout0));
    Aout1->setText(FormatFloat("0.00", aout1));
    Ain0->setText(FormatFloat("0.00", ain));
}

void TDiagnosticsForm::FunctionChange(const TSelector& selector, int entry) {
    TIxaInterface& link = Monitor.Link;
    if (!Monitor.Online || link.Version < 4.0)
        return;
    switch (selector.Kind) {
    case TChannel::Din:
        link.SetDinFunction(selector.Index, entry);
        break;
    case TChannel::Dout:
        link.SetDoutFunction(selector.Index, entry);
        break;
    case TChannel::Aout:
        link.SetAoutFunction(selector.Index, entry);
        break;
    }
}

void TDiagnosticsForm::OKButtonClick() {
    TIxaInterface& link = Monitor.Link;
    if (link.Port && link.Port->Opened) {
        try {
            link.SaveConfiguration(false);
        } catch (const std::exception& error) {
            // A save that failed must not pass for done; the window closes all the same.
            ShowError(ToQString(error.what()));
        }
    }
    accept();
}

void TDiagnosticsForm::CancelButtonClick() {
    reject();
}

void TDiagnosticsForm::HelpButtonClick() {
    HelpRequest(HELP_CONTEXT, 302);
}
