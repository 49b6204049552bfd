#pragma once

#include <memory>

#include <QImage>
#include <QString>
#include <QStringList>

namespace korvinet::app {

// How a standard open or save dialog is set up: one entry per filter, such
// as "JPEG Image (*.jpg)".
struct FileDialogRequest {
    QString title;
    QString defaultExt;  // added to a name typed without extension
    QStringList filters; // "Description (*.ext)"
    int filterIndex = 1; // 1-based, the filter selected when the dialog opens
    QString fileName;    // proposed file
    QString directory;   // folder the dialog starts in; empty: the dialog's own choice
    bool overwritePrompt = false;
};

struct FileChoice {
    bool accepted = false;
    QString fileName;
    int filterIndex = 0; // 1-based index of the filter in use when accepted
};

// The span of the recording journal to open: one of the spans offered
// (0-based), the last of them the range between two local date-times (days
// since 30 December 1899, as the clock gives).
struct RecordingSpanChoice {
    bool accepted = false;
    int span = 0;
    double rangeFrom = 0.0;
    double rangeTo = 0.0;
};

// A long piece of work the user sees progress of and may cancel.
class ProgressReport {
public:
    virtual ~ProgressReport() = default;
    // How much is done, 0 to 1; false once the user cancelled.
    virtual bool Update(double done) = 0;
};

// Everything the windows ask of the desktop: boxes, dialogs, clipboard, the
// shell and the speaker. The windows reach it only through this interface, so
// tests can script the user's answers and see every text shown. Every
// method is pure: a wrapper that forgets one does not compile, instead of
// quietly doing nothing.
class UiServices {
public:
    virtual ~UiServices() = default;

    // A plain box captioned with the application title and one OK button.
    virtual void Message(const QString& text) = 0;
    // A box captioned "Confirm" with a question mark and "&Yes"/"&No";
    // true only for Yes.
    virtual bool Confirm(const QString& question) = 0;
    virtual FileChoice OpenFile(const FileDialogRequest& dialog) = 0;
    virtual FileChoice SaveFile(const FileDialogRequest& dialog) = 0;
    // The dialog of "Open Recording...": one of `spans` or a range, the
    // choice given in `initial` selected when it opens.
    virtual RecordingSpanChoice ChooseRecordingSpan(const QStringList& spans,
                                                    const RecordingSpanChoice& initial) = 0;
    virtual void SetClipboardText(const QString& text) = 0;
    virtual void SetClipboardImage(const QImage& image) = 0;
    // Opens a URL, or a local file with its viewer; the outcome is not
    // reported.
    virtual void ShellOpen(const QString& target) = 0;
    virtual void Beep(int frequencyHz, int durationMs) = 0;
    // Shows a failure that escaped a command, captioned "Korvinet".
    virtual void ErrorBox(const QString& text) = 0;
    // Starts reporting a long piece of work (the report ends with the
    // object): a progress bar with Cancel once the work has taken half a
    // second. Null where nothing is shown; the work then runs to its end.
    virtual std::unique_ptr<ProgressReport> StartProgress(const QString& label) = 0;
};

} // namespace korvinet::app
