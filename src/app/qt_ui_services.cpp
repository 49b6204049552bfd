#include "app/qt_ui_services.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace korvinet {

void QtUiServices::Message(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text,
                    QMessageBox::Ok, owner_);
    box.exec();
}

bool QtUiServices::Confirm(const QString& question) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), question,
                    QMessageBox::NoButton, owner_);
    QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

FileChoice QtUiServices::RunDialog(const FileDialogSpec& spec, bool save) {
    QFileDialog dialog(owner_, spec.title);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(spec.filters);
    if (spec.filterIndex >= 1 && spec.filterIndex <= spec.filters.size())
        dialog.selectNameFilter(spec.filters.at(spec.filterIndex - 1));
    dialog.setDefaultSuffix(spec.defaultExt);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !spec.overwritePrompt);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (!spec.fileName.isEmpty())
        dialog.selectFile(spec.fileName);
    FileChoice choice;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return choice;
    choice.accepted = true;
    choice.fileName = dialog.selectedFiles().front();
    choice.filterIndex = static_cast<int>(spec.filters.indexOf(dialog.selectedNameFilter())) + 1;
    return choice;
}

FileChoice QtUiServices::OpenFile(const FileDialogSpec& dialog) {
    return RunDialog(dialog, false);
}

FileChoice QtUiServices::SaveFile(const FileDialogSpec& dialog) {
    return RunDialog(dialog, true);
}

void QtUiServices::SetClipboardText(const QString& text) {
    QApplication::clipboard()->setText(text);
}

void QtUiServices::SetClipboardImage(const QImage& image) {
    QApplication::clipboard()->setImage(image);
}

void QtUiServices::ShellOpen(const QString& target) {
    const QUrl url =
        QFileInfo::exists(target) ? QUrl::fromLocalFile(target) : QUrl::fromUserInput(target);
    QDesktopServices::openUrl(url);
}

void QtUiServices::Beep(int, int) {
    // The desktop offers one bell sound; pitch and length cannot be chosen.
    QApplication::beep();
}

void QtUiServices::ErrorBox(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Korvinet"), text, QMessageBox::Ok,
                    owner_);
    box.exec();
}

} // namespace korvinet
