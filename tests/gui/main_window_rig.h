#pragma once

#include "app/main_window.h"
#include "device/simulated_driver.h"
#include "platform/clock.h"
#include "platform/regional.h"
#include "scripted_ui_services.h"
#include "settings/reg_file_store.h"

#include <QTemporaryDir>
#include <memory>

namespace korvinet::testing {

// Everything a main window needs, with the real settings file and the
// recordings folder in a temporary folder, a simulated driver without
// counters, a hand-moved clock at 2012-03-14 09:00:00 and the C locale. Add
// counters to `driver` and script `ui` before calling Open().
struct MainWindowRig {
    ManualClock clock{123456, 40982.375};
    SimulatedDriver driver{clock, 7};
    ScriptedUiServices ui;
    QTemporaryDir dir;
    RegFileSettingsStore fileStore{dir.filePath(QStringLiteral("Tickplot.reg"))};
    SettingsStore* store = &fileStore; // point elsewhere to wrap or replace the store
    Regional regional{QLocale::c()};
    QString recordingsFolder = dir.filePath(QStringLiteral("recordings"));
    std::unique_ptr<TFormMain> window;

    TFormMain& Open() {
        window = std::make_unique<TFormMain>(
            MainWindowDeps{driver, clock, ui, *store, regional, recordingsFolder});
        return *window;
    }
    // Destroys the window as the program's end does (saving the settings).
    void Close() { window.reset(); }

    int AddCounter(int number = 0, double cpm = 30.0) {
        return driver.AddDevice(SimulatedDriver::DemoDevice(number, cpm));
    }
};

} // namespace korvinet::testing
