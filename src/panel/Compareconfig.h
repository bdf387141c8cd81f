#pragma once
// TCompareConfigForm: a configuration file beside the controller's configuration, one row per
// parameter (TConfigCompare): mnemonic with index, plain name, the file's value, the controller's
// value, units, and what differs. Rows that differ are marked in words and colour; "Show differences
// only" hides the rest. A units mismatch stands as a warning above the table.
//
// It opens at the first difference, selected and scrolled to. "Show differences only" is the
// operator's last choice of it ("CompareDifferencesOnly" in the settings, on until first turned
// off), written only when the operator clicks it; with no differences it is off and disabled, so the
// table is never empty, and the choice is kept for the next comparison.
//
// From here, "Download This File..." hands the file to the owner's normal download (OnDownload) and
// closes the window; "Save Controller Configuration As..." writes the uploaded dump to a file.
//
// The window is not modal, can be resized, and keeps its size and place in the settings
// ("CompareWindowGeometry"). It holds no link: what it shows is the dump taken when it was opened.
//
// Threads: main thread only. Errors of the save are shown with ShowError.

#include "operations/ConfigOperations.h"
#include "toolkit/Dialogs.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <functional>

class TCompareConfigForm : public QDialog {
public:
    enum TColumn { ParameterColumn, NameColumn, FileColumn, ControllerColumn, UnitsColumn, StateColumn };

    // fileName: as shown and as handed to OnDownload; compared: the file beside the dump it was
    // compared with.
    TCompareConfigForm(QWidget* owner, const QString& fileName, const TControllerCompare& compared);
    ~TCompareConfigForm() override;

    void FilterBoxClick();
    // Hides the rows that are the same when the box is ticked.
    void ApplyFilter();
    void DownloadButtonClick();
    void SaveButtonClick();

    // Called with the file name when "Download This File..." is pressed (after the window closed).
    std::function<void(const QString&)> OnDownload;

    QString FileName;
    TConfigText Controller;
    TConfigCompare Result;
    TFileDialogSpec SaveDialog;

    QLabel* UnitsWarning = nullptr; // hidden when the units agree
    QLabel* Summary = nullptr;
    QCheckBox* FilterBox = nullptr;
    QTableWidget* Table = nullptr;
    QPushButton* DownloadButton = nullptr;
    QPushButton* SaveButton = nullptr;
    QPushButton* CloseButton = nullptr;

    // The first row that differs; -1 when none does.
    int FirstDifference = -1;

    // The text of the state column for a row ("" when the same).
    static QString StateText(TCompareState state);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Brings the current row into the middle of the view.
    void ShowCurrentRow();
    bool Opened = false;
};
