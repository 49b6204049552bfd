#include "app/qt_ui_services.h"

#include "platform/datetime.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QDateTimeEdit>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QFormLayout>
#include <QLabel>
#include <QLibrary>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTextDocument>
#include <QTextOption>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <numbers>

namespace korvinet::app {

namespace {

constexpr int kToneSampleRate = 22050;

// The few ALSA calls a tone needs, looked up at run time so the program
// needs no sound library to build or start.
struct AlsaCalls {
    int (*open)(void** pcm, const char* name, int stream, int mode) = nullptr;
    int (*setParams)(void* pcm, int format, int access, unsigned channels, unsigned rate,
                     int softResample, unsigned latencyUs) = nullptr;
    long (*writei)(void* pcm, const void* buffer, unsigned long frames) = nullptr;
    int (*close)(void* pcm) = nullptr;

    static constexpr int kPlayback = 0;
    static constexpr int kNonBlock = 1;
    static constexpr int kFormatS16Le = 2;
    static constexpr int kAccessRwInterleaved = 3;
};

// A text that lines its values up with tabs (the device information) counts
// on tab stops every eight characters of a fixed-pitch font: with captions
// of different lengths, no tab width keeps such columns in a proportional
// font. The box's label lays its text out in a document of its own once it
// is selectable; its tab stops are set there.
void ShowTabsInColumns(QMessageBox& box) {
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (!label)
        return;
    label->setTextInteractionFlags(label->textInteractionFlags() | Qt::TextSelectableByMouse);
    auto* document = label->findChild<QTextDocument*>();
    if (!document)
        return;
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (label->font().pointSizeF() > 0)
        fixed.setPointSizeF(label->font().pointSizeF());
    else
        fixed.setPixelSize(label->font().pixelSize());
    QTextOption option = document->defaultTextOption();
    option.setTabStopDistance(8 * QFontMetricsF(fixed).horizontalAdvance(QLatin1Char(' ')));
    document->setDefaultTextOption(option);
    label->setFont(fixed);
}

} // namespace

struct QtUiServices::ToneState {
    QStringList playerFolders; // empty: the program search path
    bool useAlsa = true;
    bool playerLookedUp = false;
    QString player;
    bool playerBroken = false;
    std::unique_ptr<QTemporaryFile> file;
    int fileHz = 0, fileMs = 0;
    bool alsaLookedUp = false;
    bool alsaBroken = false;
    AlsaCalls alsa;
};

QtUiServices::QtUiServices() : tone_(std::make_shared<ToneState>()) {}

QtUiServices::~QtUiServices() = default;

void QtUiServices::Message(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Korvinet"), text, QMessageBox::Ok, owner_);
    if (text.contains(QLatin1Char('\t')))
        ShowTabsInColumns(box);
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

FileChoice QtUiServices::RunDialog(const FileDialogRequest& profile, bool save) {
    QFileDialog dialog(owner_, profile.title);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(profile.filters);
    if (profile.filterIndex >= 1 && profile.filterIndex <= profile.filters.size())
        dialog.selectNameFilter(profile.filters.at(profile.filterIndex - 1));
    dialog.setDefaultSuffix(profile.defaultExt);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !profile.overwritePrompt);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (!profile.directory.isEmpty())
        dialog.setDirectory(profile.directory);
    if (!profile.fileName.isEmpty())
        dialog.selectFile(profile.fileName);
    FileChoice choice;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return choice;
    choice.accepted = true;
    choice.fileName = dialog.selectedFiles().front();
    choice.filterIndex = static_cast<int>(profile.filters.indexOf(dialog.selectedNameFilter())) + 1;
    return choice;
}

FileChoice QtUiServices::OpenFile(const FileDialogRequest& dialog) {
    return RunDialog(dialog, false);
}

FileChoice QtUiServices::SaveFile(const FileDialogRequest& dialog) {
    return RunDialog(dialog, true);
}

RecordingSpanChoice QtUiServices::ChooseRecordingSpan(const QStringList& spans,
                                                      const RecordingSpanChoice& initial) {
    QDialog dialog(owner_);
    dialog.setWindowTitle(QStringLiteral("Open Recording"));
    auto* layout = new QVBoxLayout(&dialog);
    QButtonGroup group(&dialog);
    for (int i = 0; i < spans.size(); ++i) {
        auto* button = new QRadioButton(spans.at(i), &dialog);
        group.addButton(button, i);
        layout->addWidget(button);
    }
    const auto field = [&dialog](double at) {
        auto* edit = new QDateTimeEdit(platform::QtFromDateTime(at), &dialog);
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
        return edit;
    };
    QDateTimeEdit* from = field(initial.rangeFrom);
    QDateTimeEdit* to = field(initial.rangeTo);
    auto* range = new QFormLayout;
    range->addRow(QStringLiteral("From:"), from);
    range->addRow(QStringLiteral("To:"), to);
    layout->addLayout(range);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    // The date-time fields belong to the range, the last choice.
    const auto enableRange = [&group, from, to, last = static_cast<int>(spans.size()) - 1] {
        from->setEnabled(group.checkedId() == last);
        to->setEnabled(group.checkedId() == last);
    };
    QObject::connect(&group, &QButtonGroup::idClicked, &dialog, enableRange);
    if (QAbstractButton* chosen = group.button(initial.span))
        chosen->setChecked(true);
    enableRange();

    RecordingSpanChoice choice;
    if (dialog.exec() != QDialog::Accepted || group.checkedId() < 0)
        return choice;
    choice.accepted = true;
    choice.span = group.checkedId();
    choice.rangeFrom = platform::DateTimeFromQt(from->dateTime());
    choice.rangeTo = platform::DateTimeFromQt(to->dateTime());
    return choice;
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

QByteArray QtUiServices::ToneWav(int frequencyHz, int durationMs, int sampleRate) {
    const qint64 frames = std::max<qint64>(0, qint64(sampleRate) * std::max(durationMs, 0) / 1000);
    const qint64 dataBytes = frames * 2;
    QByteArray wav(44 + dataBytes, Qt::Uninitialized);
    char* p = wav.data();
    const auto put32 = [&p](quint32 v) {
        qToLittleEndian(v, p);
        p += 4;
    };
    const auto put16 = [&p](quint16 v) {
        qToLittleEndian(v, p);
        p += 2;
    };
    const auto tag = [&p](const char* fourCc) {
        std::copy_n(fourCc, 4, p);
        p += 4;
    };
    tag("RIFF");
    put32(static_cast<quint32>(36 + dataBytes));
    tag("WAVE");
    tag("fmt ");
    put32(16);
    put16(1); // PCM
    put16(1); // mono
    put32(static_cast<quint32>(sampleRate));
    put32(static_cast<quint32>(sampleRate * 2));
    put16(2);  // bytes per frame
    put16(16); // bits per sample
    tag("data");
    put32(static_cast<quint32>(dataBytes));

    // 5 ms fades: a sine cut off mid-swing clicks.
    const qint64 fade = std::max<qint64>(1, sampleRate / 200);
    const double step = 2 * std::numbers::pi * frequencyHz / sampleRate;
    for (qint64 i = 0; i < frames; ++i) {
        const double edge = std::min({1.0, double(i) / fade, double(frames - 1 - i) / fade});
        const double value = 0.5 * 32767 * edge * std::sin(step * double(i));
        put16(static_cast<quint16>(static_cast<qint16>(std::lround(value))));
    }
    return wav;
}

void QtUiServices::SetToneOutput(const QStringList& playerFolders, bool useAlsa) {
    tone_->playerFolders = playerFolders;
    tone_->useAlsa = useAlsa;
    tone_->playerLookedUp = false;
    tone_->playerBroken = false;
}

bool QtUiServices::PlayWithPlayer(int frequencyHz, int durationMs) {
    ToneState& state = *tone_;
    if (!state.playerLookedUp) {
        state.playerLookedUp = true;
        state.player.clear();
        for (const char* name : {"pw-play", "paplay", "aplay"}) {
            state.player =
                state.playerFolders.isEmpty()
                    ? QStandardPaths::findExecutable(QLatin1String(name))
                    : QStandardPaths::findExecutable(QLatin1String(name), state.playerFolders);
            if (!state.player.isEmpty())
                break;
        }
    }
    if (state.player.isEmpty() || state.playerBroken)
        return false;

    if (!state.file || state.fileHz != frequencyHz || state.fileMs != durationMs) {
        auto file = std::make_unique<QTemporaryFile>(
            QDir::temp().filePath(QStringLiteral("korvinet-tone-XXXXXX.wav")));
        if (!file->open() || file->write(ToneWav(frequencyHz, durationMs, kToneSampleRate)) < 0 ||
            !file->flush())
            return false;
        state.file = std::move(file);
        state.fileHz = frequencyHz;
        state.fileMs = durationMs;
    }

    auto* process = new QProcess;
    process->setProgram(state.player);
    QStringList arguments;
    if (QFileInfo(state.player).fileName() == QLatin1String("aplay"))
        arguments << QStringLiteral("-q");
    arguments << state.file->fileName();
    process->setArguments(arguments);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    // A player that cannot reach a sound server fails: this tone sounds as
    // the bell, and later ones go another way.
    const std::weak_ptr<ToneState> weak = tone_;
    const auto failed = [weak] {
        if (const auto s = weak.lock())
            s->playerBroken = true;
        QApplication::beep();
    };
    QObject::connect(process, &QProcess::finished, process,
                     [process, failed](int code, QProcess::ExitStatus status) {
                         if (code != 0 || status != QProcess::NormalExit)
                             failed();
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, failed](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return; // finished() follows
                         failed();
                         process->deleteLater();
                     });
    // A player stuck on a sound server that never answers is not waited for.
    QTimer::singleShot(durationMs + 10000, process, [process] { process->kill(); });
    process->start();
    return true;
}

bool QtUiServices::PlayWithAlsa(int frequencyHz, int durationMs) {
    ToneState& state = *tone_;
    if (!state.useAlsa || state.alsaBroken)
        return false;
    AlsaCalls& alsa = state.alsa;
    if (!state.alsaLookedUp) {
        state.alsaLookedUp = true;
        // Never unloaded: playbacks still running keep calling into it.
        QLibrary library(QStringLiteral("asound"), 2);
        alsa.open = reinterpret_cast<decltype(alsa.open)>(library.resolve("snd_pcm_open"));
        alsa.setParams =
            reinterpret_cast<decltype(alsa.setParams)>(library.resolve("snd_pcm_set_params"));
        alsa.writei = reinterpret_cast<decltype(alsa.writei)>(library.resolve("snd_pcm_writei"));
        alsa.close = reinterpret_cast<decltype(alsa.close)>(library.resolve("snd_pcm_close"));
    }
    if (!alsa.open || !alsa.setParams || !alsa.writei || !alsa.close) {
        state.alsaBroken = true;
        return false;
    }
    void* pcm = nullptr;
    if (alsa.open(&pcm, "default", AlsaCalls::kPlayback, AlsaCalls::kNonBlock) < 0) {
        state.alsaBroken = true;
        return false;
    }
    if (alsa.setParams(pcm, AlsaCalls::kFormatS16Le, AlsaCalls::kAccessRwInterleaved, 1,
                       kToneSampleRate, 1, static_cast<unsigned>(durationMs + 250) * 1000u) < 0) {
        alsa.close(pcm);
        state.alsaBroken = true;
        return false;
    }

    // Feed the device without blocking: whatever fits now, the rest as
    // room comes free; close once the tone has had time to play out.
    struct Playback {
        AlsaCalls alsa;
        void* pcm;
        QByteArray samples;
        long frames;
        long written = 0;
        int durationMs;
        QElapsedTimer started;
    };
    auto playback = std::make_shared<Playback>(
        Playback{alsa,
                 pcm,
                 ToneWav(frequencyHz, durationMs, kToneSampleRate).mid(44),
                 0,
                 0,
                 durationMs,
                 {}});
    playback->frames = static_cast<long>(playback->samples.size() / 2);
    playback->started.start();
    auto* feeder = new QTimer;
    feeder->setInterval(20);
    const auto feed = [playback, feeder] {
        Playback& p = *playback;
        if (p.written < p.frames) {
            const long n = p.alsa.writei(p.pcm, p.samples.constData() + 2 * p.written,
                                         static_cast<unsigned long>(p.frames - p.written));
            if (n > 0)
                p.written += n;
            else if (n != -EAGAIN)
                p.written = p.frames; // the device gave up; stop feeding it
        }
        if (p.written >= p.frames && p.started.hasExpired(p.durationMs + 300)) {
            p.alsa.close(p.pcm);
            feeder->stop();
            feeder->deleteLater();
        }
    };
    QObject::connect(feeder, &QTimer::timeout, feeder, feed);
    feed();
    feeder->start();
    return true;
}

void QtUiServices::Beep(int frequencyHz, int durationMs) {
    if (frequencyHz <= 0 || durationMs <= 0)
        return;
    if (PlayWithPlayer(frequencyHz, durationMs) || PlayWithAlsa(frequencyHz, durationMs))
        return;
    // The desktop's bell: pitch and length cannot be chosen.
    QApplication::beep();
}

namespace {

// A window-modal progress dialog: it appears once the work has taken half a
// second, and each update lets the event loop run so Cancel can be clicked.
class DialogProgress final : public ProgressReport {
public:
    DialogProgress(QWidget* owner, const QString& label)
        : dialog_(label, QStringLiteral("Cancel"), 0, kSteps, owner) {
        dialog_.setWindowTitle(QApplication::applicationName());
        dialog_.setWindowModality(Qt::WindowModal);
        dialog_.setMinimumDuration(500);
        dialog_.setAutoClose(false);
        dialog_.setAutoReset(false);
        dialog_.setValue(0);
    }

    bool Update(double done) override {
        dialog_.setValue(static_cast<int>(std::clamp(done, 0.0, 1.0) * kSteps));
        return !dialog_.wasCanceled();
    }

private:
    static constexpr int kSteps = 1000;
    QProgressDialog dialog_;
};

} // namespace

std::unique_ptr<ProgressReport> QtUiServices::StartProgress(const QString& label) {
    return std::make_unique<DialogProgress>(owner_, label);
}

void QtUiServices::ErrorBox(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Korvinet"), text, QMessageBox::Ok,
                    owner_);
    box.exec();
}

} // namespace korvinet::app
