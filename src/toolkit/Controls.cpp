#include "toolkit/Controls.h"

#include <QApplication>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionGroupBox>

// ---- TStaticText

TStaticText::TStaticText(QWidget* parent) : QLabel(parent) {
    // Device texts (names, tool types) must never be read as markup.
    setTextFormat(Qt::PlainText);
}

void TStaticText::SetSunken(bool sunken) {
    setFrameStyle(sunken ? (QFrame::Panel | QFrame::Sunken) : QFrame::NoFrame);
    setLineWidth(1);
}

void TStaticText::SetColor(const QColor& color) {
    FColor = color;
    ApplyPalette();
}

void TStaticText::SetFontColor(const QColor& color) {
    FFontColor = color;
    ApplyPalette();
}

void TStaticText::ApplyPalette() {
    QPalette p = palette();
    if (FColor.isValid()) {
        p.setColor(QPalette::Window, FColor);
        setAutoFillBackground(true);
    } else {
        setAutoFillBackground(false);
    }
    if (FFontColor.isValid()) {
        // The colour stays when disabled too: the status fields are shown in their own grey.
        p.setColor(QPalette::Active, QPalette::WindowText, FFontColor);
        p.setColor(QPalette::Inactive, QPalette::WindowText, FFontColor);
        p.setColor(QPalette::Disabled, QPalette::WindowText, FFontColor);
    }
    setPalette(p);
}

void TStaticText::SetShrinkToFit(bool shrink) {
    FShrink = shrink;
    update();
}

void TStaticText::paintEvent(QPaintEvent* event) {
    const QRect room = contentsRect().adjusted(1, 0, -1, 0);
    if (!FShrink || fontMetrics().horizontalAdvance(text()) <= room.width()) {
        QLabel::paintEvent(event);
        return;
    }
    QFrame::paintEvent(event);
    QFont f = font();
    int pixels = f.pixelSize() > 0 ? f.pixelSize() : QFontInfo(f).pixelSize();
    do {
        f.setPixelSize(--pixels);
    } while (pixels > 8 && QFontMetrics(f).horizontalAdvance(text()) > room.width());
    QPainter p(this);
    p.setFont(f);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(room, static_cast<int>(alignment()) | Qt::TextSingleLine, text());
}

void TStaticText::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (OnClick && rect().contains(event->position().toPoint()))
        OnClick();
}

// ---- TUpDown

TUpDown::TUpDown(QWidget* parent) : QWidget(parent), Up(new QToolButton(this)), Down(new QToolButton(this)) {
    Up->setArrowType(Qt::UpArrow);
    Down->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {Up, Down}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
    }
    connect(Up, &QToolButton::clicked, this, [this] { Click(btNext); });
    connect(Down, &QToolButton::clicked, this, [this] { Click(btPrev); });
}

void TUpDown::SetRange(int minimum, int maximum) {
    FMin = minimum;
    FMax = maximum;
    SetPosition(FPosition);
}

void TUpDown::SetPosition(int value) {
    FPosition = std::clamp(value, FMin, std::max(FMin, FMax));
    ShowPosition();
}

void TUpDown::SetAssociate(TStaticText* text) {
    FAssociate = text;
    ShowPosition();
}

void TUpDown::ShowPosition() {
    if (FAssociate)
        FAssociate->setText(QString::number(FPosition));
}

void TUpDown::Click(TUDBtnType button) {
    int next = FPosition + (button == btNext ? 1 : -1);
    if (next > FMax)
        next = FWrap ? FMin : FMax;
    if (next < FMin)
        next = FWrap ? FMax : FMin;
    if (next == FPosition)
        return;
    bool allow = true;
    if (OnChanging)
        OnChanging(allow);
    if (!allow)
        return;
    FPosition = next;
    ShowPosition();
    if (OnClick)
        OnClick(button);
}

void TUpDown::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int half = height() / 2;
    Up->setGeometry(0, 0, width(), half);
    Down->setGeometry(0, half, width(), height() - half);
}

// ---- TRadioGroup

TRadioGroup::TRadioGroup(QWidget* parent) : QGroupBox(parent), Group(new QButtonGroup(this)) {
    connect(Group, &QButtonGroup::idClicked, this, [this](int) {
        if (OnClick)
            OnClick();
    });
}

void TRadioGroup::SetItems(const QStringList& items) {
    for (QAbstractButton* b : Buttons)
        delete b;
    Buttons.clear();
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        b->setFont(font());
        Group->addButton(b, i);
        Buttons.push_back(b);
        b->show();
    }
    LayOut();
}

int TRadioGroup::ItemIndex() const {
    return Group->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    if (index >= 0 && index < Count()) {
        Buttons[static_cast<size_t>(index)]->setChecked(true);
        return;
    }
    if (QAbstractButton* checked = Group->checkedButton()) {
        Group->setExclusive(false);
        checked->setChecked(false);
        Group->setExclusive(true);
    }
}

void TRadioGroup::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    LayOut();
}

void TRadioGroup::LayOut() {
    if (Buttons.empty())
        return;
    // Items share the room inside the frame, below the caption, evenly, like the classic radio group;
    // the style says where that room is, so no item lies on the frame's line.
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    const QRect room =
        style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxContents, this);
    const int each = room.height() / Count();
    for (int i = 0; i < Count(); ++i)
        Buttons[static_cast<size_t>(i)]->setGeometry(room.left() + 6, room.top() + i * each, room.width() - 8,
                                                     each);
}

// ---- TEdit

TEdit::TEdit(QWidget* parent) : QLineEdit(parent) {}

void TEdit::keyPressEvent(QKeyEvent* event) {
    char key = 0;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        key = 13;
        break;
    case Qt::Key_Escape:
        key = 27;
        break;
    case Qt::Key_Backspace:
        key = 8;
        break;
    default: {
        const QString text = event->text();
        if (text.size() == 1 && text[0].unicode() >= 32 && text[0].unicode() < 256)
            key = static_cast<char>(text[0].unicode());
    }
    }
    if (key != 0 && OnKeyPress) {
        OnKeyPress(key);
        if (key == 0) {
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // Only a move of the focus to another control of the same window leaves the field: the window
    // losing the focus (to another program or a message box, or as it closes) and the field's own
    // context menu do not.
    const QWidget* now = QApplication::focusWidget();
    const bool within =
        event->reason() != Qt::PopupFocusReason && now && now != this && now->window() == window();
    if (within && OnExit)
        OnExit();
}

void TEdit::PressKey(char key) {
    int code = Qt::Key_unknown;
    QString text;
    switch (key) {
    case 13:
        code = Qt::Key_Return;
        text = "\r";
        break;
    case 27:
        code = Qt::Key_Escape;
        text = QString(QChar(27));
        break;
    case 8:
        code = Qt::Key_Backspace;
        text = QString(QChar(8));
        break;
    default:
        text = QString(QChar(static_cast<unsigned char>(key)));
    }
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
    QCoreApplication::sendEvent(this, &press);
}

// ---- TBevel, TLineShape

TBevel::TBevel(QWidget* parent, bool raised) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | (raised ? QFrame::Raised : QFrame::Sunken));
    setLineWidth(1);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

TLineShape::TLineShape(QWidget* parent) : QWidget(parent) {}

void TLineShape::SetPenColor(const QColor& color) {
    if (FPen == color)
        return;
    FPen = color;
    update();
}

void TLineShape::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(0, 0, width(), 1, FPen);
}
