// The download busy window.

#include "panel/Downloadingconfig.h"

#include "toolkit/Layout.h"

TDownloadConfig::TDownloadConfig(QWidget* owner) : TDownloadConfig(owner, "Downloading Configuration...") {}

TDownloadConfig::TDownloadConfig(QWidget* owner, const QString& text)
    : TSavingConfig(owner, Scale120(405), Scale120(73), Scale120(23), text) {}
