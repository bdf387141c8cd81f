#pragma once
// Help requests. Every help request of the program (Help menu, the dialogs' Help buttons, F1) goes
// through HelpRequest with a command and its data, as the classic help call takes them; the request
// names the application's help file (TApplication::HelpFile()). The program's handler opens our own
// help viewer (HelpViewer.h) at the topic; while the help file is unset, requests are dropped.
// Tests install a recorder instead (THelpRecorderScope) and look at what was asked.
//
// The help file: "KorvaWIN.HLP" in the program's folder is the index of the help document; when it
// is not there, help/KorvaWIN.HLP beside it is used (the build copies the help/ folder next to the
// program). The index lists the topics by context number; the viewer reports a missing file or an
// unknown context number in its own window.
//
// Threads: main thread only.

#include <QString>
#include <functional>
#include <vector>

inline constexpr unsigned HELP_CONTEXT = 1;      // data: the context number of a topic
inline constexpr unsigned HELP_QUIT = 2;         // closes the viewer
inline constexpr unsigned HELP_INDEX = 3;        // the contents topic
inline constexpr unsigned HELP_CONTENTS = 3;     // (same request)
inline constexpr unsigned HELP_HELPONHELP = 4;   // how to use the viewer
inline constexpr unsigned HELP_PARTIALKEY = 261; // the search page, with the key text in its field

// The topics of the windows that have no Help button; F1 opens them (SetHelpKey).
inline constexpr long TerminalHelpContext = 301;
inline constexpr long TrendHelpContext = 305;
inline constexpr long TrafficLogHelpContext = 306;
inline constexpr long NetworkHelpContext = 307;
inline constexpr long CompareHelpContext = 308;
inline constexpr long BackupHelpContext = 309;
inline constexpr long BusOverviewHelpContext = 310;

class QWidget;

struct THelpRequest {
    QString File; // the help file the request names
    unsigned Command = 0;
    long Data = 0; // context number (HELP_CONTEXT), else 0
    QString Key;   // HELP_PARTIALKEY's search text
};

using THelpHandler = std::function<void(const THelpRequest&)>;

// A request with a number for data (HELP_CONTEXT, HELP_INDEX, HELP_HELPONHELP, HELP_QUIT).
void HelpRequest(unsigned command, long data);
// A request with a key text for data (HELP_PARTIALKEY).
void HelpRequest(unsigned command, const QString& key);

// F1 anywhere in window (its own child windows aside) asks for the topic with that context number.
void SetHelpKey(QWidget* window, long context);

// Installs handler (empty: back to the help viewer); returns the previous one.
THelpHandler SetHelpHandler(THelpHandler handler);

// Records every help request for the life of the scope instead of showing it.
class THelpRecorderScope {
public:
    THelpRecorderScope();
    ~THelpRecorderScope();
    THelpRecorderScope(const THelpRecorderScope&) = delete;
    THelpRecorderScope& operator=(const THelpRecorderScope&) = delete;

    std::vector<THelpRequest> Requests;

private:
    THelpHandler Previous;
};
