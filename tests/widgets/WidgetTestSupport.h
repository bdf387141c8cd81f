#pragma once
// Helpers for the drawing tests: the picture a control paints, and controls that count their paints.

#include <QImage>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

inline const QRgb Black = qRgb(0, 0, 0);
inline const QRgb White = qRgb(255, 255, 255);
inline const QRgb Green = qRgb(0x00, 0x80, 0x00);
inline const QRgb Silver = qRgb(0xC0, 0xC0, 0xC0);

// What the control's paint event puts on the screen, as 32-bit RGB.
inline QImage Picture(QWidget& control) {
    return control.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline QRgb Inverted(QRgb colour) {
    return qRgb(255 - qRed(colour), 255 - qGreen(colour), 255 - qBlue(colour));
}

// A control that counts its paint events; Show() puts it on screen so that repaints really paint.
template <class Control> class TCounting : public Control {
public:
    int Paints = 0;

    void Show() {
        this->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(this));
        QCoreApplication::processEvents();
        Paints = 0;
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        ++Paints;
        Control::paintEvent(event);
    }
};
