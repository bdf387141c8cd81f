#include "maintenance/Terminal.h"

#include "toolkit/Application.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Help.h"
#include "toolkit/Layout.h"
#include "toolkit/Placement.h"
#include "toolkit/Settings.h"
#include "toolkit/Text.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>

TTerminalForm* TerminalForm = nullptr;
uint8_t LastReceived = 0;

namespace {

constexpr char Bel = 7, Bs = 8, Tab = 9, Lf = 10, Cr = 13;
constexpr int MaxLinesBeforeBreak = 17; // a line break arriving beyond this drops the oldest line
// A received line longer than this goes on on the next line. The text area lays out a whole line
// for every insert into it, so an unbounded line makes each byte dearer than the last; the
// controller's own lines (253 characters at most) never reach it.
constexpr int MaxReceivedLine = 256;
// Bytes taken from the port per idle call: a second of the line's 960 bytes/s arrives in four calls,
// and window messages are still handled between them.
constexpr int MaxBytesPerIdle = 256;

// The character a key press carries, or -1 for keys without one (arrows, Delete, function keys).
int KeyChar(const QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete)
        return -1;
    const QString text = event->text();
    if (text.size() != 1 || text.at(0).unicode() > 0xFF)
        return -1;
    return static_cast<unsigned char>(ToAnsi(text).front());
}

} // namespace

TTerminalText::TTerminalText(QWidget* parent) : QPlainTextEdit(parent) {
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(false);
}

void TTerminalText::keyPressEvent(QKeyEvent* event) {
    const int code = KeyChar(event);
    if (code < 0) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    char key = static_cast<char>(code);
    if (OnKeyPress)
        OnKeyPress(key);
    if (key != 0)
        InsertChar(key);
    event->accept();
}

void TTerminalText::Type(char key) {
    if (OnKeyPress)
        OnKeyPress(key);
    if (key != 0)
        InsertChar(key);
}

void TTerminalText::InsertChar(char c) {
    QTextCursor cursor = textCursor();
    if (c == Cr || c == Lf)
        cursor.insertBlock();
    else if (c == Bs)
        cursor.deletePreviousChar();
    else if (c == Tab || static_cast<unsigned char>(c) >= 32)
        cursor.insertText(ToQString(AnsiString(1, c)));
    else
        return; // other control characters show nothing
    setTextCursor(cursor);
    ensureCursorVisible();
}

void TCommandHistory::Load() {
    FLines.clear();
    const QString stored = FromSystemName(ReadSetting("TerminalHistory"));
    for (const QString& line : stored.split('\n', Qt::SkipEmptyParts))
        FLines.push_back(line);
    if (FLines.size() > MaxLines)
        FLines.erase(FLines.begin(), FLines.end() - MaxLines);
    FAt = FLines.size();
}

void TCommandHistory::Store() const {
    QStringList lines(FLines.begin(), FLines.end());
    WriteSetting("TerminalHistory", ToSystemName(lines.join('\n')));
}

void TCommandHistory::Add(const QString& line) {
    if (!line.isEmpty() && (FLines.empty() || FLines.back() != line)) {
        FLines.push_back(line);
        if (FLines.size() > MaxLines)
            FLines.erase(FLines.begin());
    }
    FAt = FLines.size();
    FDraft.clear();
}

QString TCommandHistory::Older(const QString& typed) {
    if (FLines.empty())
        return typed;
    if (FAt == FLines.size())
        FDraft = typed;
    if (FAt > 0)
        --FAt;
    return FLines[FAt];
}

QString TCommandHistory::Newer(const QString& typed) {
    if (FAt == FLines.size())
        return typed;
    ++FAt;
    return FAt == FLines.size() ? FDraft : FLines[FAt];
}

TCommandLine::TCommandLine(QWidget* parent) : QLineEdit(parent) {
    History.Load();
}

void TCommandLine::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
        setText(History.Older(text()));
        break;
    case Qt::Key_Down:
        setText(History.Newer(text()));
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        const QString line = text();
        History.Add(line);
        History.Store();
        clear();
        if (OnEnter)
            OnEnter(line);
        break;
    }
    default:
        QLineEdit::keyPressEvent(event);
        return;
    }
    event->accept();
}

TTerminalForm::TTerminalForm(QWidget* owner, TCommPort* port) : QDialog(owner), Port(port) {
    setWindowTitle("Korva Windows Terminal");
    SetHelpKey(this, TerminalHelpContext);
    setFont(FormFont(8));
    setFixedSize(Scale120(492), Scale120(483)); // the raw window's 455, and the command line

    TerminalText = new TTerminalText(this);
    Place(TerminalText, Scale120(10), Scale120(10), Scale120(471), Scale120(383));
    QFont mono("Liberation Mono");
    mono.setStyleHint(QFont::Monospace);
    mono.setPixelSize(Scale120(15));
    TerminalText->setFont(mono);
    QPalette palette = TerminalText->palette();
    palette.setColor(QPalette::Base, Qt::black);
    palette.setColor(QPalette::Text, QColor(0, 255, 255));
    // The selection stays visible when the text loses the focus.
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    TerminalText->setPalette(palette);
    TerminalText->OnKeyPress = [this](char& key) { TerminalTextKeyPress(key); };

    CommandLine = new TCommandLine(this);
    CommandLine->setObjectName("CommandLine");
    CommandLine->setFont(mono);
    CommandLine->setPlaceholderText("Command line: Enter sends it, Up and Down recall");
    Place(CommandLine, Scale120(10), Scale120(400), Scale120(471), Scale120(26));
    CommandLine->OnEnter = [this](const QString& line) { SendLine(line); };

    CloseButton = new QPushButton("&Close", this);
    CloseButton->setAutoDefault(false);
    Place(CloseButton, Scale120(190), Scale120(446), Scale120(92), Scale120(31));
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);

    Idle.setInterval(0);
    connect(&Idle, &QTimer::timeout, this, [this] { IdleTick(); });

    PlaceOnScreen(this);
    TerminalText->setFocus();
}

TTerminalForm::~TTerminalForm() {
    Idle.stop();
    if (TerminalForm == this)
        TerminalForm = nullptr;
}

void TTerminalForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TTerminalForm::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        FormHide();
}

void TTerminalForm::FormShow() {
    if (!Port)
        return;
    try {
        Port->PutString("\r\n");
    } catch (const ECommPort& error) {
        ShowPortError(error);
        // Queued: a dialog closed while it is still being shown would leave exec() waiting.
        QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
        return;
    }
    Idle.start();
}

void TTerminalForm::FormHide() {
    Idle.stop();
}

void TTerminalForm::TerminalIdle(bool& done) {
    done = false;
    const int waiting = Port ? Port->InQueue() : 0;
    if (waiting <= 0) {
        SleepMs(1);
        return;
    }
    AnsiString received;
    for (int i = 0; i < std::min(waiting, MaxBytesPerIdle); ++i) {
        const int b = Port->GetChar();
        if (b < 0)
            break;
        const auto byte = static_cast<uint8_t>(b);
        if (!(byte == Lf && LastReceived == Cr))
            received += static_cast<char>(byte);
        LastReceived = byte;
    }
    ShowReceived(received);
}

void TTerminalForm::ShowReceived(const AnsiString& bytes) {
    if (bytes.empty())
        return;
    // At the end of the text, wherever the operator left the caret: received text never lands in
    // the middle of older lines. Runs of plain characters go in with one insert each.
    QTextCursor end(TerminalText->document());
    end.movePosition(QTextCursor::End);
    int lineLength = end.positionInBlock();
    AnsiString run;
    const auto flush = [&] {
        if (!run.empty())
            end.insertText(ToQString(run));
        run.clear();
    };
    const auto breakLine = [&] {
        flush();
        if (TerminalText->LineCount() > MaxLinesBeforeBreak) {
            QTextCursor first(TerminalText->document());
            first.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
            first.removeSelectedText();
        }
        end.insertBlock();
        lineLength = 0;
    };
    for (const char c : bytes) {
        if (c == Bel) {
            QApplication::beep();
        } else if (c == Cr || c == Lf) {
            breakLine();
        } else if (c == Bs) {
            flush();
            end.deletePreviousChar();
            lineLength = end.positionInBlock();
        } else if (c == Tab || static_cast<unsigned char>(c) >= 32) {
            if (lineLength >= MaxReceivedLine)
                breakLine();
            run += c;
            ++lineLength;
        }
        // other control characters show nothing
    }
    flush();
    TerminalText->setTextCursor(end);
    TerminalText->ensureCursorVisible();
}

void TTerminalForm::IdleTick() {
    bool done = true;
    try {
        TerminalIdle(done);
    } catch (...) {
        // No new poll while the error is on screen, or a failing port would stack up boxes.
        Idle.stop();
        TApplication::HandleCurrentException();
        if (isVisible())
            Idle.start();
    }
    if (done)
        Idle.stop(); // a handler that keeps its done flag waits for the next showing
}

void TTerminalForm::TerminalTextKeyPress(char& key) {
    if (!Port)
        return;
    try {
        Port->PutChar(key);
        if (key == Cr)
            Port->PutChar(Lf);
    } catch (const ECommPort& error) {
        SendFailed = true;
        ShowPortError(error);
    }
    key = 0; // no local echo: the controller's echo is what shows
}

void TTerminalForm::SendLine(const QString& line) {
    // As typed into the text; a character the port refused ends the line there, with one error shown.
    SendFailed = false;
    for (const char c : ToAnsi(line) + AnsiString(1, Cr)) {
        TerminalText->Type(c);
        if (SendFailed)
            break;
    }
}

void TTerminalForm::ShowPortError(const ECommPort& error) {
    const bool polling = Idle.isActive();
    Idle.stop();
    MessageBox("Halvane Terminal Error", ToQString(error.what()), TMsgButtons::Ok, TMsgIcon::None);
    if (polling && isVisible())
        Idle.start();
}
