#pragma once

#include "app/ui_services.h"

#include <QByteArray>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <memory>

class QTemporaryFile;

namespace korvinet::app {

// The desktop's own boxes, dialogs, clipboard and shell.
class QtUiServices final : public UiServices {
public:
    QtUiServices();
    ~QtUiServices() override;

    // Boxes and dialogs are modal to the owner once it is set.
    void SetOwner(QWidget* owner) { owner_ = owner; }

    void Message(const QString& text) override;
    bool Confirm(const QString& question) override;
    FileChoice OpenFile(const FileDialogRequest& dialog) override;
    FileChoice SaveFile(const FileDialogRequest& dialog) override;
    // A box of choices, one per span, and two date-time fields for the
    // range, enabled while the range is chosen.
    RecordingSpanChoice ChooseRecordingSpan(const QStringList& spans,
                                            const RecordingSpanChoice& initial) override;
    void SetClipboardText(const QString& text) override;
    void SetClipboardImage(const QImage& image) override;
    void ShellOpen(const QString& target) override;
    // Plays a real tone of that pitch and length on the sound system without
    // waiting for it: through the first sound player found (pw-play, paplay,
    // aplay) or else ALSA's default device; where neither works, the
    // desktop's bell.
    void Beep(int frequencyHz, int durationMs) override;
    void ErrorBox(const QString& text) override;
    std::unique_ptr<ProgressReport> StartProgress(const QString& label) override;

    // Where Beep looks for players (empty: the program search path), and
    // whether it may fall back to ALSA itself.
    void SetToneOutput(const QStringList& playerFolders, bool useAlsa);

    // The tone as a WAV file: mono, 16-bit PCM, a sine wave at full length
    // with short fades at both ends so it starts and stops without a click.
    static QByteArray ToneWav(int frequencyHz, int durationMs, int sampleRate = 22050);

private:
    struct ToneState;

    FileChoice RunDialog(const FileDialogRequest& dialog, bool save);
    bool PlayWithPlayer(int frequencyHz, int durationMs);
    bool PlayWithAlsa(int frequencyHz, int durationMs);

    QPointer<QWidget> owner_;
    std::shared_ptr<ToneState> tone_;
};

} // namespace korvinet::app
