#include "app/timer_safe_ui.h"

#include <QMetaObject>
#include <QObject>

namespace korvinet::app {

void TimerSafeUi::Message(const QString& text) {
    if (slotDepth_ == 0 || !context_) {
        inner_.Message(text);
        return;
    }
    QMetaObject::invokeMethod(
        context_, [&inner = inner_, text] { inner.Message(text); }, Qt::QueuedConnection);
}

std::unique_ptr<ProgressReport> TimerSafeUi::StartProgress(const QString& label) {
    return slotDepth_ == 0 ? inner_.StartProgress(label) : nullptr;
}

void TimerSafeUi::ErrorBox(const QString& text) {
    if (slotDepth_ == 0 || !context_) {
        inner_.ErrorBox(text);
        return;
    }
    QMetaObject::invokeMethod(
        context_, [&inner = inner_, text] { inner.ErrorBox(text); }, Qt::QueuedConnection);
}

} // namespace korvinet::app
