#pragma once

#include "measure/measurement_session.h"
#include "recording/recording_journal.h"
#include "settings/settings_record.h"

namespace korvinet::recording {

class Recorder;

// What the stored settings ask of the recorder, the same for every front end
// that records with them.

// The alarms a tick raises.
measure::MeasurementSession::AlarmSettings
AlarmSettingsOf(const settings::SettingsRecord& settings);

// The header block of a journal file started now: the counter's model, the
// averaging time the readings are taken over, and the settings' title and
// notes.
JournalFileHeader JournalHeaderOf(const settings::SettingsRecord& settings,
                                  const Recorder& recorder);

} // namespace korvinet::recording
