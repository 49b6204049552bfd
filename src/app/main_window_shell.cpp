#include "app/main_window.h"

#include "app/about_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#ifndef KORVINET_DOC_DIR
#define KORVINET_DOC_DIR ""
#endif

namespace korvinet::app {

void TFormMain::Exit1Click() {
    // Ends the run as closing the window does; the window's destruction
    // saves the settings. Nothing is asked.
    close();
}

void TFormMain::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    QCoreApplication::exit(0);
}

void TFormMain::About1Click() {
    if (!aboutWindow_)
        return;
    aboutWindow_->show();
    aboutWindow_->raise();
    aboutWindow_->activateWindow();
}

QString TFormMain::FindInstructions(const QString& currentFolder, const QString& programFolder,
                                    const QString& docFolder) {
    for (const QString& folder : {currentFolder, programFolder, docFolder}) {
        if (folder.isEmpty())
            continue;
        const QFileInfo file(QDir(folder), kInstructionsFile);
        if (file.isFile())
            return file.absoluteFilePath();
    }
    return {};
}

void TFormMain::InstructionsClick() {
    // The current folder is where a user who keeps the document beside the
    // data looks first; a program started from a desktop menu or another
    // folder still finds the copy that came with it.
    const QString document =
        FindInstructions(QDir::currentPath(), QCoreApplication::applicationDirPath(),
                         QString::fromUtf8(KORVINET_DOC_DIR));
    if (!document.isEmpty())
        deps_.ui.ShellOpen(document);
}

} // namespace korvinet::app
