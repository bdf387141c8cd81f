#pragma once
// TDownloadConfig: the busy window shown while a configuration file is downloaded into the
// controller. The saving busy window's form, laid out at 120 pixels per inch, with its own text.
//
// Threads: main thread only. Created and destroyed by the download command.

#include "panel/Saveconfig.h"

class TDownloadConfig : public TSavingConfig {
public:
    explicit TDownloadConfig(QWidget* owner);
    // The same window with another text, for the other transfers ("Uploading Configuration...").
    TDownloadConfig(QWidget* owner, const QString& text);
};
