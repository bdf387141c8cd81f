#include "toolkit/Dialogs.h"

#include "toolkit/Help.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
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

TModalResult MessageBox(const QString& caption, const QString& text, TMsgButtons buttons, TMsgIcon icon,
                        const TMsgBoxExtras& extras) {
    return Dialogs().MessageBox(caption, text, buttons, icon, extras);
}

bool OpenFolder(const QString& folder) {
    return Dialogs().OpenUrl(QUrl::fromLocalFile(folder));
}

QString QtFilter(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        // "*.*" means every file, as on Windows, and not only the names with a dot.
        for (QString& pattern : patterns)
            if (pattern == "*.*")
                pattern = "*";
        out << QString("%1 (%2)").arg(parts[i], patterns.join(' '));
    }
    return out.join(";;");
}

QString ExistingFileName(const QString& fileName, const QString& defaultExt) {
    if (QFileInfo(fileName).isFile())
        return fileName;
    const QString withExt = WithDefaultExt(fileName, defaultExt);
    if (withExt != fileName && QFileInfo(withExt).isFile())
        return withExt;
    return {};
}

QString WithDefaultExt(const QString& fileName, const QString& defaultExt) {
    if (fileName.isEmpty() || defaultExt.isEmpty() || !QFileInfo(fileName).suffix().isEmpty())
        return fileName;
    return fileName + '.' + defaultExt;
}

TModalResult TQtDialogs::MessageBox(const QString& caption, const QString& text, TMsgButtons buttons,
                                    TMsgIcon icon) {
    return MessageBox(caption, text, buttons, icon, TMsgBoxExtras{});
}

TModalResult TQtDialogs::MessageBox(const QString& caption, const QString& text, TMsgButtons buttons,
                                    TMsgIcon icon, const TMsgBoxExtras& extras) {
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
    QPushButton* extra = nullptr;
    if (!extras.ExtraButton.isEmpty()) {
        extra = box.addButton(extras.ExtraButton, QMessageBox::ActionRole);
        // Enter still gives the standard answer, not the extra one.
        const bool ok = buttons == TMsgButtons::Ok || buttons == TMsgButtons::OkCancel;
        if (auto* standard = qobject_cast<QPushButton*>(box.button(ok ? QMessageBox::Ok : QMessageBox::Yes)))
            box.setDefaultButton(standard);
    }
    if (extras.HelpContext)
        SetHelpKey(&box, extras.HelpContext);
    const int answer = box.exec();
    if (extra && box.clickedButton() == extra)
        return mrExtra;
    switch (answer) {
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

namespace {
// One run of a file dialog (start: a folder, or a file to propose): the name as the dialog gave it,
// empty when cancelled. The dialog checks
// neither existence nor overwriting; the callers do, once the default extension is known.
QString RunFileDialog(const TFileDialogSpec& form, const QString& start, bool save) {
    QFileDialog dialog(QApplication::activeWindow(), form.Title, start, QtFilter(form.Filter));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}
} // namespace

bool TQtDialogs::OpenFile(TFileDialogSpec& form) {
    QString start = form.FileName.isEmpty() ? form.InitialDir : form.FileName;
    for (;;) {
        const QString name = RunFileDialog(form, start, false);
        if (name.isEmpty())
            return false;
        // "ixa" opens "ixa" if there is such a file, else "ixa.cfg".
        const QString existing = ExistingFileName(name, form.DefaultExt);
        if (!existing.isEmpty()) {
            form.FileName = existing;
            return true;
        }
        // Through the installed service, as every other box.
        ::MessageBox(form.Title.isEmpty() ? QString("Open") : form.Title,
                     QFileInfo(name).fileName() + "\nFile not found.\nCheck the file name and try again.",
                     TMsgButtons::Ok, TMsgIcon::Warning);
        start = name;
    }
}

bool TQtDialogs::SaveFile(TFileDialogSpec& form) {
    QString start = form.FileName.isEmpty() ? form.InitialDir : form.FileName;
    for (;;) {
        const QString name = RunFileDialog(form, start, true);
        if (name.isEmpty())
            return false;
        // The question is about the file that will be written: "ixa" writes "ixa.cfg".
        const QString target = WithDefaultExt(name, form.DefaultExt);
        if (!QFileInfo::exists(target) ||
            ::MessageBox(form.Title.isEmpty() ? QString("Save As") : form.Title,
                         QFileInfo(target).fileName() + " already exists.\nDo you want to replace it?",
                         TMsgButtons::YesNo, TMsgIcon::Warning) == mrYes) {
            form.FileName = target;
            return true;
        }
        start = target;
    }
}

bool TQtDialogs::OpenUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}
