#include "toolkit/Controls.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <string>

namespace {
struct TSpinnerRig {
    TSpinnerRig() {
        window.resize(100, 60);
        text = new TStaticText(&window);
        spinner = new TUpDown(&window);
        spinner->setGeometry(40, 0, 22, 22);
        spinner->SetRange(0, 15);
        spinner->SetAssociate(text);
        spinner->OnChanging = [this](bool& allow) {
            trace += "changing@" + std::to_string(spinner->Position()) + " ";
            allow = !refuse;
        };
        spinner->OnClick = [this](TUDBtnType b) {
            trace +=
                std::string(b == btNext ? "up" : "down") + "@" + std::to_string(spinner->Position()) + " ";
        };
        window.show();
    }
    QWidget window;
    TStaticText* text;
    TUpDown* spinner;
    std::string trace;
    bool refuse = false;
};
} // namespace

TEST(UpDown, ChangingRunsBeforeTheMoveAndClickAfter) {
    TSpinnerRig rig;
    QTest::mouseClick(rig.spinner->UpButton(), Qt::LeftButton);
    EXPECT_EQ(rig.trace, "changing@0 up@1 ");
    EXPECT_EQ(rig.text->text(), "1");
    rig.trace.clear();
    QTest::mouseClick(rig.spinner->DownButton(), Qt::LeftButton);
    EXPECT_EQ(rig.trace, "changing@1 down@0 ");
}

TEST(UpDown, ARefusedChangeLeavesThePositionAndRunsNoClick) {
    TSpinnerRig rig;
    rig.spinner->SetPosition(7);
    rig.refuse = true;
    QTest::mouseClick(rig.spinner->UpButton(), Qt::LeftButton);
    EXPECT_EQ(rig.trace, "changing@7 ");
    EXPECT_EQ(rig.spinner->Position(), 7);
    EXPECT_EQ(rig.text->text(), "7");
}

TEST(UpDown, PositionFromCodeAndTheEndsRunNoEvent) {
    TSpinnerRig rig;
    rig.spinner->SetPosition(15);
    rig.spinner->SetPosition(99); // clamped
    EXPECT_EQ(rig.spinner->Position(), 15);
    EXPECT_EQ(rig.text->text(), "15");
    rig.spinner->Click(btNext); // no wrap: nothing to move
    EXPECT_EQ(rig.trace, "");
    rig.spinner->SetWrap(true);
    rig.spinner->Click(btNext);
    EXPECT_EQ(rig.spinner->Position(), 0);
    EXPECT_EQ(rig.trace, "changing@15 up@0 ");
}

TEST(RadioGroup, ClickRunsOnlyForTheUser) {
    TRadioGroup group;
    group.setTitle("Operation Mode");
    group.resize(131, 80);
    group.SetItems({"Force Mode", "Position Mode", "Contour Mode"});
    std::vector<int> clicked;
    group.OnClick = [&] { clicked.push_back(group.ItemIndex()); };
    group.show();
    group.SetItemIndex(2);
    group.SetItemIndex(-1);
    EXPECT_EQ(group.ItemIndex(), -1);
    EXPECT_TRUE(clicked.empty());
    QTest::mouseClick(group.Button(1), Qt::LeftButton, {}, QPoint(5, group.Button(1)->height() / 2));
    EXPECT_EQ(clicked, std::vector<int>{1});
    // Every item lies inside the group, below its caption, without overlapping the next.
    for (int i = 0; i < group.Count(); ++i) {
        EXPECT_TRUE(group.rect().contains(group.Button(i)->geometry())) << i;
        if (i > 0) {
            EXPECT_GE(group.Button(i)->y(), group.Button(i - 1)->geometry().bottom()) << i;
        }
    }
}

TEST(Edit, KeyPressSeesEnterAndEscapeAndCanConsumeKeys) {
    QWidget window;
    auto* edit = new TEdit(&window);
    std::string keys;
    int exits = 0;
    edit->OnKeyPress = [&](char& key) {
        keys += key == 13 ? "<enter>" : key == 27 ? "<esc>" : std::string(1, key);
        if (key == 'x' || key == 13)
            key = 0; // consumed
    };
    edit->OnExit = [&] { ++exits; };
    auto* next = new TEdit(&window);
    next->move(0, 30);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    edit->setFocus();
    for (char key : {'1', 'x', '2', '\r', '\x1b'})
        edit->PressKey(key);
    EXPECT_EQ(keys, "1x2<enter><esc>");
    EXPECT_EQ(edit->text(), "12");
    next->setFocus();
    EXPECT_EQ(exits, 1);
}

TEST(Edit, OnlyAFocusMoveInsideTheWindowIsAnExit) {
    QWidget window;
    auto* edit = new TEdit(&window);
    auto* other = new TEdit(&window);
    other->move(0, 30);
    int exits = 0;
    edit->OnExit = [&] { ++exits; };
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    edit->setFocus();
    ASSERT_TRUE(edit->hasFocus());

    // The field's context menu opens (and is closed again): no exit, the focus comes back.
    QTimer::singleShot(50, [] {
        if (QWidget* menu = QApplication::activePopupWidget())
            menu->close();
    });
    QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(5, 5), edit->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(edit, &menu);
    EXPECT_EQ(exits, 0);

    // Another window takes the focus (another program, a message box): no exit.
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    EXPECT_EQ(exits, 0);
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(edit->hasFocus());

    // The focus moves to another control of the window: that is leaving the field.
    other->setFocus();
    EXPECT_EQ(exits, 1);

    // The window closes with the focus in the field: no exit.
    edit->setFocus();
    exits = 0;
    window.close();
    QCoreApplication::processEvents();
    EXPECT_EQ(exits, 0);
}

TEST(RadioGroup, ItemsLieInsideTheFrameBelowTheCaption) {
    QWidget window;
    auto* group = new TRadioGroup(&window);
    group->setTitle("Operation Mode");
    QFont bold = group->font();
    bold.setBold(true);
    group->setFont(bold);
    group->setGeometry(0, 0, 131, 80);
    group->SetItems({"Force Mode", "Position Mode", "Contour Mode"});
    window.show();
    // The frame's top line: the first row below the caption's middle with a long run of dark pixels.
    const QImage image = group->grab().toImage();
    const auto dark = [&](int x, int y) { return qGray(image.pixel(x, y)) < 200; };
    int frameTop = -1;
    for (int y = 0; y < image.height() && frameTop < 0; ++y) {
        int run = 0;
        for (int x = image.width() / 2; x < image.width() - 4; ++x)
            run = dark(x, y) || qGray(image.pixel(x, y)) < 235 ? run + 1 : 0;
        if (run >= image.width() / 2 - 8)
            frameTop = y;
    }
    ASSERT_GE(frameTop, 0);
    const qreal ratio = image.devicePixelRatio();
    for (int i = 0; i < group->Count(); ++i)
        EXPECT_GT(group->Button(i)->y() * ratio, frameTop) << i;
    EXPECT_LE(group->Button(2)->geometry().bottom(), group->height());
}
