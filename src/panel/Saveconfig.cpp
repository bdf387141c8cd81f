// The saving busy window and the form it shares with the download busy window.

#include "panel/Saveconfig.h"

#include "toolkit/Controls.h"
#include "toolkit/Layout.h"
#include "toolkit/Placement.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWindow>

namespace {
constexpr int BevelInset = 8;
} // namespace

TSavingConfig::TSavingConfig(QWidget* owner) : TSavingConfig(owner, 256, 58, 19, "Saving Configuration...") {}

TSavingConfig::TSavingConfig(QWidget* owner, int clientWidth, int clientHeight, int fontPixels,
                             const QString& text)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint) {
    setModal(false);
    // It takes no input, so it leaves the focus (an open editor) where it is.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(clientWidth, clientHeight);
    OuterBevel = new TBevel(this, true);
    OuterBevel->setGeometry(0, 0, clientWidth, clientHeight);
    InnerBevel = new TBevel(this, false);
    InnerBevel->setGeometry(BevelInset, BevelInset, clientWidth - 2 * BevelInset,
                            clientHeight - 2 * BevelInset);
    Message = new TStaticText(this);
    QFont font = FormFont(8, true);
    font.setPixelSize(fontPixels);
    Message->setFont(font);
    Message->setText(text);
    Message->setAlignment(Qt::AlignCenter);
    Message->setGeometry(InnerBevel->geometry().adjusted(2, 2, -2, -2));
    PlaceOnScreen(this);
}

void TSavingConfig::ShowAndPaint() {
    show();
    // A new window is painted only once the window system has exposed it; what follows blocks the
    // event loop, so wait for that briefly (user input stays queued) and paint now.
    QElapsedTimer waited;
    waited.start();
    while (windowHandle() && !windowHandle()->isExposed() && waited.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    repaint();
}

void TSavingConfig::ShowProgress(const QString& text) {
    if (!Progress) {
        constexpr int lineHeight = 18;
        const QRect inner = InnerBevel->geometry();
        setFixedSize(width(), height() + lineHeight);
        OuterBevel->setGeometry(0, 0, width(), height());
        InnerBevel->setGeometry(inner.adjusted(0, 0, 0, lineHeight));
        Progress = new TStaticText(this);
        Progress->setObjectName("Progress");
        Progress->setFont(FormFont(8));
        Progress->setAlignment(Qt::AlignCenter);
        Progress->setGeometry(inner.left() + 2, inner.bottom() - 4, inner.width() - 4, lineHeight);
        Progress->show();
        PlaceOnScreen(this);
    }
    Progress->setText(text);
    if (isVisible())
        repaint();
}
