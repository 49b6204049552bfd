#include "app/main_window.h"

#include <QCheckBox>
#include <QLineEdit>

namespace korvinet {

void TFormMain::CountTimerTimer() {}

void TFormMain::TimerProgressBarTimer() {}

void TFormMain::EditTimeBaseChange() {}

void TFormMain::ValUnitsChange() {}

void TFormMain::ClearGraph() {}

void TFormMain::MenuResetGraphClick() {}

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
