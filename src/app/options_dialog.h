#pragma once

#include "device/counter_choice.h"
#include "device/serial_ports.h"
#include "settings/settings_record.h"

#include <QDialog>
#include <QList>
#include <QString>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QSpinBox;
class QTableWidget;

namespace korvinet::device {
class TCounter;
} // namespace korvinet::device

namespace korvinet::app {

// File > "Options...": the settings that change how far readings are
// trusted and how long recordings are kept, which have no place among the
// window's own controls. It edits a copy of the settings; the window takes
// the values over when the user presses OK.
//
// Where there are serial ports (or choices stored for some), a table names
// the kind of counter on each (only ports given a kind are ever opened) and
// the tube or factor of a counter that carries no calibration of its own.
class TFormOptions : public QDialog {
    Q_OBJECT

public:
    static constexpr int kMaxKeepDays = 36500;

    // detectionWarning, when not empty, is shown below the alarm rule; ports
    // are the serial ports there are now.
    TFormOptions(const settings::SettingsRecord& current, const QString& detectionWarning,
                 QWidget* parent = nullptr, const QList<device::SerialPortEntry>& ports = {});

    // Puts the dialog's values into `record`, leaving its other values alone.
    void ApplyTo(settings::SettingsRecord* record) const;

    // --- Controls
    QCheckBox* ShowBand = nullptr;
    QComboBox* AlarmRuleList = nullptr; // in the order of AlarmRuleIndex
    QLabel* DetectionWarning = nullptr;
    QCheckBox* WarnCountsStopped = nullptr;
    QCheckBox* WarnCountsHealth = nullptr;
    QSpinBox* KeepDays = nullptr;
    // One row per port: its name, then lists of its kind, baud rate and
    // calibration (SerialColumn), and the factor and dead time a "Factor"
    // calibration takes. Null without ports.
    QTableWidget* SerialCounters = nullptr;
    enum SerialColumn {
        kPortColumn,
        kKindColumn,
        kBaudColumn,
        kTubeColumn,
        kFactorColumn,
        kDeadTimeColumn
    };
    QDialogButtonBox* Buttons = nullptr;

private:
    void AddSerialRow(const QString& counter, const QString& label,
                      const device::CounterChoice* choice, const QString& ownKind);
    device::CounterChoices SerialChoices() const;

    QStringList rowCounters_;             // the counter each row of SerialCounters is for
    device::CounterChoices otherChoices_; // stored for counters the table does not show
};

// The warning Options shows when the alarm level (display unit) lies below
// the lowest level the averaging window tells apart from the background
// counted so far: an alarm set there sounds at background or never
// reliably at all. Empty when the level is clear of it or no counter is
// connected, since only a counter tells its background, window and unit.
QString DetectionLimitWarning(const device::TCounter& counter, double level,
                              const QString& averagingTimeText);

} // namespace korvinet::app
