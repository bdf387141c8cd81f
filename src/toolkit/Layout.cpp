#include "toolkit/Layout.h"

#include "toolkit/Controls.h"

#include <QApplication>
#include <QPalette>

QColor clr::GrayText() {
    return QApplication::palette().color(QPalette::Disabled, QPalette::WindowText);
}
QColor clr::BtnFace() {
    return QApplication::palette().color(QPalette::Active, QPalette::Button);
}

int PointsToPixels(int points) {
    return (points * 96 + 36) / 72;
}

QFont FormFont(int points, bool bold) {
    QFont font;
    font.setFamilies({"Liberation Sans", "Arimo", "DejaVu Sans"});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(PointsToPixels(points));
    font.setBold(bold);
    return font;
}

void Place(QWidget* control, int left, int top, int width, int height) {
    const QSize hint = control->sizeHint();
    control->setGeometry(left, top, width > 0 ? width : hint.width(), height > 0 ? height : hint.height());
}

TStaticText* MakeText(QWidget* parent, const TTextSpec& form) {
    auto* text = new TStaticText(parent);
    text->setFont(FormFont(form.Points, form.Bold));
    text->setText(form.Caption);
    const Qt::Alignment horizontal = form.Align == taCenter  ? Qt::AlignHCenter
                                     : form.Align == taRight ? Qt::AlignRight
                                                             : Qt::AlignLeft;
    text->setAlignment(horizontal | Qt::AlignVCenter);
    text->SetSunken(form.Sunken);
    if (form.Color.isValid())
        text->SetColor(form.Color);
    if (form.FontColor.isValid())
        text->SetFontColor(form.FontColor);
    Place(text, form.Left, form.Top, form.Width, form.Height);
    return text;
}

void FitText(TStaticText* text, TTextAlign align) {
    const QRect old = text->geometry();
    const QSize hint = text->sizeHint();
    const int left = align == taRight ? old.right() + 1 - hint.width() : old.left();
    text->setGeometry(left, old.top(), hint.width(), old.height());
}
