#include "app/main_window.h"

#include "graph/chart.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace korvinet {

void TFormMain::CountTimerTimer() {}

void TFormMain::TimerProgressBarTimer() {}

void TFormMain::EditTimeBaseChange() {}

void TFormMain::ValUnitsChange() {}

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

void TFormMain::EditAlarmLevelExit() {}

void TFormMain::CopyAccumToClipboardClick() {}

void TFormMain::AccumulatorResetClick() {}

} // namespace korvinet
