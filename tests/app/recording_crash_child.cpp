// The real main window over a simulated counter, at a test pace, for the
// recording crash test: the test kills it at random moments and starts it
// again on the same recordings folder.
//
//   recording_crash_child <recordings folder> <settings file> <epoch ms> <exit after>
//
// Time runs kPace times faster than the system clock from <epoch ms> on (a
// wall-clock reference shared by every start, so each start goes on where the
// last one stopped), and the window samples every kCountMs: each sample
// covers about three seconds of its time, as at the program's own pace. It reports
// on standard output, one write per line:
//   "point <second> <reading> <red>" for each point on the graph at start,
//   "ready <status line>"            once the window is built,
//   "tick <second> <reading> <red>"  after each tick that added a point,
// where <second> is the point's date-time in whole seconds. A tick is
// reported after the window's tick handler, and so the journal append, has
// returned. With <exit after> >= 0 the window runs File > Exit after that
// many ticks; otherwise it runs until killed.
#include "app/main_window.h"
#include "device/simulated_driver.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/regional.h"
#include "settings/reg_file_store.h"
#include "support/series_points.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <unistd.h>

namespace {

using namespace korvinet;

constexpr int kPace = 300;
constexpr int kCountMs = 10;
// 2012-03-14 09:00 local: the readings of the whole run fall on one day.
constexpr double kEpochDateTime = 40982.375;

qint64 WallMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

class FastClock final : public platform::Clock {
public:
    explicit FastClock(qint64 epochMs) : epochMs_(epochMs) {}
    std::uint32_t TickCount() const override {
        return static_cast<std::uint32_t>((WallMs() - epochMs_) * kPace);
    }
    double Now() const override {
        return kEpochDateTime +
               static_cast<double>((WallMs() - epochMs_) * kPace) / platform::kMsPerDay;
    }
    Moment NowWithOffset() const override {
        const double now = Now();
        return {now, platform::QtFromDateTime(now).offsetFromUtc()};
    }

private:
    qint64 epochMs_;
};

// Drops the timer events that come bunched after a stall of the test machine
// (a late timer catches up at once), so that samples stay two seconds of the
// window's time apart at least: the data file keeps whole seconds, and two
// readings in one second could not be told apart. Counted from the end of
// the last tick: a stall inside a tick must not shorten the gap.
class PaceGate final : public QObject {
public:
    explicit PaceGate(const platform::Clock& clock) : clock_(clock) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Timer && clock_.Now() - last_ < 2.0 / 86400.0)
            return true;
        return QObject::eventFilter(watched, event);
    }
    void Ticked() { last_ = clock_.Now(); }

private:
    const platform::Clock& clock_;
    double last_ = 0.0;
};

// Every box is answered at once, as cautiously as possible.
class SilentUi final : public app::UiServices {
public:
    void Message(const QString&) override {}
    bool Confirm(const QString&) override { return false; }
    app::FileChoice OpenFile(const app::FileDialogRequest&) override { return {}; }
    app::RecordingSpanChoice ChooseRecordingSpan(const QStringList&,
                                                 const app::RecordingSpanChoice&) override {
        return {};
    }
    app::FileChoice SaveFile(const app::FileDialogRequest&) override { return {}; }
    void SetClipboardText(const QString&) override {}
    void SetClipboardImage(const QImage&) override {}
    void ShellOpen(const QString&) override {}
    void Beep(int, int) override {}
    void ErrorBox(const QString&) override {}
    std::unique_ptr<app::ProgressReport> StartProgress(const QString&) override { return nullptr; }
};

void Say(const QString& line) {
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    if (::write(STDOUT_FILENO, bytes.constData(), static_cast<size_t>(bytes.size())) < 0)
        std::_Exit(3);
}

QString PointText(const app::TFormMain& w, const graph::GraphPoint& p) {
    // Whole seconds, as the data file's date-time text keeps them.
    const double ms = std::round(p.x * platform::kMsPerDay);
    return QStringLiteral("%1 %2 %3")
        .arg(static_cast<qint64>(std::floor(ms / 1000.0)))
        .arg(w.Counter.FormatValue(p.y))
        .arg(p.color == graph::kColorRed ? 1 : 0);
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 5)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString settings = QString::fromLocal8Bit(argv[2]);
    const qint64 epochMs = QByteArray(argv[3]).toLongLong();
    const int exitAfter = QByteArray(argv[4]).toInt();

    FastClock clock(epochMs);
    device::SimulatedDriver driver(clock, static_cast<std::uint64_t>(WallMs()));
    // About a third of the readings lie above the alarm level.
    driver.AddDevice(device::SimulatedDriver::DemoDevice(0, 30.0));
    SilentUi ui;
    settings::RegFileSettingsStore store(settings);
    platform::Regional regional{QLocale::c()};

    app::TFormMain w(app::MainWindowDeps{driver, clock, ui, store, regional, folder});
    for (const graph::GraphPoint& p : testing::PointsOf(w.Series1))
        Say(QStringLiteral("point ") + PointText(w, p));
    Say(QStringLiteral("ready ") + w.RecordingStatusLbl->text());

    w.Options.AlarmEnabled = true;
    w.Options.AlarmLevel = 0.033;
    w.CountTimer->setTimerType(Qt::PreciseTimer);
    w.CountTimer->setInterval(kCountMs);
    PaceGate gate(clock);
    w.CountTimer->installEventFilter(&gate);
    int ticks = 0;
    std::size_t points = w.Series1.Count();
    const auto done = [&] {
        if (exitAfter >= 0 && ticks >= exitAfter)
            w.Exit1->trigger();
    };
    // Connected after the window's own tick handler, so it runs after it.
    QObject::connect(w.CountTimer, &QTimer::timeout, &w, [&] {
        if (w.Series1.Count() == points)
            return;
        points = w.Series1.Count();
        gate.Ticked();
        ++ticks;
        Say(QStringLiteral("tick ") + PointText(w, testing::PointsOf(w.Series1).back()));
        done();
    });
    QTimer::singleShot(0, &w, done);
    return QApplication::exec();
}
