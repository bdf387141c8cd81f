#pragma once
// TFileLauncher: the main window's File menu items after the configuration transfers: compare a
// file with the controller's configuration (the compare window, whose Download goes to the panel's
// DownloadFile), back the controller up, and the backup the options ask for before every download.
//
// Errors: a link or file failure (EIxaInterface) and a backup folder failure (EConfig) are shown
// here. Threads: main thread only; the uploads block it, as the panel's transfers do.
// Lifetime: lives as long as the panel; the compare window is the panel's child.

#include "config/ConfigBackups.h"

#include <QPointer>
#include <QString>

class QAction;
class QWidget;
class TKorvaControlPanel;

class TFileLauncher {
public:
    explicit TFileLauncher(TKorvaControlPanel& panel) : Panel(panel) {}
    TFileLauncher(const TFileLauncher&) = delete;
    TFileLauncher& operator=(const TFileLauncher&) = delete;

    // The compare and backup items, in a group of their own after the transfers.
    void CreateFileCommandItems();
    // File > Compare Configuration with File...: uploads the matching dump into memory and opens the
    // compare window (CompareWindow) on it.
    void CompareWithFile();
    // File > Back Up Controller: both dumps into a new backup; says where they went.
    void BackUpController();
    // Uploads both dumps into a new backup under BackupRoot() behind a busy window, then keeps the
    // newest TConfigBackups::KeepCount. A failed upload removes the half backup and passes on.
    TConfigBackups::TBackup TakeBackup();
    // Before a download: the backup when the option asks for it. False when it failed (the failure
    // is shown): nothing may be downloaded then.
    bool TakeBackupBeforeDownload();
    // <user data folder>/Halvane/KorvaWin 3.0/Backups
    static QString BackupRoot();
    // The "BackupBeforeDownload" setting of the options dialog.
    static bool BackupBeforeDownload();

    QAction* CompareItem = nullptr;
    QAction* BackupItem = nullptr;
    QPointer<QWidget> CompareWindow; // the open compare window, if any

private:
    TKorvaControlPanel& Panel;
};
