#include "toolkit/Help.h"

#include "toolkit/Application.h"
#include "toolkit/HelpViewer.h"

#include <QShortcut>

namespace {
THelpHandler& Handler() {
    static THelpHandler handler;
    return handler;
}

void Dispatch(THelpRequest request) {
    request.File = TApplication::HelpFile();
    if (Handler())
        Handler()(request);
    else if (!request.File.isEmpty())
        THelpViewer::Show(request);
}
} // namespace

void HelpRequest(unsigned command, long data) {
    THelpRequest request;
    request.Command = command;
    request.Data = data;
    Dispatch(request);
}

void HelpRequest(unsigned command, const QString& key) {
    THelpRequest request;
    request.Command = command;
    request.Key = key;
    Dispatch(request);
}

void SetHelpKey(QWidget* window, long context) {
    auto* key = new QShortcut(QKeySequence(Qt::Key_F1), window);
    key->setContext(Qt::WindowShortcut);
    QObject::connect(key, &QShortcut::activated, window, [context] { HelpRequest(HELP_CONTEXT, context); });
}

THelpHandler SetHelpHandler(THelpHandler handler) {
    THelpHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

THelpRecorderScope::THelpRecorderScope() {
    Previous = SetHelpHandler([this](const THelpRequest& request) { Requests.push_back(request); });
}

THelpRecorderScope::~THelpRecorderScope() {
    SetHelpHandler(std::move(Previous));
}
