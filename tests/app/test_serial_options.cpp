// File > Options' table of serial ports: what the user picks is what the
// settings keep, and what it does not show is kept as it was.
#include "app/options_dialog.h"
#include "device/counter_choice.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QTableWidget>
#include <gtest/gtest.h>

namespace korvinet::app {
namespace {

QComboBox* Combo(const TFormOptions& d, int row, int column) {
    return static_cast<QComboBox*>(d.SerialCounters->cellWidget(row, column));
}

TEST(SerialOptions, PortsGetAKindAndATubeOrFactorAndOtherChoicesStay) {
    settings::SettingsRecord settings;
    const device::CounterChoice detached{QStringLiteral("/dev/ttyACM7"),
                                         QStringLiteral("text-line"),
                                         0,
                                         QStringLiteral("J305"),
                                         0,
                                         0};
    const device::CounterChoice any{device::kAnyCounter, {}, 0, QStringLiteral("SBM-20"), 0, 0};
    settings.CounterChoices = device::FormatCounterChoices(
        {{QStringLiteral("A1"), QStringLiteral("pulse-byte"), 0, {}, 0, 0}, detached, any});
    device::SerialPortEntry withSerial{
        QStringLiteral("/dev/ttyUSB0"), QStringLiteral("A1"), QStringLiteral("CP2102"), {}, {}, {}};
    device::SerialPortEntry bare{QStringLiteral("/dev/ttyUSB1"), {}, {}, {}, {}, {}};
    device::SerialPortEntry simulated{
        QStringLiteral("/dev/pts/4"), QStringLiteral("KVTL100001"), {}, {}, {},
        QStringLiteral("text-line")};
    TFormOptions dialog(settings, {}, nullptr, {withSerial, bare, simulated});
    ASSERT_NE(dialog.SerialCounters, nullptr);
    ASSERT_EQ(dialog.SerialCounters->rowCount(), 4); // three ports, one detached counter
    EXPECT_EQ(Combo(dialog, 0, TFormOptions::kKindColumn)->currentData(), "pulse-byte");
    EXPECT_EQ(Combo(dialog, 1, TFormOptions::kKindColumn)->currentData(), ""); // never guessed
    EXPECT_FALSE(Combo(dialog, 2, TFormOptions::kKindColumn)->isEnabled());    // its own kind
    EXPECT_EQ(Combo(dialog, 3, TFormOptions::kTubeColumn)->currentData(), "J305");

    // The first port becomes a text-line counter at 19200 with a factor; the
    // second stays unused; the simulated one gets a tube.
    Combo(dialog, 0, TFormOptions::kKindColumn)->setCurrentIndex(1);
    QComboBox* baud = Combo(dialog, 0, TFormOptions::kBaudColumn);
    baud->setCurrentIndex(baud->findData(19200));
    QComboBox* tube = Combo(dialog, 0, TFormOptions::kTubeColumn);
    tube->setCurrentIndex(tube->findData(QStringLiteral("=")));
    static_cast<QDoubleSpinBox*>(dialog.SerialCounters->cellWidget(0, TFormOptions::kFactorColumn))
        ->setValue(153.8);
    static_cast<QDoubleSpinBox*>(
        dialog.SerialCounters->cellWidget(0, TFormOptions::kDeadTimeColumn))
        ->setValue(100);
    QComboBox* simulatedTube = Combo(dialog, 2, TFormOptions::kTubeColumn);
    simulatedTube->setCurrentIndex(simulatedTube->findData(QStringLiteral("LND-712")));
    dialog.ApplyTo(&settings);

    const device::CounterChoices kept = device::ParseCounterChoices(settings.CounterChoices);
    const device::CounterChoices expected = {
        any,
        {QStringLiteral("A1"), QStringLiteral("text-line"), 19200, {}, 153.8, 100 * 1e-6},
        {QStringLiteral("KVTL100001"), {}, 0, QStringLiteral("LND-712"), 0, 0},
        detached,
    };
    EXPECT_EQ(kept, expected);
}

TEST(SerialOptions, NoTableWithoutPortsOrChoices) {
    TFormOptions dialog(settings::SettingsRecord{}, {});
    EXPECT_EQ(dialog.SerialCounters, nullptr);
    settings::SettingsRecord settings;
    dialog.ApplyTo(&settings);
    EXPECT_TRUE(settings.CounterChoices.isEmpty());
}

} // namespace
} // namespace korvinet::app
