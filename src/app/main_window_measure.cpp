#include "app/main_window.h"

#include "graph/chart.h"
#include "measure/averaging_time.h"
#include "platform/clock.h"
#include "platform/regional.h"
#include "platform/text_format.h"
#include "recording/recorder_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <algorithm>

namespace korvinet::app {

namespace {

// The entry a list stands on. Both lists also take typed text; text that is
// not exactly one of the entries selects none (-1), even though the list
// still remembers the entry it stood on before the typing.
int SelectedEntry(const QComboBox* list) {
    if (!list->isEditable())
        return list->currentIndex();
    return list->findText(list->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

// Puts a list back on an entry, replacing whatever was typed into it.
void SelectEntry(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    if (list->isEditable())
        list->setEditText(index >= 0 && index < list->count() ? list->itemText(index) : QString());
}

void SetFontColor(QLabel* label, graph::TColor color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, graph::ColorFromTColor(color));
    label->setPalette(palette);
}

} // namespace

measure::MeasurementSession::AlarmSettings TFormMain::TickSettings() const {
    return recording::AlarmSettingsOf(Options);
}

void TFormMain::ShowCountsStopped(const measure::SessionReading& reading) {
    const bool fault = Options.WarnCountsHealth && measure::IsFault(reading.health);
    LabelCountsStopped->setText(reading.countsStopped ? measure::NoCountsText(reading.silentSeconds)
                                : fault               ? QStringLiteral("Counts: ") +
                                              measure::CountsHealthText(reading.health)
                                        : QString());
}

void TFormMain::CountTimerTimer() {
    ProgressBarSample->setValue(0);
    // The reading joins the graph within the tick (the graph is a sink):
    // the warning opens only after this slot has returned, and the ticks
    // that run while it is open add their own points behind this one.
    const measure::MeasurementSession::TickOutcome tick = Recording.Tick(TickSettings());
    const measure::SessionReading& reading = tick.reading;
    if (!reading.Ok()) {
        // The counter is closed now. Like every box asked for by a timer's
        // slot, the error opens once this slot has returned.
        ShowDeviceError();
        return;
    }

    ValReading->setText(reading.text + QLatin1Char(' ') + reading.unitName);
    SetFontColor(ValReading, reading.alarm ? graph::kColorRed : graph::kColorBlack);
    if (tick.alarm.beep)
        deps_.ui.Beep(measure::AlarmRule::kBeepHz, measure::AlarmRule::kBeepMs);
    ShowCountsStopped(reading);
    ShowCounterNote();
    if (tick.alarm.showWarning)
        deps_.ui.Message(tick.warningText);
    if (tick.showCountsStopped)
        deps_.ui.Message(tick.countsStoppedText);
    if (tick.showHealthWarning)
        deps_.ui.Message(tick.healthWarningText);
}

void TFormMain::TimerProgressBarTimer() {
    // One step of the nominal 250 ms, whatever pace the timer runs at. The bar
    // stays full until the next sample empties it (a value beyond the maximum
    // would be ignored rather than clamped).
    ProgressBarSample->setValue(std::min(ProgressBarSample->value() + measure::kProgressStepMs,
                                         ProgressBarSample->maximum()));
}

recording::Recorder::CounterSettings TFormMain::WantedCounterSettings() const {
    // No averaging entry selected (an index stored that the list does not
    // have): the counter keeps the averaging it has.
    const int entry = SelectedEntry(CountTime);
    return {static_cast<std::uint8_t>(Options.UnitsIndex),
            entry >= 0 ? CountTime->itemText(entry) : QString(), Options.BeepEnabled};
}

void TFormMain::EditTimeBaseChange() {
    if (Counter.IsOpen() && !Recording.RestartRate())
        ShowDeviceError(); // the new averaging time is applied all the same
    Recording.SetAveraging(WantedCounterSettings().averagingTime);
    ShowAveragingEntry();
}

void TFormMain::ShowAveragingEntry() {
    const int entry = SelectedEntry(CountTime);
    if (entry >= 0) {
        Options.AveragingTimeIndex = entry;
        SelectEntry(CountTime, entry);
    } else {
        const QString typed = CountTime->currentText();
        SelectEntry(CountTime, Options.AveragingTimeIndex);
        deps_.ui.Message(typed + QStringLiteral(" is not a valid count time!"));
    }

    ProgressBarSample->setValue(0);
    ProgressBarSample->setMaximum(measure::kSampleIntervalMs);
}

void TFormMain::ValUnitsChange() {
    const int unit = SelectedEntry(ValUnits);
    const auto keepUnit = [this] { SelectEntry(ValUnits, Counter.UnitCode()); };
    // Typed text that names no unit is not taken: readings in an unknown
    // unit could be neither shown nor converted.
    if (unit < 0) {
        keepUnit();
        return;
    }
    if (unit == 0 &&
        !deps_.ui.Confirm(QStringLiteral(
            "CPM values will be uncompensated, accuracy may be effected.  Continue?"))) {
        keepUnit();
        return;
    }
    if (!deps_.ui.Confirm(
            QStringLiteral("Changing the units will clear all data on the graph.  Continue?"))) {
        keepUnit();
        return;
    }
    Options.UnitsIndex = unit;
    Recording.SetUnit(static_cast<std::uint8_t>(unit));
    // A counter without a calibration stays in CPM; the unit chosen is kept
    // for the next counter.
    SelectEntry(ValUnits, Counter.UnitCode());
    ClearGraph();
}

void TFormMain::ClearGraph() {
    graph::ClearGraphSeries(
        *Chart1, Series1, Series2,
        device::TCounter::UnitNameOf(static_cast<std::int8_t>(ValUnits->currentIndex())));
    Statistics->clear();
    DataFileName.clear();
    LatestBand.reset();
    Band.Clear();
    // A restart after a crash shows only what follows. Whether a restore
    // notice or a failure now cured, the status line no longer applies.
    if (const auto status = Recording.MarkGraphCleared(); status && (status->ok || status->changed))
        RecordingStatusLbl->setText(status->text);
}

void TFormMain::MenuResetGraphClick() {
    if (deps_.ui.Confirm(QStringLiteral("Are you sure you want clear all data on the graph?")))
        ClearGraph();
}

void TFormMain::CheckBoxBeepClick() {
    Options.BeepEnabled = CheckBoxBeep->isChecked();
    // A counter without a speaker says so, and is set up again as when it
    // was connected.
    if (Counter.IsOpen() && !Recording.SetBeep(Options.BeepEnabled))
        ShowDeviceError();
}

void TFormMain::AlarmEnabledClick() {
    Options.AlarmEnabled = AlarmEnabled->isChecked();
    EditAlarmLevel->setEnabled(Options.AlarmEnabled);
    AlarmBuzzer->setEnabled(Options.AlarmEnabled);
}

void TFormMain::AlarmBuzzerClick() {
    Options.AlarmBuzzer = AlarmBuzzer->isChecked();
}

void TFormMain::EditAlarmLevelExit() {
    const QString entered = EditAlarmLevel->text();
    double level = 0.0;
    if (deps_.regional.ParseRounded(entered, 3, &level) && level > 0.0)
        Options.AlarmLevel = level;
    else
        deps_.ui.Message(QStringLiteral("Alarm Level is not a valid value! ") + entered);
    EditAlarmLevel->setText(platform::FormatC("%.3f", Options.AlarmLevel));
}

void TFormMain::CopyAccumToClipboardClick() {
    QString text = Accumulator->toPlainText();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    deps_.ui.SetClipboardText(text);
}

void TFormMain::AccumulatorResetClick() {
    Recording.RestartAccumulation();
    // Empty until the next drawing while connected shows the new total.
    Accumulator->clear();
}

} // namespace korvinet::app
