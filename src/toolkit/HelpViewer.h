#pragma once
// The help viewer: our own window over our own help document (Help.h says where the document lies).
//
// THelpDocument reads the index file: one topic a line, "<key> <page> <title>", where the key is
// "contents", "helponhelp" or a context number and the page an HTML file beside the index; lines
// starting with '#' are comments. It keeps each page's plain text for the search.
//
// THelpViewer shows one topic in a browser on the right; on the left a "Topics" page lists every
// topic and a "Search" page finds the topics that hold all the words typed (any case). A missing
// help file or a context number that has no topic is reported in place of the topic.
//
// The program has one viewer (Show). While a modal dialog is open, the viewer becomes a window of
// that dialog, so both stay usable and the dialog stays modal; when the dialog closes, the viewer
// goes on as a window of its own.
//
// Threads: main thread only.

#include "toolkit/Help.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QString>
#include <QTabWidget>
#include <QTextBrowser>
#include <QWidget>
#include <vector>

struct THelpTopic {
    QString Key;  // "contents", "helponhelp" or a context number
    QString Page; // absolute path of the HTML file
    QString Title;
    QString Text; // the page's plain text, for the search
};

class THelpDocument {
public:
    // The index file that helpFile stands for: helpFile itself when it exists, else help/<its name>
    // in its folder, else <its name> in the installed help folder (../share/korva/help from the
    // program's folder); empty when none exists.
    static QString ResolveIndex(const QString& helpFile);

    // Reads the index and the pages; false with Error set when the index cannot be read or lists no
    // topic. A page that cannot be read keeps its topic (the viewer reports it when shown).
    bool Load(const QString& helpFile);

    const THelpTopic* Find(const QString& key) const;
    // The topics whose title or text holds every word of words (case ignored), in index order; none
    // for an empty text.
    std::vector<const THelpTopic*> Search(const QString& words) const;

    QString IndexPath;
    QString Error;
    std::vector<THelpTopic> Topics;
};

class THelpViewer : public QWidget {
public:
    explicit THelpViewer(QWidget* parent = nullptr);

    // Carries out one request on this viewer (loads the request's file when it is another one).
    void Execute(const THelpRequest& request);

    // The program's viewer: created on first use, attached to the active modal dialog, shown and
    // raised, then the request is carried out. HELP_QUIT closes it.
    static void Show(const THelpRequest& request);
    static THelpViewer* Instance(); // the program's viewer, or nullptr before the first request

    const THelpDocument& Document() const { return FDocument; }
    // The key of the topic shown; empty while a message is shown instead.
    QString CurrentKey() const { return FCurrentKey; }

    QTabWidget* Tabs = nullptr;
    QListWidget* TopicList = nullptr;
    QLineEdit* SearchEdit = nullptr;
    QPushButton* FindButton = nullptr;
    QListWidget* ResultList = nullptr;
    QTextBrowser* Browser = nullptr;
    QPushButton* ContentsButton = nullptr;
    QPushButton* BackButton = nullptr;
    QPushButton* ForwardButton = nullptr;

private:
    void LoadFile(const QString& helpFile);
    void ShowTopic(const QString& key);
    void ShowMessage(const QString& title, const QString& text);
    void RunSearch();
    void SourceChanged(const QUrl& url);
    void AttachTo(QWidget* modal);
    void OwnerFinished();

    QString FLoadedFile;
    bool FLoaded = false;
    THelpDocument FDocument;
    QString FCurrentKey;
};
