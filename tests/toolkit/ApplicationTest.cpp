#include "toolkit/Application.h"
#include "support/ScriptedDialogs.h"

#include "link/IxaInterface.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <deque>

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
    EXPECT_EQ(dialogs->Boxes[0].Text, "Error 3: value out of range."); // in words, not a bare number
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
    // "All Files" is every file, those without an extension too.
    EXPECT_EQ(QtFilter(form.Filter), "Configuration File (*.cfg);;All Files (*)");
}

namespace {
// Answers the real file dialogs, offscreen, in turn, as a person would: once a dialog is shown
// and its name field has the keyboard, the answer is typed there and accepted; an empty one
// cancels. (Typed before that, the name loses against the file the dialog selects in its list when
// the folder has been read.) A dialog that is not ready within ReadyMs is cancelled and the test
// fails. Message boxes go to the scripted service.
class TFileDialogDriver {
public:
    static constexpr int ReadyMs = 10000;
    explicit TFileDialogDriver(std::deque<QString> answers) : Answers(std::move(answers)) {
        QObject::connect(&Timer, &QTimer::timeout, [this] { Poll(); });
        Timer.start(10);
    }
    int Shown = 0;

private:
    void Poll() {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->property("answered").toBool())
            return;
        if (dialog != Waiting) {
            Waiting = dialog;
            Since.start();
        }
        auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
        if (!dialog->isVisible() || !edit || !edit->isVisible() || !edit->hasFocus()) {
            if (Since.elapsed() < ReadyMs)
                return;
            dialog->setProperty("answered", true);
            ADD_FAILURE() << "the file dialog was not ready to type into within " << ReadyMs << " ms";
            dialog->reject();
            return;
        }
        dialog->setProperty("answered", true);
        ++Shown;
        const QString answer = Answers.empty() ? QString() : Answers.front();
        if (!Answers.empty())
            Answers.pop_front();
        if (answer.isEmpty()) {
            dialog->reject();
            return;
        }
        edit->selectAll();
        QTest::keyClicks(edit, answer);
        QMetaObject::invokeMethod(dialog, "accept"); // as the Save or Open button does
    }
    std::deque<QString> Answers;
    QPointer<QFileDialog> Waiting;
    QElapsedTimer Since;
    QTimer Timer;
};

void Touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}
} // namespace

// Saving as "ixa" asks before replacing "ixa.cfg", as "ixa.cfg" does; No goes back to the dialog.
TEST(FileDialogs, SaveAsksAboutTheFileThatWillBeWritten) {
    QTemporaryDir dir;
    const QDir folder(dir.path());
    Touch(folder.filePath("ixa.cfg"));
    TScriptedDialogsScope boxes;
    TQtDialogs qt;
    TFileDialogSpec form{"Save As", "cfg", "Configuration File|*.cfg|All Files|*.*", dir.path(), ""};
    {
        boxes->AnswerNext(mrNo);
        boxes->AnswerNext(mrYes);
        TFileDialogDriver driver({"ixa", "ixa"});
        ASSERT_TRUE(qt.SaveFile(form));
        EXPECT_EQ(driver.Shown, 2);
    }
    EXPECT_EQ(form.FileName, folder.filePath("ixa.cfg"));
    ASSERT_EQ(boxes->Boxes.size(), 2u);
    EXPECT_EQ(boxes->Boxes[0].Text, "ixa.cfg already exists.\nDo you want to replace it?");
    EXPECT_EQ(boxes->Boxes[0].Buttons, TMsgButtons::YesNo);
    {
        TFileDialogDriver driver({"new"});
        ASSERT_TRUE(qt.SaveFile(form));
    }
    EXPECT_EQ(form.FileName, folder.filePath("new.cfg"));
    EXPECT_EQ(boxes->Boxes.size(), 2u); // nothing there to replace: no question
}

// Opening "ixa" finds "ixa.cfg"; a file without an extension opens as it is named; a name that
// stands for nothing is reported and the dialog comes back.
TEST(FileDialogs, OpenTriesTheDefaultExtension) {
    QTemporaryDir dir;
    const QDir folder(dir.path());
    Touch(folder.filePath("ixa.cfg"));
    Touch(folder.filePath("notes"));
    TScriptedDialogsScope boxes;
    TQtDialogs qt;
    TFileDialogSpec form{"Open", "cfg", "Configuration File|*.cfg|All Files|*.*", dir.path(), ""};
    {
        TFileDialogDriver driver({"ixa"});
        ASSERT_TRUE(qt.OpenFile(form));
    }
    EXPECT_EQ(form.FileName, folder.filePath("ixa.cfg"));
    {
        TFileDialogDriver driver({"notes"});
        ASSERT_TRUE(qt.OpenFile(form));
    }
    EXPECT_EQ(form.FileName, folder.filePath("notes"));
    {
        TFileDialogDriver driver({"missing", ""});
        EXPECT_FALSE(qt.OpenFile(form));
        EXPECT_EQ(driver.Shown, 2);
    }
    ASSERT_EQ(boxes->Boxes.size(), 1u);
    EXPECT_TRUE(boxes->Boxes[0].Text.startsWith("missing\nFile not found."))
        << boxes->Boxes[0].Text.toStdString();
    EXPECT_EQ(form.FileName, folder.filePath("notes")); // a cancel keeps the last name
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
