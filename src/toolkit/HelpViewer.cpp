#include "toolkit/HelpViewer.h"

#include "toolkit/Placement.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QSplitter>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {
QPointer<THelpViewer>& TheViewer() {
    static QPointer<THelpViewer> viewer;
    return viewer;
}

void DeleteViewer() {
    delete TheViewer().data();
}

// Page texts are our own HTML; the plain text serves the search.
QString PlainText(const QString& html) {
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText();
}
} // namespace

QString THelpDocument::ResolveIndex(const QString& helpFile) {
    if (helpFile.isEmpty())
        return {};
    const QFileInfo file(helpFile);
    if (file.isFile())
        return file.absoluteFilePath();
    const QFileInfo beside(file.dir().filePath("help/" + file.fileName()));
    if (beside.isFile())
        return beside.absoluteFilePath();
    // An installed program keeps its help under the data folder beside its own.
    const QFileInfo installed(file.dir().filePath(QString(KORVA_INSTALLED_HELP "/") + file.fileName()));
    if (installed.isFile())
        return installed.absoluteFilePath();
    return {};
}

bool THelpDocument::Load(const QString& helpFile) {
    Topics.clear();
    Error.clear();
    IndexPath = ResolveIndex(helpFile);
    QFile index(IndexPath);
    if (IndexPath.isEmpty() || !index.open(QIODevice::ReadOnly | QIODevice::Text)) {
        Error = QString("The help file %1 cannot be found.").arg(QDir::toNativeSeparators(helpFile));
        return false;
    }
    const QDir folder = QFileInfo(IndexPath).dir();
    while (!index.atEnd()) {
        const QString line = QString::fromUtf8(index.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QStringList fields = line.split(QRegularExpression("\\s+"));
        if (fields.size() < 3)
            continue;
        THelpTopic topic;
        topic.Key = fields[0];
        topic.Page = folder.filePath(fields[1]);
        topic.Title = fields.mid(2).join(' ');
        QFile page(topic.Page);
        if (page.open(QIODevice::ReadOnly))
            topic.Text = PlainText(QString::fromUtf8(page.readAll()));
        Topics.push_back(std::move(topic));
    }
    if (Topics.empty()) {
        Error = QString("The help file %1 lists no topics.").arg(QDir::toNativeSeparators(IndexPath));
        return false;
    }
    return true;
}

const THelpTopic* THelpDocument::Find(const QString& key) const {
    for (const THelpTopic& topic : Topics)
        if (topic.Key == key)
            return &topic;
    return nullptr;
}

std::vector<const THelpTopic*> THelpDocument::Search(const QString& words) const {
    std::vector<const THelpTopic*> found;
    const QStringList wanted = words.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
    if (wanted.isEmpty())
        return found;
    for (const THelpTopic& topic : Topics) {
        const QString text = topic.Title + '\n' + topic.Text;
        bool all = true;
        for (const QString& word : wanted)
            all = all && text.contains(word, Qt::CaseInsensitive);
        if (all)
            found.push_back(&topic);
    }
    return found;
}

THelpViewer::THelpViewer(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle("Korva Windows Help");
    resize(760, 520);
    PlaceOnScreen(this);

    Tabs = new QTabWidget;
    TopicList = new QListWidget;
    Tabs->addTab(TopicList, "Topics");
    auto* searchPage = new QWidget;
    auto* searchLayout = new QVBoxLayout(searchPage);
    searchLayout->addWidget(new QLabel("Type the words to find:"));
    auto* searchRow = new QHBoxLayout;
    SearchEdit = new QLineEdit;
    FindButton = new QPushButton("Find");
    searchRow->addWidget(SearchEdit);
    searchRow->addWidget(FindButton);
    searchLayout->addLayout(searchRow);
    ResultList = new QListWidget;
    searchLayout->addWidget(ResultList);
    Tabs->addTab(searchPage, "Search");

    Browser = new QTextBrowser;
    Browser->setOpenLinks(true);
    Browser->setOpenExternalLinks(false);

    auto* splitter = new QSplitter;
    splitter->addWidget(Tabs);
    splitter->addWidget(Browser);
    splitter->setStretchFactor(1, 3);
    splitter->setSizes({200, 560});

    ContentsButton = new QPushButton("&Contents");
    BackButton = new QPushButton("&Back");
    ForwardButton = new QPushButton("&Forward");
    BackButton->setEnabled(false);
    ForwardButton->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ContentsButton);
    buttons->addWidget(BackButton);
    buttons->addWidget(ForwardButton);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(splitter);

    connect(ContentsButton, &QPushButton::clicked, this, [this] { ShowTopic("contents"); });
    connect(BackButton, &QPushButton::clicked, Browser, &QTextBrowser::backward);
    connect(ForwardButton, &QPushButton::clicked, Browser, &QTextBrowser::forward);
    connect(Browser, &QTextBrowser::backwardAvailable, BackButton, &QPushButton::setEnabled);
    connect(Browser, &QTextBrowser::forwardAvailable, ForwardButton, &QPushButton::setEnabled);
    connect(Browser, &QTextBrowser::sourceChanged, this, &THelpViewer::SourceChanged);
    connect(FindButton, &QPushButton::clicked, this, &THelpViewer::RunSearch);
    connect(SearchEdit, &QLineEdit::returnPressed, this, &THelpViewer::RunSearch);
    const auto open = [this](QListWidgetItem* item) { ShowTopic(item->data(Qt::UserRole).toString()); };
    connect(TopicList, &QListWidget::itemActivated, this, open);
    connect(ResultList, &QListWidget::itemActivated, this, open);
    connect(ResultList, &QListWidget::itemClicked, this, open);
}

void THelpViewer::LoadFile(const QString& helpFile) {
    if (FLoaded && helpFile == FLoadedFile)
        return;
    FLoadedFile = helpFile;
    FLoaded = FDocument.Load(helpFile);
    TopicList->clear();
    ResultList->clear();
    for (const THelpTopic& topic : FDocument.Topics) {
        auto* item = new QListWidgetItem(topic.Title, TopicList);
        item->setData(Qt::UserRole, topic.Key);
    }
}

void THelpViewer::Execute(const THelpRequest& request) {
    LoadFile(request.File);
    if (request.Command == HELP_PARTIALKEY) {
        // The search page opens even without a document, so the user sees where help would be.
        Tabs->setCurrentIndex(1);
        SearchEdit->setText(request.Key);
        RunSearch();
        SearchEdit->setFocus();
    }
    if (!FLoaded) {
        ShowMessage("Help file not found", FDocument.Error);
        return;
    }
    switch (request.Command) {
    case HELP_CONTEXT: {
        const QString key = QString::number(request.Data);
        if (FDocument.Find(key))
            ShowTopic(key);
        else
            ShowMessage("Topic not found",
                        QString("The help file %1 has no topic with the context number %2.")
                            .arg(QDir::toNativeSeparators(FDocument.IndexPath), key));
        break;
    }
    case HELP_HELPONHELP:
        ShowTopic("helponhelp");
        break;
    case HELP_PARTIALKEY:
        if (FCurrentKey.isEmpty())
            ShowTopic("contents");
        break;
    default: // HELP_INDEX and anything we do not know
        ShowTopic("contents");
        break;
    }
}

void THelpViewer::ShowTopic(const QString& key) {
    const THelpTopic* topic = FDocument.Find(key);
    if (!topic) {
        ShowMessage("Topic not found", QString("The help file %1 has no topic \"%2\".")
                                           .arg(QDir::toNativeSeparators(FDocument.IndexPath), key));
        return;
    }
    if (!QFileInfo(topic->Page).isFile()) {
        ShowMessage("Topic not found", QString("The page %1 of the topic \"%2\" cannot be found.")
                                           .arg(QDir::toNativeSeparators(topic->Page), topic->Title));
        return;
    }
    const QUrl url = QUrl::fromLocalFile(topic->Page);
    // After a message the browser still names the last page as its source and would not load it.
    if (Browser->source() == url)
        Browser->reload();
    else
        Browser->setSource(url);
    FCurrentKey = key; // also when the page was already shown (no sourceChanged then)
    setWindowTitle("Korva Windows Help - " + topic->Title);
}

void THelpViewer::SourceChanged(const QUrl& url) {
    // Links between pages land here too: find the topic of the page now shown.
    FCurrentKey.clear();
    const QString path = QFileInfo(url.toLocalFile()).absoluteFilePath();
    for (const THelpTopic& topic : FDocument.Topics)
        if (QFileInfo(topic.Page).absoluteFilePath() == path) {
            FCurrentKey = topic.Key;
            setWindowTitle("Korva Windows Help - " + topic.Title);
        }
}

void THelpViewer::ShowMessage(const QString& title, const QString& text) {
    FCurrentKey.clear();
    Browser->setHtml(QString("<h2>%1</h2><p>%2</p>").arg(title.toHtmlEscaped(), text.toHtmlEscaped()));
    setWindowTitle("Korva Windows Help");
}

void THelpViewer::RunSearch() {
    ResultList->clear();
    for (const THelpTopic* topic : FDocument.Search(SearchEdit->text())) {
        auto* item = new QListWidgetItem(topic->Title, ResultList);
        item->setData(Qt::UserRole, topic->Key);
    }
}

void THelpViewer::AttachTo(QWidget* modal) {
    if (parentWidget() == modal)
        return;
    const QRect place = geometry();
    const bool wasVisible = isVisible();
    setParent(modal, Qt::Window); // hides the window
    if (wasVisible)
        setGeometry(place);
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        connect(dialog, &QDialog::finished, this, &THelpViewer::OwnerFinished, Qt::UniqueConnection);
}

void THelpViewer::OwnerFinished() {
    // The dialog is about to be destroyed and would take its windows with it.
    if (auto* dialog = qobject_cast<QDialog*>(parentWidget()))
        disconnect(dialog, &QDialog::finished, this, &THelpViewer::OwnerFinished);
    const bool wasVisible = isVisible();
    const QRect place = geometry();
    setParent(nullptr, Qt::Window);
    if (wasVisible) {
        setGeometry(place);
        show();
    }
}

THelpViewer* THelpViewer::Instance() {
    return TheViewer().data();
}

void THelpViewer::Show(const THelpRequest& request) {
    if (request.Command == HELP_QUIT) {
        if (Instance())
            Instance()->close();
        return;
    }
    if (!TheViewer()) {
        TheViewer() = new THelpViewer;
        static bool cleanupAdded = false;
        if (!cleanupAdded) {
            qAddPostRoutine(DeleteViewer);
            cleanupAdded = true;
        }
    }
    THelpViewer* viewer = TheViewer();
    QWidget* modal = QApplication::activeModalWidget();
    viewer->AttachTo(modal && modal != viewer ? modal : viewer->parentWidget());
    viewer->Execute(request);
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
}
