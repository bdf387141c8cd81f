#pragma once
// F1 in a window of the program: exactly one help request, for the window's own topic (the help
// document's tests check that every such topic has its page).

#include "toolkit/Help.h"

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

// Makes window the active one and presses the key as the system delivers it, shortcuts first.
inline void PressInWindow(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == window; }, 5000))
        << window->windowTitle().toStdString();
    QTest::keyClick(window->windowHandle(), key, modifiers);
}

inline void ExpectF1AsksFor(QWidget* window, long context) {
    THelpRecorderScope help;
    PressInWindow(window, Qt::Key_F1);
    ASSERT_EQ(help.Requests.size(), 1u) << window->windowTitle().toStdString();
    EXPECT_EQ(help.Requests[0].Command, HELP_CONTEXT);
    EXPECT_EQ(help.Requests[0].Data, context) << window->windowTitle().toStdString();
}
