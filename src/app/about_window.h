#pragma once

#include "app/about_links.h"

#include <QHash>
#include <QImage>
#include <QWidget>

class QLabel;
class QPushButton;

namespace korvinet::app {

class TFormMain;
class UiServices;

// The program's About window: created hidden at start-up, shown by
// Help > "About", hidden again when closed. Its links point at the update
// server; its button runs the main window's update check.
class TFormAbout : public QWidget {
    Q_OBJECT

public:
    explicit TFormAbout(QWidget* parent = nullptr);

    // Ties the window to the main window (its update host, version and
    // update check) and to the shell. Until then the links show the build's
    // update host and the clicks do nothing.
    void Attach(TFormMain* mainWindow, UiServices* ui);

    // --- Handlers
    void FormShow();
    void WebsiteClick();
    void SWWebsiteClick();
    void EmailSoftwareClick();
    void InfoEmailClick();
    void ButtonCheckForUpdatesClick();

    // The logo: 400 x 43 pixels, 256 colours, drawn by the program itself.
    static QImage MakeLogo();

    // --- Controls, named as in the form
    QLabel* Image1 = nullptr;
    QLabel* Website = nullptr;
    QLabel* InfoEmail = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Version = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* SWWebsite = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* EmailSoftware = nullptr;
    QPushButton* ButtonCheckForUpdates = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The window's place and outer size (450 x 250 at 332, 205) are its
    // frame's once the window system reports a frame; the client area is
    // what is left inside. Done once, when the frame is first known.
    void FitFrame();

    void ShowLinks();
    void Open(const QString& target);
    void OnClick(QLabel* label, void (TFormAbout::*handler)());

    TFormMain* mainWindow_ = nullptr;
    UiServices* ui_ = nullptr;
    AboutLinks links_;
    QHash<QObject*, void (TFormAbout::*)()> clickHandlers_;
    bool frameFitted_ = false;
};

} // namespace korvinet::app
