#pragma once

#include "app/ui_services.h"

#include <QDebug>
#include <QEventLoop>
#include <QList>
#include <QTest>
#include <QTimer>
#include <deque>
#include <functional>

namespace korvinet::testing {

// How long a box stays open before the user answers it. Meanwhile the
// real event loop runs nested, as under a modal box: timers fire, queued
// calls arrive, and the boxes they open take the next steps of the
// script. The box closes once `until` holds; when `until` has not come
// after `ms` the box closes all the same and the test fails. Without
// `until` the box stays open for `ms`.
struct BoxHold {
    int ms = 0;
    std::function<bool()> until = {};
};

// UI services for window tests. Every box, dialog, clipboard write, shell
// request and beep is recorded with its exact texts. Boxes and dialogs are
// answered only from the script the test queued beforehand, in order; a box
// that was not scripted, or whose text differs, fails the running test and
// is answered in the most cautious way (No, Cancel). Nothing is ever
// answered OK by default.
class ScriptedUiServices final : public app::UiServices {
public:
    struct Call {
        QString kind; // "Message", "Confirm", "OpenFile", "SaveFile", "ErrorBox",
                      // "ClipboardText", "ClipboardImage", "ShellOpen", "Beep",
                      // "RecordingSpan", "Progress" (the label of a long
                      // piece of work)
        QString text; // the box text, dialog title, clipboard text or target
    };

    using Hold = BoxHold;

    // --- The script
    void ExpectMessage(const QString& text, Hold hold = {}) {
        script_.push_back({"Message", text, false, {}, std::move(hold)});
    }
    void ExpectErrorBox(const QString& text) {
        script_.push_back({"ErrorBox", text, false, {}, {}});
    }
    void AnswerConfirm(const QString& question, bool yes, Hold hold = {}) {
        script_.push_back({"Confirm", question, yes, {}, std::move(hold)});
    }
    // A dialog with the given title; an empty file name cancels it.
    void AnswerOpenFile(const QString& title, const QString& file, int filterIndex = 1) {
        script_.push_back({"OpenFile", title, false, {!file.isEmpty(), file, filterIndex}, {}});
    }
    void AnswerSaveFile(const QString& title, const QString& file, int filterIndex = 1) {
        script_.push_back({"SaveFile", title, false, {!file.isEmpty(), file, filterIndex}, {}});
    }
    // The span dialog, answered with `choice` (not accepted: cancelled); its
    // call's text is the spans offered, joined by "|".
    void AnswerRecordingSpan(const QStringList& spans, const app::RecordingSpanChoice& choice) {
        script_.push_back({"RecordingSpan", spans.join('|'), false, {}, {}, choice});
    }

    // The user cancels the next long piece of work once it reports this much
    // done (0 to 1); below 0 (the default) nothing is cancelled.
    void CancelProgressAt(double done) { cancelAt_ = done; }

    // True when every scripted step was used; reports the rest otherwise.
    bool ScriptDone() const {
        for (const Step& step : script_)
            qWarning().noquote() << "scripted" << step.kind << "never came:" << step.text;
        return script_.empty();
    }
    const QStringList& Failures() const { return failures_; }

    // --- What happened
    const QList<Call>& Calls() const { return calls_; }
    QStringList Texts(const QString& kind) const {
        QStringList texts;
        for (const Call& call : calls_)
            if (call.kind == kind)
                texts.append(call.text);
        return texts;
    }
    const QList<app::FileDialogRequest>& Dialogs() const { return dialogs_; }
    // The choice the span dialog last opened with.
    const app::RecordingSpanChoice& SpanInitial() const { return spanInitial_; }
    const QImage& ClipboardImage() const { return clipboardImage_; }
    QString ClipboardText() const { return clipboardText_; }
    const QList<QPair<int, int>>& Beeps() const { return beeps_; }
    void ClearCalls() { calls_.clear(); }
    // Boxes and dialogs open right now (nested ones count each).
    int OpenBoxes() const { return openBoxes_; }

    // --- UiServices
    void Message(const QString& text) override { Box("Message", text); }
    void ErrorBox(const QString& text) override { Box("ErrorBox", text); }
    bool Confirm(const QString& question) override {
        const Step* step = Box("Confirm", question);
        return step && step->yes;
    }
    app::FileChoice OpenFile(const app::FileDialogRequest& dialog) override {
        dialogs_.append(dialog);
        const Step* step = Box("OpenFile", dialog.title);
        return step ? step->file : app::FileChoice{};
    }
    app::FileChoice SaveFile(const app::FileDialogRequest& dialog) override {
        dialogs_.append(dialog);
        const Step* step = Box("SaveFile", dialog.title);
        return step ? step->file : app::FileChoice{};
    }
    app::RecordingSpanChoice ChooseRecordingSpan(const QStringList& spans,
                                                 const app::RecordingSpanChoice& initial) override {
        spanInitial_ = initial;
        const Step* step = Box("RecordingSpan", spans.join('|'));
        return step ? step->span : app::RecordingSpanChoice{};
    }
    void SetClipboardText(const QString& text) override {
        clipboardText_ = text;
        calls_.append({"ClipboardText", text});
    }
    void SetClipboardImage(const QImage& image) override {
        clipboardImage_ = image;
        calls_.append(
            {"ClipboardImage", QStringLiteral("%1x%2").arg(image.width()).arg(image.height())});
    }
    void ShellOpen(const QString& target) override { calls_.append({"ShellOpen", target}); }
    void Beep(int frequencyHz, int durationMs) override {
        beeps_.append({frequencyHz, durationMs});
        calls_.append({"Beep", QStringLiteral("%1 Hz %2 ms").arg(frequencyHz).arg(durationMs)});
    }
    std::unique_ptr<app::ProgressReport> StartProgress(const QString& label) override {
        calls_.append({"Progress", label});
        struct Report final : app::ProgressReport {
            double cancelAt;
            explicit Report(double at) : cancelAt(at) {}
            bool Update(double done) override { return cancelAt < 0 || done < cancelAt; }
        };
        const double at = cancelAt_;
        cancelAt_ = -1;
        return std::make_unique<Report>(at);
    }

private:
    struct Step {
        QString kind;
        QString text;
        bool yes = false;
        app::FileChoice file;
        Hold hold;
        app::RecordingSpanChoice span = {};
    };

    const Step* Box(const char* kind, const QString& text) {
        calls_.append({QLatin1String(kind), text});
        if (script_.empty() || script_.front().kind != QLatin1String(kind) ||
            script_.front().text != text) {
            const QString expected = script_.empty()
                                         ? QStringLiteral("nothing")
                                         : script_.front().kind + QStringLiteral(" \"") +
                                               script_.front().text + QLatin1Char('"');
            Fail(QStringLiteral("unscripted %1 \"%2\" (script expected %3)")
                     .arg(QLatin1String(kind), text, expected));
            return nullptr;
        }
        Step step = std::move(script_.front());
        script_.pop_front();
        if (step.hold.ms > 0 || step.hold.until)
            HoldOpen(step);
        answered_ = std::move(step);
        return &answered_;
    }

    void HoldOpen(const Step& step) {
        ++openBoxes_;
        QEventLoop loop;
        bool came = false;
        QTimer deadline, poll;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        if (step.hold.until) {
            QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
                if (!came && step.hold.until()) {
                    came = true;
                    loop.quit();
                }
            });
            poll.start(1);
        }
        deadline.start(step.hold.ms);
        loop.exec();
        --openBoxes_;
        if (step.hold.until && !came)
            Fail(QStringLiteral("%1 \"%2\" was held open %3 ms for what never came")
                     .arg(step.kind, step.text)
                     .arg(step.hold.ms));
    }

    void Fail(const QString& why) {
        failures_.append(why);
        if (QTest::currentTestFunction())
            QTest::qFail(why.toUtf8().constData(), __FILE__, __LINE__);
        else
            qCritical().noquote() << why;
    }

    std::deque<Step> script_;
    Step answered_;
    QList<Call> calls_;
    QStringList failures_;
    QList<app::FileDialogRequest> dialogs_;
    app::RecordingSpanChoice spanInitial_;
    QString clipboardText_;
    QImage clipboardImage_;
    QList<QPair<int, int>> beeps_;
    int openBoxes_ = 0;
    double cancelAt_ = -1;
};

} // namespace korvinet::testing
