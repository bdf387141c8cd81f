#pragma once
// A menu item whose modal dialog a test answers: the item runs, and once its dialog of type T is the
// active modal widget, answer gets it (and closes it).

#include <QAction>
#include <QApplication>
#include <QTimer>

#include <functional>
#include <memory>

// Runs the item and, once its modal dialog of type T is up, hands it to answer (which closes it).
// Returns whether the dialog came up.
template <typename T> inline bool AnswerModal(QAction* item, std::function<void(T&)> answer) {
    struct TState {
        bool Seen = false;
        bool Done = false; // the item has returned: stop looking
        std::function<void(T&)> Answer;
    };
    auto state = std::make_shared<TState>();
    state->Answer = std::move(answer);
    struct TPoll {
        std::shared_ptr<TState> State;
        void operator()() const {
            if (State->Done)
                return;
            if (auto* form = dynamic_cast<T*>(QApplication::activeModalWidget())) {
                State->Seen = true;
                State->Answer(*form);
            } else {
                QTimer::singleShot(5, TPoll{State});
            }
        }
    };
    QTimer::singleShot(0, TPoll{state});
    item->trigger();
    state->Done = true;
    return state->Seen;
}
