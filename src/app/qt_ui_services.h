#pragma once

#include "app/ui_services.h"

#include <QPointer>
#include <QWidget>

namespace korvinet {

// The desktop's own boxes, dialogs, clipboard and shell.
class QtUiServices final : public UiServices {
public:
    // Boxes and dialogs are modal to the owner once it is set.
    void SetOwner(QWidget* owner) { owner_ = owner; }

    void Message(const QString& text) override;
    bool Confirm(const QString& question) override;
    FileChoice OpenFile(const FileDialogSpec& dialog) override;
    FileChoice SaveFile(const FileDialogSpec& dialog) override;
    void SetClipboardText(const QString& text) override;
    void SetClipboardImage(const QImage& image) override;
    void ShellOpen(const QString& target) override;
    void Beep(int frequencyHz, int durationMs) override;
    void ErrorBox(const QString& text) override;

private:
    FileChoice RunDialog(const FileDialogSpec& dialog, bool save);

    QPointer<QWidget> owner_;
};

} // namespace korvinet
