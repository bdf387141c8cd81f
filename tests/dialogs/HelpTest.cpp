// The help document as installed beside the program, and the help viewer over it.
#include "toolkit/Help.h"
#include "toolkit/Application.h"
#include "toolkit/HelpViewer.h"

#include "support/HelpKey.h"
#include "toolkit/Dialogs.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {
const QString HelpIndex = QString(KORVA_HELP_DIR) + "/KorvaWIN.HLP";

struct TTopicCase {
    long Context;
    const char* Window;  // the caption of the window it explains
    const char* Control; // one control it must explain
};
const TTopicCase ContextTopics[] = {
    {201, "Position Limit Setup", "Negative Limit"},
    {202, "Contour Mode Setup", "Position (% Extended)"},
    {203, "Force Level Setup", "Bad Value for force!"},
    {204, "IXA90 Interface Setup", "Network Address"},
    {302, "Diagnostics", "AOUT0"},
    {303, "Korva Windows Options", "Display Units"},
    // The windows without a Help button, reached with F1.
    {TerminalHelpContext, "Korva Windows Terminal", "Command line"},
    {TrendHelpContext, "Trend", "Export PNG..."},
    {TrafficLogHelpContext, "Traffic Log", "Hide polling"},
    {NetworkHelpContext, "Network", "(panel)"},
    {CompareHelpContext, "Compare Configuration", "Show differences only"},
    {BackupHelpContext, "Back Up Controller", "Open Backup Folder"},
    {BusOverviewHelpContext, "Bus Overview", "Double-click"},
};

QString BrowserText(const THelpViewer& viewer) {
    return viewer.Browser->toPlainText();
}
} // namespace

TEST(HelpDocument, HasATopicForEveryContextNumber) {
    THelpDocument document;
    ASSERT_TRUE(document.Load(HelpIndex)) << document.Error.toStdString();
    for (const TTopicCase& c : ContextTopics) {
        const THelpTopic* topic = document.Find(QString::number(c.Context));
        ASSERT_NE(topic, nullptr) << c.Context;
        EXPECT_TRUE(QFile::exists(topic->Page)) << c.Context;
        EXPECT_TRUE(topic->Text.contains(c.Window)) << c.Context;
        EXPECT_TRUE(topic->Text.contains(c.Control)) << c.Context;
    }
    ASSERT_NE(document.Find("contents"), nullptr);
    ASSERT_NE(document.Find("helponhelp"), nullptr);
}

TEST(HelpDocument, EveryLinkLeadsToATopicAndTheContentsReachesAll) {
    THelpDocument document;
    ASSERT_TRUE(document.Load(HelpIndex));
    QStringList pages;
    for (const THelpTopic& topic : document.Topics)
        pages << QFileInfo(topic.Page).fileName();
    const QRegularExpression href("href=\"([^\"]+)\"");
    for (const THelpTopic& topic : document.Topics) {
        QFile file(topic.Page);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << topic.Page.toStdString();
        const QString html = QString::fromUtf8(file.readAll());
        QStringList linked;
        for (const auto& match : href.globalMatch(html)) {
            EXPECT_TRUE(pages.contains(match.captured(1)))
                << topic.Page.toStdString() << " links to " << match.captured(1).toStdString();
            linked << match.captured(1);
        }
        if (topic.Key != "contents")
            continue;
        for (const QString& page : pages) {
            if (page != "contents.html") {
                EXPECT_TRUE(linked.contains(page)) << "contents misses " << page.toStdString();
            }
        }
    }
}

TEST(HelpDocument, SearchFindsTopicsHoldingAllWords) {
    THelpDocument document;
    ASSERT_TRUE(document.Load(HelpIndex));
    const auto keys = [&](const QString& words) {
        QStringList found;
        for (const THelpTopic* topic : document.Search(words))
            found << topic->Key;
        return found;
    };
    EXPECT_TRUE(keys("").isEmpty());
    EXPECT_TRUE(keys("   ").isEmpty());
    EXPECT_TRUE(keys("CDF0 dialout").isEmpty());
    EXPECT_TRUE(keys("cdf0").contains("203"));
    EXPECT_TRUE(keys("DIALOUT").contains("303"));
    EXPECT_FALSE(keys("dialout").contains("203"));
}

TEST(HelpDocument, FoundBesideTheProgramOrInItsHelpFolder) {
    QTemporaryDir folder;
    const QString programFile = QDir(folder.path()).filePath("KorvaWIN.HLP");
    EXPECT_TRUE(THelpDocument::ResolveIndex(programFile).isEmpty());
    ASSERT_TRUE(QDir(folder.path()).mkdir("help"));
    ASSERT_TRUE(QFile::copy(HelpIndex, QDir(folder.path()).filePath("help/KorvaWIN.HLP")));
    EXPECT_EQ(THelpDocument::ResolveIndex(programFile), QDir(folder.path()).filePath("help/KorvaWIN.HLP"));
    QFile own(programFile);
    ASSERT_TRUE(own.open(QIODevice::WriteOnly));
    own.write("# no topics\n");
    own.close();
    EXPECT_EQ(THelpDocument::ResolveIndex(programFile), programFile); // the file itself comes first
    THelpDocument document;
    EXPECT_FALSE(document.Load(programFile));
    EXPECT_TRUE(document.Error.contains("lists no topics"));
}

TEST(HelpDocument, FoundWhereThePackageInstallsIt) {
    // <prefix>/bin/korva-console reads <prefix>/share/korva/help/KorvaWIN.HLP.
    QTemporaryDir prefix;
    QDir root(prefix.path());
    ASSERT_TRUE(root.mkpath("bin") && root.mkpath("share/korva/help"));
    const QString programFile = root.filePath("bin/KorvaWIN.HLP");
    EXPECT_TRUE(THelpDocument::ResolveIndex(programFile).isEmpty());
    ASSERT_TRUE(QFile::copy(HelpIndex, root.filePath("share/korva/help/KorvaWIN.HLP")));
    EXPECT_EQ(QFileInfo(THelpDocument::ResolveIndex(programFile)).canonicalFilePath(),
              QFileInfo(root.filePath("share/korva/help/KorvaWIN.HLP")).canonicalFilePath());
}

TEST(HelpViewer, OpensTheRequestedPage) {
    THelpViewer viewer;
    const struct {
        unsigned Command;
        long Data;
        const char* Key;
    } cases[] = {
        {HELP_CONTEXT, 201, "201"},         {HELP_CONTEXT, 303, "303"}, {HELP_INDEX, 0, "contents"},
        {HELP_HELPONHELP, 0, "helponhelp"}, {HELP_CONTEXT, 302, "302"},
    };
    for (const auto& c : cases) {
        viewer.Execute({HelpIndex, c.Command, c.Data, {}});
        EXPECT_EQ(viewer.CurrentKey(), c.Key);
        EXPECT_TRUE(BrowserText(viewer).contains(viewer.Document().Find(c.Key)->Title)) << c.Key;
    }
    // Back returns to the page before.
    viewer.BackButton->click();
    EXPECT_EQ(viewer.CurrentKey(), "helponhelp");
}

TEST(HelpViewer, ReportsUnknownContextAndMissingFileInItsWindow) {
    THelpViewer viewer;
    viewer.Execute({HelpIndex, HELP_CONTEXT, 201, {}});
    viewer.Execute({HelpIndex, HELP_CONTEXT, 999, {}});
    EXPECT_TRUE(viewer.CurrentKey().isEmpty());
    EXPECT_TRUE(BrowserText(viewer).contains("999"));
    // The page shown before the message comes back when asked for again.
    viewer.Execute({HelpIndex, HELP_CONTEXT, 201, {}});
    EXPECT_EQ(viewer.CurrentKey(), "201");
    EXPECT_TRUE(BrowserText(viewer).contains("Negative Limit"));

    QTemporaryDir folder;
    const QString missing = QDir(folder.path()).filePath("KorvaWIN.HLP");
    viewer.Execute({missing, HELP_CONTEXT, 201, {}});
    EXPECT_TRUE(viewer.CurrentKey().isEmpty());
    EXPECT_TRUE(BrowserText(viewer).contains("cannot be found"));
    EXPECT_EQ(viewer.TopicList->count(), 0);
}

TEST(HelpViewer, SearchPageOpensWithTheKey) {
    THelpViewer viewer;
    viewer.Execute({HelpIndex, HELP_PARTIALKEY, 0, ""});
    EXPECT_EQ(viewer.Tabs->currentIndex(), 1);
    EXPECT_TRUE(viewer.SearchEdit->text().isEmpty());
    EXPECT_EQ(viewer.ResultList->count(), 0);
    viewer.SearchEdit->setText("force level");
    viewer.FindButton->click();
    ASSERT_GT(viewer.ResultList->count(), 0);
    viewer.ResultList->itemClicked(viewer.ResultList->item(0));
    EXPECT_FALSE(viewer.CurrentKey().isEmpty());
    EXPECT_TRUE(BrowserText(viewer).contains("force", Qt::CaseInsensitive));
}

TEST(HelpRequest, GoesToTheInstalledHandlerWithTheHelpFile) {
    TApplication::SetHelpFile("/opt/korva/KorvaWIN.HLP");
    THelpRecorderScope help;
    HelpRequest(HELP_CONTEXT, 204);
    HelpRequest(HELP_PARTIALKEY, QString());
    ASSERT_EQ(help.Requests.size(), 2u);
    EXPECT_EQ(help.Requests[0].File, "/opt/korva/KorvaWIN.HLP");
    EXPECT_EQ(help.Requests[0].Data, 204);
    EXPECT_EQ(help.Requests[1].Command, HELP_PARTIALKEY);
    EXPECT_TRUE(help.Requests[1].Key.isEmpty());
    TApplication::SetHelpFile({});
}

TEST(HelpRequest, ViewerStaysUsableBesideAModalDialogAndOutlivesIt) {
    TApplication::SetHelpFile(HelpIndex);
    auto* dialog = new QDialog;
    dialog->setModal(true);
    dialog->show();
    ASSERT_EQ(QApplication::activeModalWidget(), dialog);
    HelpRequest(HELP_CONTEXT, 202);
    THelpViewer* viewer = THelpViewer::Instance();
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->CurrentKey(), "202");
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(viewer->parentWidget(), dialog); // a window of the modal dialog: not blocked by it
    EXPECT_EQ(QApplication::activeModalWidget(), dialog);
    dialog->accept();
    delete dialog;
    ASSERT_EQ(THelpViewer::Instance(), viewer);
    EXPECT_EQ(viewer->parentWidget(), nullptr);
    EXPECT_TRUE(viewer->isVisible());
    HelpRequest(HELP_QUIT, 0);
    EXPECT_FALSE(viewer->isVisible());
    TApplication::SetHelpFile({});
}

namespace {
// Runs act on the message box once it is the modal window (inside its own loop).
void WhenBoxShows(std::function<void(QMessageBox*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(box);
        }
    });
    timer->start();
}
} // namespace

// The real message box with an extra button and a topic: F1 asks for the topic and leaves the box
// open, the extra button answers mrExtra, Enter still gives the standard answer.
TEST(MessageBoxExtras, F1AsksForTheTopicAndTheExtraButtonAnswers) {
    TQtDialogs qt;
    const TMsgBoxExtras extras{"Open Backup Folder", BackupHelpContext};
    THelpRecorderScope help;
    bool openAfterF1 = false;
    WhenBoxShows([&](QMessageBox* box) {
        PressInWindow(box, Qt::Key_F1);
        openAfterF1 = box->isVisible();
        for (QAbstractButton* button : box->buttons())
            if (button->text() == "Open Backup Folder")
                button->click();
    });
    EXPECT_EQ(qt.MessageBox("Korva Windows", "Backed up.", TMsgButtons::Ok, TMsgIcon::Information, extras),
              mrExtra);
    EXPECT_TRUE(openAfterF1);
    ASSERT_EQ(help.Requests.size(), 1u);
    EXPECT_EQ(help.Requests[0].Command, HELP_CONTEXT);
    EXPECT_EQ(help.Requests[0].Data, BackupHelpContext);

    WhenBoxShows([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
    EXPECT_EQ(qt.MessageBox("Korva Windows", "Backed up.", TMsgButtons::Ok, TMsgIcon::Information, extras),
              mrOk);
    // A box without a topic asks for none.
    WhenBoxShows([](QMessageBox* box) {
        PressInWindow(box, Qt::Key_F1);
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_EQ(qt.MessageBox("Korva Windows", "Plain.", TMsgButtons::Ok, TMsgIcon::Information), mrOk);
    EXPECT_EQ(help.Requests.size(), 1u);
}
