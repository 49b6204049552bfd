#include "app/main_window.h"
#include "app/options_dialog.h"

#include "device/serial_finder.h"
#include "graph/chart.h"

#include "platform/regional.h"
#include "platform/text_format.h"
#include "settings/settings_io.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace korvinet::app {

void TFormMain::LoadSettings() {
    if (!settings::ReadSettings(deps_.store, &Options))
        RestoreDefaults(); // nothing said: a first run looks just like this

    // The check boxes run their click handlers as they change, and those
    // handlers copy control contents into the record, some of them from
    // controls filled later in the list. What was loaded is kept aside and
    // put back at the end, so the record and every control end up holding
    // exactly the loaded values.
    const _Options loaded = Options;

    ValUnits->setCurrentIndex(loaded.UnitsIndex);
    CountTime->setCurrentIndex(loaded.AveragingTimeIndex);
    SetChecked(CheckBoxBeep, loaded.BeepEnabled);
    SetChecked(AlarmEnabled, loaded.AlarmEnabled);
    EditAlarmLevel->setText(platform::FormatC("%.3f", loaded.AlarmLevel));
    SetChecked(AlarmBuzzer, loaded.AlarmBuzzer);
    EditChartTitle->setText(loaded.GraphTitle);
    EditChartNotes->setText(loaded.GraphNotes);
    SetChecked(ChartYMaxAuto, loaded.YMaxAutoEnabled);
    EditChartYMax->setText(deps_.regional.GeneralFloatText(loaded.YMaxValue));
    EditMaxSpan->setText(platform::FormatC("%.2f", loaded.MaxSpan));
    FTPHost->setText(loaded.ftpHost);
    FTPUsername->setText(loaded.ftpUsername);
    FTPPassword->setText(loaded.ftpPassword);
    FTPDirectory->setText(loaded.ftpDirectory);
    FTPFilename->setText(loaded.ftpFilename);
    FTPInterval->setText(QString::number(loaded.ftpInterval));
    SetChecked(FTPEnabled, loaded.ftpEnabled);
    FTPFiletype->setCurrentIndex(loaded.ftpFiletype);

    Options = loaded;
}

bool TFormMain::SaveSettings() {
    if (settings::WriteSettings(deps_.store, Options))
        return true;
    deps_.ui.Message(QStringLiteral("Error saving settings!"));
    return false;
}

void TFormMain::RestoreDefaults() {
    Options = _Options{};
    SaveSettings();
}

void TFormMain::FileOptionsClick() {
    const int entry = CountTime->currentIndex();
    TFormOptions dialog(Options,
                        DetectionLimitWarning(Counter, Options.AlarmLevel,
                                              entry >= 0 ? CountTime->itemText(entry) : QString()),
                        this,
                        deps_.serial ? deps_.serial->Ports() : QList<device::SerialPortEntry>());
    const bool accepted =
        RunOptionsDialog ? RunOptionsDialog(dialog) : dialog.exec() == QDialog::Accepted;
    if (!accepted)
        return;
    dialog.ApplyTo(&Options);
    Recording.SetKeepDays(Options.RecordingKeepDays); // from the next day's first reading on
    // Kinds and tubes count from the next search and connection on.
    if (deps_.serial)
        deps_.serial->SetChoices(device::ParseCounterChoices(Options.CounterChoices));
    if (!Options.WarnCountsStopped || !Options.WarnCountsHealth)
        LabelCountsStopped->clear(); // the next tick shows what still applies
    if (!Options.ShowConfidenceBand)
        Band.Clear();
    Chart1->update(); // the band and its statistics line come or go
}

void TFormMain::RestoreDefaultOptionsClick() {
    if (!deps_.ui.Confirm(
            QStringLiteral("Are you sure you want to reset all settings to defaults?")))
        return;
    RestoreDefaults();
    SaveAtExit = false;
    deps_.ui.Message(QStringLiteral("Restart the program for changes to take effect."));
}

} // namespace korvinet::app
