#include "maintenance/TrafficLog.h"

#include "toolkit/Application.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Help.h"
#include "toolkit/Layout.h"
#include "toolkit/Placement.h"
#include "toolkit/Settings.h"
#include "toolkit/Text.h"

#include <QByteArray>
#include <QDateTime>
#include <QHBoxLayout>
#include <QScrollBar>
#include <QShowEvent>
#include <QVBoxLayout>
#include <cstdio>
#include <fstream>
#include <mutex>

namespace {

const char* const PlaceKey = "TrafficLogPlace";

} // namespace

TTrafficLogForm::TTrafficLogForm(QWidget* owner, TIxaInterface& link)
    : QDialog(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      Link(link) {
    setWindowTitle("Traffic Log");
    SetHelpKey(this, TrafficLogHelpContext);
    setFont(FormFont(8));
    setModal(false);
    setAttribute(Qt::WA_QuitOnClose, false); // the program ends with its main window, open or not

    LogText = new QPlainTextEdit(this);
    LogText->setReadOnly(true);
    LogText->setLineWrapMode(QPlainTextEdit::NoWrap);
    LogText->setMaximumBlockCount(static_cast<int>(Log.Capacity()));
    LogText->setUndoRedoEnabled(false);
    QFont mono("Liberation Mono");
    mono.setStyleHint(QFont::Monospace);
    mono.setPixelSize(PointsToPixels(9));
    LogText->setFont(mono);

    HidePollingBox = new QCheckBox("&Hide polling", this);
    HidePollingBox->setToolTip("Hide the exchanges of the monitor's own polling");
    PauseButton = new QPushButton("&Pause", this);
    ClearButton = new QPushButton("C&lear", this);
    SaveButton = new QPushButton("&Save...", this);
    CloseButton = new QPushButton("&Close", this);
    StatusText = new QLabel(this);
    for (QPushButton* button : {PauseButton, ClearButton, SaveButton, CloseButton})
        button->setAutoDefault(false);

    auto* bar = new QHBoxLayout;
    bar->addWidget(HidePollingBox);
    bar->addSpacing(12);
    bar->addWidget(PauseButton);
    bar->addWidget(ClearButton);
    bar->addWidget(SaveButton);
    bar->addStretch(1);
    bar->addWidget(StatusText);
    bar->addSpacing(12);
    bar->addWidget(CloseButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LogText, 1);
    layout->addLayout(bar);

    connect(HidePollingBox, &QCheckBox::clicked, this,
            [this] { GuardedCall([this] { HidePollingBoxClick(); }); });
    connect(PauseButton, &QPushButton::clicked, this,
            [this] { GuardedCall([this] { PauseButtonClick(); }); });
    connect(ClearButton, &QPushButton::clicked, this,
            [this] { GuardedCall([this] { ClearButtonClick(); }); });
    connect(SaveButton, &QPushButton::clicked, this, [this] { GuardedCall([this] { SaveButtonClick(); }); });
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::close);
    RefreshTimer.setInterval(RefreshMs);
    connect(&RefreshTimer, &QTimer::timeout, this, [this] { GuardedCall([this] { Refresh(); }); });

    resize(PointsToPixels(560), PointsToPixels(340));
    RestorePlace(this, PlaceKey);
    ShowStatus();
}

TTrafficLogForm::~TTrafficLogForm() {
    // The link may be gone already (the main window frees it first); a visible window is only
    // hidden by the base class, which does not reach hideEvent here.
    RefreshTimer.stop();
}

void TTrafficLogForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!Listening) {
        Link.SetTrafficObserver(&Log);
        Listening = true;
        LinkSeen = Link.Connected;
        LinkSeenSince = Log.NextSequence();
    }
    Refresh();
    RefreshTimer.start();
}

void TTrafficLogForm::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (event->spontaneous())
        return; // minimised: still listening
    RefreshTimer.stop();
    if (Listening) {
        Link.SetTrafficObserver(nullptr);
        Listening = false;
    }
    SavePlace(this, PlaceKey);
}

void TTrafficLogForm::NoteLinkState() {
    if (!Listening)
        return;
    // Only between exchanges: a handshake clears the state while it runs, even on a link that is up.
    std::unique_lock lock(Link.Lock, std::try_to_lock);
    if (!lock.owns_lock())
        return; // busy: the next refresh looks again
    const bool connected = Link.Connected;
    if (connected == LinkSeen)
        return;
    TTrafficEvent event;
    event.Time = std::chrono::system_clock::now();
    event.Direction = TTrafficDirection::Link;
    event.Origin = CurrentTrafficOrigin();
    if (connected) {
        char version[32];
        std::snprintf(version, sizeof version, "%.2f", Link.Version.load());
        event.Line = "*** link regained: controller version " + AnsiString(version) + ", address " +
                     std::to_string(Link.Address.load());
    } else {
        event.Line = "*** link lost: " + LostReason();
    }
    Log.OnTraffic(event);
    LinkSeen = connected;
    LinkSeenSince = Log.NextSequence();
}

AnsiString TTrafficLogForm::LostReason() const {
    // A port that went away, or was closed, says why itself.
    if (Link.Port && !Link.Port->IsOpen()) {
        const AnsiString failure = Link.Port->OpenFailure();
        return failure.empty() ? "port closed" : failure;
    }
    // Otherwise the last exchange that failed since the link was last seen up.
    std::vector<TTrafficEvent> events;
    Log.CopySince(LinkSeenSince, events);
    for (auto event = events.rbegin(); event != events.rend(); ++event) {
        if (event->Mark == TTrafficMark::None || event->Mark == TTrafficMark::ErrorReply)
            continue;
        AnsiString reason = TrafficMarkText(event->Mark);
        if (!event->Detail.empty())
            reason += ": " + event->Detail;
        return reason;
    }
    return "the controller did not answer the handshake";
}

void TTrafficLogForm::Refresh() {
    NoteLinkState();
    std::vector<TTrafficEvent> events;
    Shown = Log.CopySince(Shown, events);
    const bool hidePolling = HidePollingBox->isChecked();
    QString text;
    int lines = 0;
    for (const TTrafficEvent& event : events) {
        if (hidePolling && HiddenWithPolling(event))
            continue;
        if (lines++ > 0)
            text += '\n';
        text += ToQString(FormatTrafficLine(event));
    }
    if (lines > 0) {
        // Follows the newest line unless the user has scrolled up to read.
        QScrollBar* bar = LogText->verticalScrollBar();
        const bool atEnd = bar->value() == bar->maximum();
        const int keep = bar->value();
        LogText->appendPlainText(text);
        bar->setValue(atEnd ? bar->maximum() : keep);
    }
    ShowStatus();
}

void TTrafficLogForm::Rebuild() {
    LogText->clear();
    Shown = 0;
    Refresh();
}

void TTrafficLogForm::ShowStatus() {
    const int lines = LogText->document()->isEmpty() ? 0 : LogText->blockCount();
    QString text = QString::number(lines) + (lines == 1 ? " line" : " lines");
    if (Log.Paused())
        text += ", paused";
    StatusText->setText(text);
}

void TTrafficLogForm::HidePollingBoxClick() {
    Rebuild();
}

void TTrafficLogForm::PauseButtonClick() {
    const bool pause = !Log.Paused();
    Log.SetPaused(pause);
    PauseButton->setText(pause ? "&Resume" : "&Pause");
    ShowStatus();
}

void TTrafficLogForm::ClearButtonClick() {
    Log.Clear();
    Rebuild();
}

void TTrafficLogForm::SaveButtonClick() {
    TFileDialogSpec dialog;
    dialog.Title = "Save Traffic Log";
    dialog.DefaultExt = "txt";
    dialog.Filter = "Text File|*.txt|All Files|*.*";
    dialog.FileName = "traffic.txt";
    if (!Dialogs().SaveFile(dialog))
        return;
    const AnsiString header = Header(); // asks the controller's name: its lines are saved too
    Refresh();                          // what is saved is what is shown, up to now
    const AnsiString text = Log.Text(HidePollingBox->isChecked(), true);
    std::ofstream out(dialog.FileName.toLocal8Bit().toStdString(), std::ios::binary | std::ios::trunc);
    if (out)
        out << header << text;
    out.close();
    if (!out)
        ShowError("Couldn't write " + dialog.FileName + ".");
}

AnsiString TTrafficLogForm::Header() {
    const QDateTime now = QDateTime::currentDateTime();
    AnsiString port = "none";
    if (Link.Port && !Link.Port->Name.empty())
        port = Link.Port->Name + (Link.Port->IsOpen() ? "" : " (not open)");
    AnsiString controller = "offline";
    if (Link.Connected) {
        char version[32];
        std::snprintf(version, sizeof version, "version %.2f", Link.Version.load());
        controller = version;
        try {
            controller = "\"" + Link.GetControllerName() + "\", " + controller;
        } catch (const std::exception&) {
            // the name is a nicety: the version says which firmware it was
        }
    }
    AnsiString header = "Korva Windows traffic log\n";
    header += "Saved:      " + ToAnsi(now.toString("yyyy-MM-dd HH:mm:ss t")) + "\n";
    header += "Port:       " + port + "\n";
    header += "Address:    " + std::to_string(Link.Address.load()) + "\n";
    header += "Controller: " + controller + "\n";
    header += AnsiString("Console:    Korva Windows ") + KORVA_VERSION_TEXT + "\n";
    if (HidePollingBox->isChecked())
        header += "Polling:    hidden\n";
    header += "\n";
    return header;
}
