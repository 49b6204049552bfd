#pragma once

#include <QString>
#include <cstdint>

namespace korvinet::settings {

// The live copy of every option the user can set. The field names are the
// value names in the settings store; the initialisers are the defaults a new
// user starts with.
struct SettingsRecord {
    std::int32_t UnitsIndex = 2;         // "mR/hr"
    std::int32_t AveragingTimeIndex = 2; // "45 seconds"
    bool BeepEnabled = true;
    bool AlarmEnabled = false;
    double AlarmLevel = 1.0;
    bool AlarmBuzzer = true;
    QString GraphTitle = QStringLiteral("Radiation vs. Time");
    QString GraphNotes;
    bool YMaxAutoEnabled = true;
    double YMaxValue = 1.0;
    double MaxSpan = 48.0; // hours; stored as whole hours
    QString ftpHost;
    QString ftpUsername;
    QString ftpPassword;
    QString ftpDirectory;
    QString ftpFilename = QStringLiteral("radiation.jpg");
    std::int32_t ftpFiletype = 1; // "Graph - BITMAP (*.bmp)"
    std::int32_t ftpInterval = 10;
    bool ftpEnabled = false;

    // Values added since; each is read on its own, and one that is missing or
    // damaged takes its default without deciding whether the others load.
    std::int32_t RecordingKeepDays = 30; // days a recording file is kept; 0: all
    bool ShowConfidenceBand = false;     // the 95 % band on the chart and in the statistics
    std::int32_t AlarmRuleIndex = 0;     // 0: every reading above the level; 1: significant excess
    bool WarnCountsStopped = true;       // warn when the counter stops counting
    bool WarnCountsHealth = false;       // warn when the counts do not look like radiation
    // The kinds of counter on serial ports and the tubes or factors of
    // counters without a calibration of their own, per counter (a list the
    // device layer reads: ParseCounterChoices).
    QString CounterChoices;

    bool operator==(const SettingsRecord&) const = default;
};

} // namespace korvinet::settings
