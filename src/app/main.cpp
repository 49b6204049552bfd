#include "app/about_window.h"
#include "app/app_identity.h"
#include "app/driver_choice.h"
#include "app/main_window.h"
#include "app/qt_ui_services.h"
#include "platform/clock.h"
#include "platform/regional.h"
#include "recording/journal_folder.h"
#include "settings/reg_file_store.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <memory>

namespace {

// Shows a failure that escaped an event handler and lets the program go on.
class GuardedApplication final : public QApplication {
public:
    using QApplication::QApplication;

    korvinet::UiServices* ui = nullptr;

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

} // namespace

int main(int argc, char* argv[]) {
    GuardedApplication app(argc, argv);
    korvinet::NameApplication();

    try {
        korvinet::SystemClock clock;
        korvinet::Regional regional;
        korvinet::QtUiServices ui;
        app.ui = &ui;
        korvinet::RegFileSettingsStore store(korvinet::RegFileSettingsStore::DefaultPath());
        const std::unique_ptr<korvinet::D2xxDriver> driver =
            korvinet::CreateDriver(korvinet::ReadDriverChoice(), clock);

        auto main = std::make_unique<korvinet::TFormMain>(korvinet::MainWindowDeps{
            *driver, clock, ui, store, regional, korvinet::DefaultRecordingsFolder()});
        ui.SetOwner(main.get());
        auto about = std::make_unique<korvinet::TFormAbout>();
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
