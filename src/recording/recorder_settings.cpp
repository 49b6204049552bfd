#include "recording/recorder_settings.h"

#include "recording/recorder.h"

namespace korvinet {

MeasurementSession::AlarmSettings AlarmSettingsOf(const SettingsRecord& settings) {
    MeasurementSession::AlarmSettings alarm;
    alarm.enabled = settings.AlarmEnabled;
    alarm.level = settings.AlarmLevel;
    alarm.buzzer = settings.AlarmBuzzer;
    alarm.rule = settings.AlarmRuleIndex == 1 ? MeasurementSession::Rule::Significance
                                              : MeasurementSession::Rule::Level;
    alarm.countsStoppedWarning = settings.WarnCountsStopped;
    alarm.healthWarning = settings.WarnCountsHealth;
    return alarm;
}

JournalFileHeader JournalHeaderOf(const SettingsRecord& settings, const Recorder& recorder) {
    JournalFileHeader header;
    header.device = recorder.Counter().Info().Model;
    header.averagingTime = recorder.AveragingTime();
    header.title = settings.GraphTitle;
    header.notes = settings.GraphNotes;
    return header;
}

} // namespace korvinet
