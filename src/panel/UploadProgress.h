#pragma once
// What the panel's uploads share: an upload behind its busy window, which counts the lines as they
// arrive, and the count as the closing message says it.
#include "panel/Downloadingconfig.h"

#include <QString>
#include <memory>

inline QString LineCount(size_t lines) {
    return lines == 1 ? QString("1 line") : QString("%1 lines").arg(lines);
}

// Returns how many lines arrived.
template <typename F> size_t UploadWithProgress(QWidget* owner, const QString& text, F&& upload) {
    auto busy = std::make_unique<TDownloadConfig>(owner, text);
    busy->ShowAndPaint();
    size_t count = 0;
    upload([&](size_t line, size_t, const AnsiString&) {
        count = line;
        busy->ShowProgress(LineCount(line));
    });
    return count;
}
