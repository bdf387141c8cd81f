#pragma once
// TFileLauncher: the main window's File menu items after the configuration transfers: compare a
// file with the controller's configuration (the compare window, whose Download goes to the panel's
// DownloadFile), back the controller up, open the backup folder in the desktop's file manager, and
// the backup the options ask for before every download.
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
    // File > Back Up Controller: both dumps into a new backup; says where they went, in a box whose
    // "Open Backup Folder" button shows that folder and whose F1 shows the backup's help page.
    void BackUpController();
    // File > Open Backup Folder: the backup folder, with a folder per unit, in the file manager.
    void OpenBackupFolder();
    // Shows folder in the desktop's file manager; says so when there is no such folder yet, or when
    // the desktop cannot show it.
    static void ShowFolder(const QString& folder);
    // Uploads both dumps into a new backup under BackupRoot() behind a busy window, then keeps the
    // newest TConfigBackups::KeepCount. A failed upload removes the half backup and passes on.
    TConfigBackups::TBackup TakeBackup();
    // Downloads a backup taken before a download back into the controller, and says how it went.
    void PutBackBackup(const TConfigBackups::TBackup& backup);
    // <user data folder>/Halvane/KorvaWin 3.0/Backups
    static QString BackupRoot();
    // The "BackupBeforeDownload" setting of the options dialog.
    static bool BackupBeforeDownload();

    QAction* CompareItem = nullptr;
    QAction* BackupItem = nullptr;
    QAction* OpenBackupFolderItem = nullptr;
    QPointer<QWidget> CompareWindow; // the open compare window, if any

private:
    TKorvaControlPanel& Panel;
};
