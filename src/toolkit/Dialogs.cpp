#include "toolkit/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>

namespace {
std::unique_ptr<TDialogService>& Installed() {
    static std::unique_ptr<TDialogService> service = std::make_unique<TQtDialogs>();
    return service;
}
} // namespace

TDialogService& Dialogs() {
    return *Installed();
}

std::unique_ptr<TDialogService> SetDialogService(std::unique_ptr<TDialogService> service) {
    if (!service)
        service = std::make_unique<TQtDialogs>();
    std::swap(service, Installed());
    return service;
}

void ShowError(const QString& text) {
    Dialogs().MessageBox("Korva Windows Error", text, TMsgButtons::Ok, TMsgIcon::None);
}

TModalResult MessageBox(const QString& caption, const QString& text, TMsgButtons buttons, TMsgIcon icon) {
    return Dialogs().MessageBox(caption, text, buttons, icon);
}

QString QtFilter(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << QString("%1 (%2)").arg(parts[i], QString(parts[i + 1]).replace(';', ' '));
    return out.join(";;");
}

QString WithDefaultExt(const QString& fileName, const QString& defaultExt) {
    if (fileName.isEmpty() || defaultExt.isEmpty() || !QFileInfo(fileName).suffix().isEmpty())
        return fileName;
    return fileName + '.' + defaultExt;
}

TModalResult TQtDialogs::MessageBox(const QString& caption, const QString& text, TMsgButtons buttons,
                                    TMsgIcon icon) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(caption);
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    switch (icon) {
    case TMsgIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case TMsgIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case TMsgIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case TMsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case TMsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
    switch (buttons) {
    case TMsgButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case TMsgButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case TMsgButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case TMsgButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return mrOk;
    case QMessageBox::Yes:
        return mrYes;
    case QMessageBox::No:
        return mrNo;
    default:
        return mrCancel; // the window's close box counts as Cancel
    }
}

bool TQtDialogs::OpenFile(TFileDialogSpec& form) {
    const QString start = form.FileName.isEmpty() ? form.InitialDir : form.FileName;
    const QString name =
        QFileDialog::getOpenFileName(QApplication::activeWindow(), form.Title, start, QtFilter(form.Filter));
    if (name.isEmpty())
        return false;
    form.FileName = name;
    return true;
}

bool TQtDialogs::SaveFile(TFileDialogSpec& form) {
    const QString start = form.FileName.isEmpty() ? form.InitialDir : form.FileName;
    const QString name =
        QFileDialog::getSaveFileName(QApplication::activeWindow(), form.Title, start, QtFilter(form.Filter));
    if (name.isEmpty())
        return false;
    form.FileName = WithDefaultExt(name, form.DefaultExt);
    return true;
}
