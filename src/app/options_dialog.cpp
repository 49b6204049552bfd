#include "app/options_dialog.h"

#include "device/counter.h"
#include "device/serial_kinds.h"
#include "device/tube_profiles.h"
#include "measure/averaging_time.h"
#include "measure/significance_alarm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace korvinet::app {

using device::CounterChoice;

namespace {

constexpr int kBauds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
const QString kFactor = QStringLiteral("=");

} // namespace

TFormOptions::TFormOptions(const settings::SettingsRecord& current, const QString& detectionWarning,
                           QWidget* parent, const QList<device::SerialPortEntry>& ports)
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

    // The serial ports there are, then the counters stored choices name
    // that are not attached now.
    device::CounterChoices stored = device::ParseCounterChoices(current.CounterChoices);
    QStringList shown;
    const auto choiceFor = [&](const QString& identity, const QString& path) {
        for (const CounterChoice& choice : stored)
            if (choice.counter == identity || choice.counter == path)
                return &choice;
        return static_cast<const CounterChoice*>(nullptr);
    };
    for (const device::SerialPortEntry& port : ports) {
        const CounterChoice* choice = choiceFor(port.Identity(), port.path);
        const QString counter = choice ? choice->counter : port.Identity();
        const QString about =
            port.description.isEmpty() ? QString() : QStringLiteral(" ") + port.description;
        AddSerialRow(counter, port.path + about, choice, port.kind);
        shown << counter;
    }
    for (const CounterChoice& choice : stored) {
        if (shown.contains(choice.counter))
            continue;
        if (choice.counter == device::kAnyCounter ||
            (choice.kind.isEmpty() && !choice.Calibration()))
            otherChoices_.push_back(choice);
        else
            AddSerialRow(choice.counter, choice.counter + QStringLiteral(" (not attached)"),
                         &choice, {});
    }
    if (SerialCounters) {
        auto* group = new QGroupBox(QStringLiteral("Counters on serial ports"), this);
        auto* inner = new QVBoxLayout(group);
        auto* note = new QLabel(
            QStringLiteral("Only ports given a kind are opened. A counter without a calibration "
                           "of its own reads in CPM only until its tube or factor is chosen. "
                           "Changes count from the next connection."),
            group);
        note->setWordWrap(true);
        inner->addWidget(note);
        inner->addWidget(SerialCounters);
        SerialCounters->resizeColumnsToContents();
        layout->addWidget(group);
    }
    layout->addWidget(Buttons);
    setMinimumWidth(SerialCounters ? 760 : 380);
}

void TFormOptions::AddSerialRow(const QString& counter, const QString& label,
                                const CounterChoice* choice, const QString& ownKind) {
    if (!SerialCounters) {
        SerialCounters = new QTableWidget(0, 6, this);
        SerialCounters->setObjectName(QStringLiteral("SerialCounters"));
        SerialCounters->setHorizontalHeaderLabels(
            {QStringLiteral("Port"), QStringLiteral("Kind"), QStringLiteral("Baud"),
             QStringLiteral("Tube or factor"), QStringLiteral("CPM per \u00B5Sv/hr"),
             QStringLiteral("Dead time (\u00B5s)")});
        SerialCounters->verticalHeader()->hide();
        SerialCounters->horizontalHeader()->setStretchLastSection(true);
    }
    const int row = SerialCounters->rowCount();
    SerialCounters->insertRow(row);
    rowCounters_ << counter;
    auto* name = new QTableWidgetItem(label);
    name->setFlags(Qt::ItemIsEnabled);
    SerialCounters->setItem(row, kPortColumn, name);

    auto* kind = new QComboBox(SerialCounters);
    kind->addItem(QStringLiteral("Not a counter"), QString());
    for (const device::SerialKind& k : device::SerialKinds())
        kind->addItem(k.name.toString(), k.id.toString());
    // A port that says what it is (a simulated counter) keeps its kind.
    kind->setCurrentIndex(std::max(0, kind->findData(!ownKind.isEmpty() ? ownKind
                                                     : choice           ? choice->kind
                                                                        : QString())));
    kind->setEnabled(ownKind.isEmpty());
    SerialCounters->setCellWidget(row, kKindColumn, kind);

    auto* baud = new QComboBox(SerialCounters);
    baud->addItem(QStringLiteral("Usual"), 0);
    for (const int rate : kBauds)
        baud->addItem(QString::number(rate), rate);
    baud->setCurrentIndex(std::max(0, baud->findData(choice ? choice->baud : 0)));
    SerialCounters->setCellWidget(row, kBaudColumn, baud);

    auto* tube = new QComboBox(SerialCounters);
    tube->addItem(QStringLiteral("None: CPM only"), QString());
    for (const device::TubeProfile& profile : device::TubeProfiles())
        tube->addItem(QStringLiteral("%1 (%2 CPM per \u00B5Sv/hr)")
                          .arg(profile.name.toString())
                          .arg(profile.cpmPerMicrosievertHour),
                      profile.name.toString());
    tube->addItem(QStringLiteral("Factor"), kFactor);
    const device::TubeProfile* profile = choice ? device::FindTube(choice->tube) : nullptr;
    tube->setCurrentIndex(profile ? tube->findData(profile->name.toString())
                          : choice && choice->cpmPerMicrosievertHour > 0 ? tube->count() - 1
                                                                         : 0);
    SerialCounters->setCellWidget(row, kTubeColumn, tube);

    auto* factor = new QDoubleSpinBox(SerialCounters);
    factor->setRange(0, 1e6);
    factor->setDecimals(3);
    factor->setValue(choice ? choice->cpmPerMicrosievertHour : 0.0);
    SerialCounters->setCellWidget(row, kFactorColumn, factor);
    auto* deadTime = new QDoubleSpinBox(SerialCounters);
    deadTime->setRange(0, 10000);
    deadTime->setDecimals(1);
    deadTime->setValue(choice ? choice->deadTimeSeconds * 1e6 : 0.0);
    SerialCounters->setCellWidget(row, kDeadTimeColumn, deadTime);
    // The factor and its dead time count only with "Factor" chosen.
    const auto follow = [tube, factor, deadTime] {
        const bool own = tube->currentData().toString() == kFactor;
        factor->setEnabled(own);
        deadTime->setEnabled(own);
    };
    connect(tube, &QComboBox::currentIndexChanged, this, follow);
    follow();
}

device::CounterChoices TFormOptions::SerialChoices() const {
    device::CounterChoices choices = otherChoices_;
    for (int row = 0; SerialCounters && row < SerialCounters->rowCount(); ++row) {
        const auto* kind = static_cast<QComboBox*>(SerialCounters->cellWidget(row, kKindColumn));
        const auto* baud = static_cast<QComboBox*>(SerialCounters->cellWidget(row, kBaudColumn));
        const auto* tube = static_cast<QComboBox*>(SerialCounters->cellWidget(row, kTubeColumn));
        const auto* factor =
            static_cast<QDoubleSpinBox*>(SerialCounters->cellWidget(row, kFactorColumn));
        const auto* deadTime =
            static_cast<QDoubleSpinBox*>(SerialCounters->cellWidget(row, kDeadTimeColumn));
        CounterChoice choice;
        choice.counter = rowCounters_.at(row);
        choice.kind = kind->isEnabled() ? kind->currentData().toString() : QString();
        choice.baud = choice.kind.isEmpty() ? 0 : baud->currentData().toInt();
        const QString picked = tube->currentData().toString();
        if (picked == kFactor) {
            choice.cpmPerMicrosievertHour = factor->value();
            choice.deadTimeSeconds = deadTime->value() * 1e-6;
        } else {
            choice.tube = picked;
        }
        if (!choice.kind.isEmpty() || choice.Calibration())
            choices.push_back(choice);
    }
    return choices;
}

void TFormOptions::ApplyTo(settings::SettingsRecord* record) const {
    record->ShowConfidenceBand = ShowBand->isChecked();
    record->AlarmRuleIndex = AlarmRuleList->currentIndex();
    record->WarnCountsStopped = WarnCountsStopped->isChecked();
    record->WarnCountsHealth = WarnCountsHealth->isChecked();
    record->RecordingKeepDays = KeepDays->value();
    record->CounterChoices = device::FormatCounterChoices(SerialChoices());
}

QString DetectionLimitWarning(const device::TCounter& counter, double level,
                              const QString& averagingTimeText) {
    if (!counter.IsOpen() || counter.AveragingWindow() <= 0)
        return {};
    const double seconds = counter.AveragingWindow() * (measure::kSampleIntervalMs / 1000.0);
    // The background is what the counter has counted since the accumulation
    // began; before the first sample only the floor of the limit applies,
    // which no background lowers.
    const double minutes = (counter.LatestReadingTime() - counter.AccumulationStart()) * 1440;
    const double background = minutes > 0 ? counter.AccumulatedTotal() / minutes : 0.0;
    const measure::RateConversion conversion = measure::RateConversion::Of(counter);
    if (!measure::LevelBelowDetectionLimit(level, background, seconds, conversion))
        return {};
    const double detectable =
        conversion.FromRawCpm(measure::DetectableLevelCpm(background, seconds)).value;
    const QString unit = QLatin1Char(' ') + counter.UnitName();
    return QStringLiteral("The alarm level of ") + counter.FormatValue(level) + unit +
           QStringLiteral(" is below ") + counter.FormatValue(detectable) + unit +
           QStringLiteral(", the lowest level an averaging time of ") + averagingTimeText +
           QStringLiteral(" tells apart from the background here: alarms near it cannot be "
                          "relied on.");
}

} // namespace korvinet::app
