#include "toolkit/Application.h"
#include "toolkit/ScriptedDialogs.h"

#include "link/IxaInterface.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

TEST(ErrorDisplay, AppendsAFullStopOnlyAfterCharactersAboveIt) {
    struct {
        const char* Message;
        const char* Shown;
    } rows[] = {
        {"Timeout", "Timeout."},
        {"Error 3", "Error 3."},
        {"Not compatible!", "Not compatible!"}, // '!' sorts before '.'
        {"Done.", "Done."},
        {"(see log)", "(see log)"}, // ')' too
        {"a-", "a-"},
        {"a/", "a/."}, // '/' sorts after '.'
        {"", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(TApplication::ErrorDisplayText(row.Message), row.Shown) << row.Message;
}

TEST(ErrorDisplay, AnExceptionFromAHandlerIsShownAndTheProgramGoesOn) {
    TScriptedDialogsScope dialogs;
    QPushButton button("Go");
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] {
        ++clicks;
        if (clicks == 1)
            throw EIxa("Error 3");
        throw std::runtime_error("Port gone!");
    });
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);
    QTest::mouseClick(&button, Qt::LeftButton);
    ASSERT_EQ(clicks, 2);
    ASSERT_EQ(dialogs->Boxes.size(), 2u);
    EXPECT_EQ(dialogs->Boxes[0].Caption, "Korva Windows");
    EXPECT_EQ(dialogs->Boxes[0].Text, "Error 3.");
    EXPECT_EQ(dialogs->Boxes[0].Icon, TMsgIcon::Error);
    EXPECT_EQ(dialogs->Boxes[0].Buttons, TMsgButtons::Ok);
    EXPECT_EQ(dialogs->Boxes[1].Text, "Port gone!");
}

TEST(ErrorDisplay, QueuedCallsAreGuardedToo) {
    TScriptedDialogsScope dialogs;
    QMetaObject::invokeMethod(
        qApp, [] { throw EConvertError("'x' is not a valid integer value"); }, Qt::QueuedConnection);
    QCoreApplication::processEvents();
    ASSERT_EQ(dialogs->Boxes.size(), 1u);
    EXPECT_EQ(dialogs->Boxes[0].Text, "'x' is not a valid integer value.");
}

TEST(Dialogs, ShowErrorAndScriptedAnswers) {
    TScriptedDialogsScope dialogs;
    ShowError("Bad Value for force!");
    dialogs->AnswerNext(mrYes);
    EXPECT_EQ(MessageBox("Korva Windows", "Save?", TMsgButtons::YesNo), mrYes);
    EXPECT_EQ(MessageBox("Korva Windows", "Save?", TMsgButtons::YesNo), mrNo); // unscripted: the safe answer
    ASSERT_EQ(dialogs->Boxes.size(), 3u);
    EXPECT_EQ(dialogs->Boxes[0].Caption, "Korva Windows Error");
    EXPECT_EQ(dialogs->Boxes[0].Text, "Bad Value for force!"); // no full stop here
    EXPECT_EQ(dialogs->Boxes[0].Icon, TMsgIcon::None);

    TFileDialogSpec form{"", "cfg", "Configuration File|*.cfg|All Files|*.*", "", "old.cfg"};
    dialogs->AnswerNextFile("/tmp/ixa");
    ASSERT_TRUE(Dialogs().SaveFile(form));
    EXPECT_EQ(form.FileName, "/tmp/ixa.cfg");
    EXPECT_FALSE(Dialogs().OpenFile(form)); // unscripted: cancelled, name kept
    EXPECT_EQ(form.FileName, "/tmp/ixa.cfg");
    ASSERT_EQ(dialogs->Files.size(), 2u);
    EXPECT_TRUE(dialogs->Files[0].Save);
    EXPECT_EQ(dialogs->Files[0].Form.FileName, "old.cfg");
    EXPECT_EQ(QtFilter(form.Filter), "Configuration File (*.cfg);;All Files (*.*)");
}

// The program's own service: a bare name typed into the save dialog gets the default extension;
// a name with an extension keeps it.
TEST(Dialogs, TheRealSaveDialogAddsTheDefaultExtension) {
    QTemporaryDir dir;
    TQtDialogs service;
    for (const auto& [typed, chosen] : {std::pair{"ixa", "ixa.cfg"}, std::pair{"tool.txt", "tool.txt"}}) {
        SCOPED_TRACE(typed);
        TFileDialogSpec form{"Upload", "cfg", "Configuration File|*.cfg|All Files|*.*", dir.path(), ""};
        int tries = 0;
        QTimer typist; // types until the dialog takes it; gives up (cancels) after about 10 s
        QObject::connect(&typist, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QFileDialog*>(w); dialog && dialog->isVisible()) {
                    if (++tries > 500) {
                        dialog->reject();
                        continue;
                    }
                    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                    ASSERT_NE(name, nullptr);
                    name->setText(typed); // as typed (selectFile leaves a focused field alone)
                    static_cast<QDialog*>(dialog)->accept(); // as its Save button does
                }
        });
        typist.start(20);
        ASSERT_TRUE(service.SaveFile(form));
        EXPECT_GT(tries, 0);
        EXPECT_EQ(form.FileName, QDir(dir.path()).filePath(chosen));
    }
}
