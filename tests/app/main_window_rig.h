#pragma once

#include "app/main_window.h"
#include "app/options_dialog.h"
#include "device/serial_finder.h"
#include "device/simulated_driver.h"
#include "platform/clock.h"
#include "platform/regional.h"
#include "scripted_ui_services.h"
#include "settings/reg_file_store.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace korvinet::testing {

// Lets a timer's events through only when `admit` says so.
class TimerGate final : public QObject {
public:
    explicit TimerGate(std::function<bool()> admit) : admit_(std::move(admit)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Timer && !admit_())
            return true;
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<bool()> admit_;
};

// Everything a main window needs, with the real settings file and the
// recordings folder in a temporary folder, a simulated driver without counters, a hand-moved clock
// at 2012-03-14 09:00:00 and the C locale. Add counters to `driver` and script `ui` before calling
// Open().
//
// The window's timers run for real, at a test pace: CountTimer every
// kCountMs, TimerProgressBar every kProgressMs. Each CountTimer tick takes one
// planned sample: just before the window's handler runs, the clock moves on
// by the sample's milliseconds and the first counter receives its counts. A
// tick with no sample planned is held back from the window, so a test decides
// how many samples are taken while the event loop decides when they come and
// what runs around them.
struct MainWindowRig {
    static constexpr int kCountMs = 20;
    static constexpr int kProgressMs = 5;
    static constexpr int kWaitMs = 10000; // for anything that should come

    struct Sample {
        std::uint32_t counts = 0;
        std::uint32_t ms = 3000;
    };
    // What the window showed right after each tick it ran.
    struct TickSeen {
        int points = 0;
        std::uint32_t total = 0; // accumulated counts
        int openBoxes = 0;
    };

    platform::ManualClock clock{123456, 40982.375};
    device::SimulatedDriver driver{clock, 7};
    ScriptedUiServices ui;
    app::UiServices* services = &ui; // point elsewhere to use other UI services
    QTemporaryDir dir;
    settings::RegFileSettingsStore fileStore{dir.filePath(QStringLiteral("Tickplot.reg"))};
    settings::SettingsStore* store = &fileStore; // point elsewhere to wrap or replace the store
    platform::Regional regional{QLocale::c()};
    QString recordingsFolder = dir.filePath(QStringLiteral("recordings"));
    device::SerialFinder* serial = nullptr; // point at a finder for counters on serial ports
    std::unique_ptr<app::TFormMain> window;

    // Answers File > "Options...": sets the dialog's controls and says
    // whether OK was pressed. Without it the dialog is cancelled.
    std::function<bool(app::TFormOptions&)> options;
    int optionsShown = 0;

    std::deque<Sample> planned;
    int plannedTotal = 0;
    int ticks = 0; // CountTimer ticks the window has run
    std::vector<TickSeen> seen;

    // `testPace` false keeps the program's own timer intervals.
    app::TFormMain& Open(bool testPace = true) {
        window = std::make_unique<app::TFormMain>(app::MainWindowDeps{
            driver, clock, *services, *store, regional, recordingsFolder, serial});
        window->RunOptionsDialog = [this](app::TFormOptions& dialog) {
            ++optionsShown;
            return options && options(dialog);
        };
        if (!testPace)
            return *window;
        window->CountTimer->setInterval(kCountMs);
        window->TimerProgressBar->setInterval(kProgressMs);
        gate_ = std::make_unique<TimerGate>([this] { return AdmitTick(); });
        window->CountTimer->installEventFilter(gate_.get());
        // Connected after the window's own handler, so it runs after it.
        QObject::connect(window->CountTimer, &QTimer::timeout, gate_.get(), [this] {
            ++ticks;
            seen.push_back(
                {window->GraphPointCount(), window->Counter.AccumulatedTotal(), ui.OpenBoxes()});
        });
        return *window;
    }
    // Destroys the window as the program's end does (saving the settings).
    void Close() { window.reset(); }

    int AddCounter(int number = 0, double cpm = 30.0) {
        return driver.AddDevice(device::SimulatedDriver::DemoDevice(number, cpm));
    }

    void Plan(std::uint32_t counts, std::uint32_t ms = 3000, int times = 1) {
        for (int i = 0; i < times; ++i)
            planned.push_back({counts, ms});
        plannedTotal += times;
    }
    // Waits until the window has run every sample planned so far, then lets
    // the event loop deliver what the ticks queued (their boxes).
    [[nodiscard]] bool RunPlanned() {
        if (!QTest::qWaitFor([this] { return ticks >= plannedTotal; }, kWaitMs))
            return false;
        QCoreApplication::sendPostedEvents();
        return true;
    }

private:
    bool AdmitTick() {
        if (planned.empty())
            return false;
        clock.Advance(planned.front().ms);
        if (planned.front().counts > 0)
            driver.InjectPulses(0, planned.front().counts);
        planned.pop_front();
        return true;
    }

    std::unique_ptr<TimerGate> gate_;
};

} // namespace korvinet::testing
