#include "dialogs/DialogFrame.h"

#include "toolkit/Layout.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>
#include <limits>

void SetupDialogFrame(QDialog* dialog, const char* caption, int width, int height) {
    dialog->setWindowTitle(caption);
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    dialog->setFont(FormFont(8));
    dialog->setFixedSize(width, height);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        dialog->move(area.center() - QPoint(width / 2, height / 2));
    }
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int left, int top, int width,
                        int height, bool isDefault) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    button->setDefault(isDefault);
    button->setGeometry(left, top, width, height);
    return button;
}

TStaticText* MakeLabel(QWidget* parent, int left, int top, const char* caption, bool bold, int points) {
    return MakeText(parent, {left, top, 0, 0, caption, taLeft, bold, points});
}

TStaticText* MakeBox(QWidget* parent, int left, int top, int width, int height, const char* caption,
                     TTextAlign align) {
    return MakeText(parent, {left, top, width, height, caption, align, false, 8, true});
}

int TruncTicks(double value, double scale) {
    const double ticks = value * scale;
    if (std::isnan(ticks))
        return 0;
    const double nearest = std::round(ticks);
    const double t = std::fabs(ticks - nearest) < 1e-6 ? nearest : std::trunc(ticks);
    if (t >= std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (t <= std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(t);
}
