#include "app/about_window.h"
#include "app/app_identity.h"
#include "app/main_window.h"
#include "app/qt_ui_services.h"
#include "device/driver_choice.h"
#include "net/update_check.h"
#include "platform/clock.h"
#include "platform/regional.h"
#include "platform/stop_signals.h"
#include "platform/version.h"
#include "settings/reg_file_store.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

namespace {

// Shows a failure that escaped an event handler and lets the program go on.
class GuardedApplication final : public QApplication {
public:
    using QApplication::QApplication;

    korvinet::app::UiServices* ui = nullptr;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            Report(QString::fromLocal8Bit(e.what()));
        } catch (...) {
            Report(QStringLiteral("Unknown error"));
        }
        return false;
    }

private:
    void Report(const QString& text) {
        if (ui)
            ui->ErrorBox(text);
    }
};

constexpr char kUsage[] =
    "Usage: korvinet [--help | --version]\n"
    "Shows, graphs and records the readings of a USB Geiger counter.\n"
    "\n"
    "Without options the window opens; when exactly one counter is attached,\n"
    "Korvinet connects to it at once.\n"
    "\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "Environment: KORVINET_DRIVER=simulator|libftdi|d2xx chooses the counter driver.\n"
    "KORVINET_SIM_KIND=text-line|pulse-byte|rad-pro|gmc-300|gmc-500 makes the\n"
    "simulated counters serial counters of that kind, each on a pseudo-terminal.\n";

// --help and --version answer on the terminal before anything of the window
// system is touched, so they work without a display (in scripts, over ssh,
// in package checks). Returns true when one of them was answered.
bool AnswerInfoOption(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("korvinet %s\n", qPrintable(korvinet::platform::OwnVersionText()));
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    if (AnswerInfoOption(argc, argv))
        return 0;
    GuardedApplication app(argc, argv);
    korvinet::app::NameApplication();

    try {
        korvinet::platform::SystemClock clock;
        korvinet::platform::Regional regional;
        korvinet::app::QtUiServices ui;
        app.ui = &ui;
        korvinet::settings::RegFileSettingsStore store(
            korvinet::settings::RegFileSettingsStore::DefaultPath());
        const korvinet::device::CounterDrivers drivers =
            korvinet::device::CreateCounterDrivers(korvinet::device::ReadDriverChoice(), clock);

        // A logout (SIGTERM), Ctrl+C in the terminal (SIGINT) or a closed
        // terminal (SIGHUP) ends the run as File > Exit does: the settings
        // are saved and the journal marked clean, so the next start does not
        // take the session for a crash. One that comes while the window is
        // still being made (a box of its start) closes it once it is there.
        std::unique_ptr<korvinet::app::TFormMain> main;
        bool stopAsked = false;
        korvinet::platform::StopSignalRoute stopSignals;
        QString routing;
        if (!stopSignals.Route(
                {SIGTERM, SIGINT, SIGHUP},
                [&](int) {
                    stopAsked = true;
                    if (main)
                        main->close();
                },
                &routing))
            std::fprintf(stderr, "korvinet: %s\n", qPrintable(routing));

        main = std::make_unique<korvinet::app::TFormMain>(korvinet::app::MainWindowDeps{
            *drivers.ftdi, clock, ui, store, regional,
            korvinet::recording::Recorder::DefaultJournalFolder(), drivers.serial.get()});
        if (stopAsked)
            QTimer::singleShot(0, main.get(), &QWidget::close);
        ui.SetOwner(main.get());
        auto about = std::make_unique<korvinet::app::TFormAbout>();
        main->SetAboutWindow(about.get());
        main->show();
        const int status = QApplication::exec();
        about.reset();
        ui.SetOwner(nullptr);
        main.reset(); // saves the settings
        app.ui = nullptr;
        return status;
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QStringLiteral("Korvinet"),
                              QString::fromLocal8Bit(e.what()));
    }
    return 0;
}
