#include "app/main_window.h"

#include "graph/chart.h"
#include "measure/averaging_time.h"
#include "platform/regional.h"
#include "platform/text_format.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>
#include <algorithm>

namespace korvinet {

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

void SetFontColor(QLabel* label, TColor color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, ColorFromTColor(color));
    label->setPalette(palette);
}

} // namespace

void TFormMain::CountTimerTimer() {
    ProgressBarSample->setValue(0);
    if (!Counter.ReadCounts()) {
        // Other failures have closed the device already; an overrange sample
        // leaves it open, and its data cannot be trusted.
        if (Counter.CountRate() == TCounter::kOverrange)
            Counter.Close();
        ShowDeviceError();
        return;
    }

    const QString reading = Counter.ReadingText() + QLatin1Char(' ') + Counter.UnitName();
    ValReading->setText(reading);

    const AlarmRule::Outcome alarm = Alarm.Evaluate(Options.AlarmEnabled, Counter.Reading(),
                                                    Options.AlarmLevel, Options.AlarmBuzzer);
    SetFontColor(ValReading, alarm.readingColor);
    // The point is this tick's reading, taken before the warning can open:
    // the box keeps the timers running, and the ticks that run meanwhile
    // replace the counter's latest reading (or close the counter). The point
    // still joins the graph only once the box has been closed, and lands in
    // its place in time among the points added meanwhile.
    const double taken = Counter.LatestReadingTime();
    GraphPoint point{taken, Counter.Reading(), deps_.regional.LongTimeText(taken),
                     alarm.pointColor};
    if (alarm.beep)
        deps_.ui.Beep(AlarmRule::kBeepHz, AlarmRule::kBeepMs);
    if (alarm.showWarning)
        deps_.ui.Message(QStringLiteral("CAUTION! ALARM THRESHOLD EXCEEDED! ") + reading);

    AppendLiveReading(Series1, Series2, std::move(point), Options.MaxSpan);
}

void TFormMain::TimerProgressBarTimer() {
    // The bar stays full until the next sample empties it (a value beyond
    // the maximum would be ignored rather than clamped).
    ProgressBarSample->setValue(std::min(ProgressBarSample->value() + TimerProgressBar->interval(),
                                         ProgressBarSample->maximum()));
}

void TFormMain::EditTimeBaseChange() {
    if (Counter.IsOpen() && !Counter.ResetCounter())
        ShowDeviceError(); // the new averaging time is applied all the same

    const int entry = SelectedEntry(CountTime);
    if (entry >= 0) {
        Counter.SetAveragingWindow(
            AveragingWindowFor(CountTime->itemText(entry), CountTimer->interval()));
        Options.AveragingTimeIndex = entry;
        SelectEntry(CountTime, entry);
    } else {
        const QString typed = CountTime->currentText();
        SelectEntry(CountTime, Options.AveragingTimeIndex);
        deps_.ui.Message(typed + QStringLiteral(" is not a valid count time!"));
    }

    ProgressBarSample->setValue(0);
    ProgressBarSample->setMaximum(CountTimer->interval());
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
    Counter.SetUnitCode(static_cast<std::uint8_t>(unit));
    SelectEntry(ValUnits, unit);
    ClearGraph();
}

void TFormMain::ClearGraph() {
    ClearGraphSeries(*Chart1, Series1, Series2,
                     TCounter::UnitNameOf(static_cast<std::int8_t>(ValUnits->currentIndex())));
    Statistics->clear();
    DataFileName.clear();
}

void TFormMain::MenuResetGraphClick() {
    if (deps_.ui.Confirm(QStringLiteral("Are you sure you want clear all data on the graph?")))
        ClearGraph();
}

void TFormMain::CheckBoxBeepClick() {
    Options.BeepEnabled = CheckBoxBeep->isChecked();
    if (Counter.IsOpen() && !Counter.SetBeep(Options.BeepEnabled))
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
    EditAlarmLevel->setText(FormatC("%.3f", Options.AlarmLevel));
}

void TFormMain::CopyAccumToClipboardClick() {
    QString text = Accumulator->toPlainText();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    deps_.ui.SetClipboardText(text);
}

void TFormMain::AccumulatorResetClick() {
    Counter.RestartAccumulation();
    // Empty until the next drawing while connected shows the new total.
    Accumulator->clear();
}

} // namespace korvinet
