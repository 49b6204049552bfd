#include "recording/recorder_settings.h"

#include "recording/recorder.h"

namespace korvinet::recording {

measure::MeasurementSession::AlarmSettings
AlarmSettingsOf(const settings::SettingsRecord& settings) {
    measure::MeasurementSession::AlarmSettings alarm;
    alarm.enabled = settings.AlarmEnabled;
    alarm.level = settings.AlarmLevel;
    alarm.buzzer = settings.AlarmBuzzer;
    alarm.rule = settings.AlarmRuleIndex == 1 ? measure::MeasurementSession::Rule::Significance
                                              : measure::MeasurementSession::Rule::Level;
    alarm.countsStoppedWarning = settings.WarnCountsStopped;
    alarm.healthWarning = settings.WarnCountsHealth;
    return alarm;
}

JournalFileHeader JournalHeaderOf(const settings::SettingsRecord& settings,
                                  const Recorder& recorder) {
    JournalFileHeader header;
    header.device = recorder.Counter().Info().Model;
    header.averagingTime = recorder.AveragingTime();
    header.title = settings.GraphTitle;
    header.notes = settings.GraphNotes;
    return header;
}

} // namespace korvinet::recording
