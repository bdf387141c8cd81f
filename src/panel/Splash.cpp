#include "panel/Splash.h"

#include "panel/Panel.h"
#include "toolkit/Layout.h"
#include "toolkit/Placement.h"

#include <QEventLoop>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

QPixmap ProgramIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A gauge column beside a carriage arrow: what the panel shows.
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(size * 0.12, size * 0.08, size * 0.28, size * 0.84));
    p.setBrush(clr::Green);
    p.drawRect(QRectF(size * 0.12, size * 0.45, size * 0.28, size * 0.47));
    QPainterPath arrow;
    arrow.moveTo(size * 0.55, size * 0.25);
    arrow.lineTo(size * 0.88, size * 0.5);
    arrow.lineTo(size * 0.55, size * 0.75);
    arrow.closeSubpath();
    p.setBrush(QColor(0, 0, 128));
    p.drawPath(arrow);
    return pixmap;
}

QPixmap MakerLogo(int width, int height) {
    QPixmap pixmap(width, height);
    pixmap.fill(QColor(0, 0, 128));
    QPainter p(&pixmap);
    p.setPen(Qt::white);
    QFont font = FormFont(8, true);
    font.setPixelSize(height * 2 / 3);
    font.setLetterSpacing(QFont::AbsoluteSpacing, height / 5.0);
    p.setFont(font);
    p.drawText(pixmap.rect(), Qt::AlignCenter, "HALVANE");
    return pixmap;
}

TSplashForm::TSplashForm(QWidget* owner)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(Scale120(464), Scale120(239));
    setFont(FormFont(8));
    auto* outer = new TBevel(this, true);
    outer->setGeometry(rect());
    auto* inner = new TBevel(this);
    inner->setGeometry(rect().adjusted(Scale120(8), Scale120(8), -Scale120(8), -Scale120(8)));

    const int iconSize = Scale120(48);
    IconImage = new QLabel(this);
    IconImage->setPixmap(ProgramIcon(iconSize));
    IconImage->setGeometry(Scale120(24), Scale120(20), iconSize, iconSize);

    const auto text = [this](int left, int top, int width, const char* caption, bool bold, int pixels) {
        auto* t = new TStaticText(this);
        QFont f = FormFont(8, bold);
        f.setPixelSize(pixels);
        t->setFont(f);
        t->setText(caption);
        t->setGeometry(Scale120(left), Scale120(top), Scale120(width), pixels + 4);
        return t;
    };
    StaticText1 = text(88, 24, 340, "Korva Windows Control Panel", true, 17);
    VersionText = text(88, 52, 340, "Version 3.1", true, 17);
    VersionText->setText(QString("Version ") + TKorvaControlPanel::VersionText);

    LogoImage = new QLabel(this);
    LogoImage->setScaledContents(true);
    LogoImage->setPixmap(MakerLogo(Scale120(414), Scale120(41)));
    LogoImage->setGeometry(Scale120(25), Scale120(94), Scale120(414), Scale120(41));

    StaticText5 = text(25, 146, 414, "Halvane Force Control Systems", false, 11);
    CopyrightText = text(25, 172, 414, "Copyright \u00a9 Halvane. All rights reserved.", true, 11);
    StaticText4 = text(25, 192, 414, "This program is protected by copyright law.", true, 11);
    for (TStaticText* t : {StaticText5, CopyrightText, StaticText4})
        t->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);

    PlaceOnScreen(this);
}

void TSplashForm::ShowFor(unsigned ms) {
    show();
    repaint();
    // Only painting goes on meanwhile: the splash takes no input and nothing else has started. The
    // loop sleeps until an event or the timer comes.
    QEventLoop wait;
    QTimer::singleShot(static_cast<int>(ms), &wait, &QEventLoop::quit);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    hide();
}
