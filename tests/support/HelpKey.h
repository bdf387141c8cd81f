#pragma once
// F1 in a window of the program: exactly one help request, for the window's own topic (the help
// document's tests check that every such topic has its page).

#include "toolkit/Help.h"

#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

inline void ExpectF1AsksFor(QWidget* window, long context) {
    THelpRecorderScope help;
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QWidget* focus = window->focusWidget();
    QTest::keyClick(focus ? focus : window, Qt::Key_F1);
    ASSERT_EQ(help.Requests.size(), 1u) << window->windowTitle().toStdString();
    EXPECT_EQ(help.Requests[0].Command, HELP_CONTEXT);
    EXPECT_EQ(help.Requests[0].Data, context) << window->windowTitle().toStdString();
}
