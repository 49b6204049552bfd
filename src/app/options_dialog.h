#pragma once

#include "settings/settings_record.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QSpinBox;

namespace korvinet {

class TCounter;

// File > "Options...": the settings that change how far readings are
// trusted and how long recordings are kept, which have no place among the
// window's own controls. It edits a copy of the settings; the window takes
// the values over when the user presses OK.
class TFormOptions : public QDialog {
    Q_OBJECT

public:
    static constexpr int kMaxKeepDays = 36500;

    // detectionWarning, when not empty, is shown below the alarm rule.
    TFormOptions(const SettingsRecord& current, const QString& detectionWarning,
                 QWidget* parent = nullptr);

    // Puts the dialog's values into `record`, leaving its other values alone.
    void ApplyTo(SettingsRecord* record) const;

    // --- Controls
    QCheckBox* ShowBand = nullptr;
    QComboBox* AlarmRuleList = nullptr; // in the order of AlarmRuleIndex
    QLabel* DetectionWarning = nullptr;
    QCheckBox* WarnCountsStopped = nullptr;
    QCheckBox* WarnCountsHealth = nullptr;
    QSpinBox* KeepDays = nullptr;
    QDialogButtonBox* Buttons = nullptr;
};

// The warning Options shows when the alarm level (display unit) lies below
// the lowest level the averaging window tells apart from the background
// counted so far: an alarm set there sounds at background or never
// reliably at all. Empty when the level is clear of it or no counter is
// connected, since only a counter tells its background, window and unit.
QString DetectionLimitWarning(const TCounter& counter, double level,
                              const QString& averagingTimeText);

} // namespace korvinet
