#include "app/options_dialog.h"

#include "device/counter.h"
#include "measure/averaging_time.h"
#include "measure/significance_alarm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

namespace korvinet {

TFormOptions::TFormOptions(const SettingsRecord& current, const QString& detectionWarning,
                           QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("FormOptions"));
    setWindowTitle(QStringLiteral("Options"));

    ShowBand = new QCheckBox(QStringLiteral("Show the 95 % band of the readings"), this);
    ShowBand->setChecked(current.ShowConfidenceBand);

    AlarmRuleList = new QComboBox(this);
    AlarmRuleList->addItems({QStringLiteral("Every reading above the level"),
                             QStringLiteral("Only an excess the counts prove")});
    AlarmRuleList->setCurrentIndex(current.AlarmRuleIndex == 1 ? 1 : 0);

    DetectionWarning = new QLabel(detectionWarning, this);
    DetectionWarning->setWordWrap(true);
    DetectionWarning->setVisible(!detectionWarning.isEmpty());

    WarnCountsStopped = new QCheckBox(QStringLiteral("Warn when the counter stops counting"), this);
    WarnCountsStopped->setChecked(current.WarnCountsStopped);
    WarnCountsHealth =
        new QCheckBox(QStringLiteral("Warn when the counts do not look like radiation"), this);
    WarnCountsHealth->setChecked(current.WarnCountsHealth);

    KeepDays = new QSpinBox(this);
    KeepDays->setRange(0, kMaxKeepDays);
    KeepDays->setSuffix(QStringLiteral(" days"));
    KeepDays->setSpecialValueText(QStringLiteral("always"));
    KeepDays->setValue(current.RecordingKeepDays);

    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(ShowBand);
    form->addRow(QStringLiteral("Alarm:"), AlarmRuleList);
    form->addRow(DetectionWarning);
    form->addRow(WarnCountsStopped);
    form->addRow(WarnCountsHealth);
    form->addRow(QStringLiteral("Keep recordings:"), KeepDays);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(Buttons);
    setMinimumWidth(380);
}

void TFormOptions::ApplyTo(SettingsRecord* record) const {
    record->ShowConfidenceBand = ShowBand->isChecked();
    record->AlarmRuleIndex = AlarmRuleList->currentIndex();
    record->WarnCountsStopped = WarnCountsStopped->isChecked();
    record->WarnCountsHealth = WarnCountsHealth->isChecked();
    record->RecordingKeepDays = KeepDays->value();
}

QString DetectionLimitWarning(const TCounter& counter, double level,
                              const QString& averagingTimeText) {
    if (!counter.IsOpen() || counter.AveragingWindow() <= 0)
        return {};
    const double seconds = counter.AveragingWindow() * (kSampleIntervalMs / 1000.0);
    // The background is what the counter has counted since the accumulation
    // began; before the first sample only the floor of the limit applies,
    // which no background lowers.
    const double minutes = (counter.LatestReadingTime() - counter.AccumulationStart()) * 1440;
    const double background = minutes > 0 ? counter.AccumulatedTotal() / minutes : 0.0;
    const RateConversion conversion = RateConversion::Of(counter);
    if (!LevelBelowDetectionLimit(level, background, seconds, conversion))
        return {};
    const double detectable = conversion.FromRawCpm(DetectableLevelCpm(background, seconds)).value;
    const QString unit = QLatin1Char(' ') + counter.UnitName();
    return QStringLiteral("The alarm level of ") + counter.FormatValue(level) + unit +
           QStringLiteral(" is below ") + counter.FormatValue(detectable) + unit +
           QStringLiteral(", the lowest level an averaging time of ") + averagingTimeText +
           QStringLiteral(" tells apart from the background here: alarms near it cannot be "
                          "relied on.");
}

} // namespace korvinet
