#pragma once

#include "app/ui_services.h"

#include <QPointer>

class QObject;

namespace korvinet::app {

// UI services that never open a box inside a timer's slot. A timer is not
// delivered again while its own slot still runs, so a box opened there would
// stop that timer for as long as the box stays open, even though the box's
// event loop serves every other timer. While a TimerSlot is alive, messages
// and error boxes are queued instead and open once control is back in the
// event loop, in the order asked; a progress report is not offered there (a
// progress loop would stall the timer the same way), so work started in a
// timer's slot runs to its end unseen. Everything else passes straight
// through: no timer slot asks a question or opens a file dialog, and the
// beep does not wait for the user.
class TimerSafeUi final : public UiServices {
public:
    // Queued boxes belong to `context`: they are dropped if it is destroyed
    // first.
    TimerSafeUi(UiServices& inner, QObject* context) : inner_(inner), context_(context) {}

    // Marks a timer's slot for its lifetime.
    class TimerSlot {
    public:
        explicit TimerSlot(TimerSafeUi& ui) : ui_(ui) { ++ui_.slotDepth_; }
        ~TimerSlot() { --ui_.slotDepth_; }
        TimerSlot(const TimerSlot&) = delete;
        TimerSlot& operator=(const TimerSlot&) = delete;

    private:
        TimerSafeUi& ui_;
    };

    void Message(const QString& text) override;
    void ErrorBox(const QString& text) override;
    bool Confirm(const QString& question) override { return inner_.Confirm(question); }
    FileChoice OpenFile(const FileDialogRequest& dialog) override {
        return inner_.OpenFile(dialog);
    }
    FileChoice SaveFile(const FileDialogRequest& dialog) override {
        return inner_.SaveFile(dialog);
    }
    RecordingSpanChoice ChooseRecordingSpan(const QStringList& spans,
                                            const RecordingSpanChoice& initial) override {
        return inner_.ChooseRecordingSpan(spans, initial);
    }
    void SetClipboardText(const QString& text) override { inner_.SetClipboardText(text); }
    void SetClipboardImage(const QImage& image) override { inner_.SetClipboardImage(image); }
    void ShellOpen(const QString& target) override { inner_.ShellOpen(target); }
    void Beep(int frequencyHz, int durationMs) override { inner_.Beep(frequencyHz, durationMs); }
    std::unique_ptr<ProgressReport> StartProgress(const QString& label) override;

private:
    UiServices& inner_;
    QPointer<QObject> context_;
    int slotDepth_ = 0;
};

} // namespace korvinet::app
