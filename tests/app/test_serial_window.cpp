// The window measuring from each kind of serial counter's simulator through
// a pseudo-terminal: its name in the device list, readings in CPM with the
// status line saying why, a tube chosen in Options and readings in the
// stored unit after that, and lines that did not read.
#include "app/options_dialog.h"
#include "device/serial_kinds.h"
#include "main_window_rig.h"
#include "support/serial_rig.h"
#include "support/wait_events.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>

namespace korvinet::app {

using testing::MainWindowRig;
using testing::SerialRig;
using testing::WaitUntil;

class SerialWindowTest : public QObject {
    Q_OBJECT

private slots:
    void measuresFromTheSimulatorThroughAPty_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("listed");
        QTest::newRow("text-line") << QStringLiteral("text-line") << "Text-line counter";
        QTest::newRow("pulse-byte") << QStringLiteral("pulse-byte") << "Pulse-per-byte counter";
    }
    void measuresFromTheSimulatorThroughAPty() {
        QFETCH(QString, kind);
        QFETCH(QString, listed);
        MainWindowRig rig;
        SerialRig serial(kind, rig.clock);
        QVERIFY(serial.plugged);
        rig.serial = &serial.finder;
        TFormMain& w = rig.Open(); // the one counter there is connects at once
        const QString path = serial.counter.Entry().path;
        QCOMPARE(w.SelectDevice->currentText(), listed + " (" + path + ")");
        QCOMPARE(w.OpenCloseDevice->text(), "Disconnect " + path);
        QVERIFY(w.Counter.IsOpen());

        // Without a calibration: CPM, and the status line says why.
        QCOMPARE(w.ValUnits->currentText(), QStringLiteral("CPM"));
        QVERIFY(!w.statusBar()->isHidden());
        QVERIFY(w.LabelCounterNote->text().contains("Readings in CPM only"));
        const auto sample = [&](std::uint32_t counts) {
            const auto lines = w.Counter.LinkStatus().lines + 3;
            const auto bytes = w.Counter.LinkStatus().bytes;
            if (kind == device::kTextLineKind) {
                for (int second = 0; second < 3; ++second)
                    serial.counter.Count(counts / 3);
                return WaitUntil([&] { return w.Counter.LinkStatus().lines == lines; }, 5000);
            }
            serial.counter.Count(counts);
            return WaitUntil([&] { return w.Counter.LinkStatus().bytes == bytes + counts; }, 5000);
        };
        QVERIFY(sample(30));
        rig.Plan(0);
        QVERIFY(rig.RunPlanned());
        QCOMPARE(w.ValReading->text(), QStringLiteral("600.0 CPM"));
        QCOMPARE(w.Counter.AccumulatedTotal(), 30u);

        // A tube chosen in Options counts from the next connection on.
        rig.options = [](TFormOptions& d) {
            if (!d.SerialCounters || d.SerialCounters->rowCount() != 1)
                return false;
            auto* tube =
                static_cast<QComboBox*>(d.SerialCounters->cellWidget(0, TFormOptions::kTubeColumn));
            tube->setCurrentIndex(tube->findData(QStringLiteral("SBM-20")));
            return true;
        };
        w.FileOptionsClick();
        QCOMPARE(rig.optionsShown, 1);
        QVERIFY(w.Options.CounterChoices.contains("SBM-20"));
        w.OpenCloseDeviceClick(); // disconnect
        rig.ui.AnswerConfirm(
            QStringLiteral("Starting a new connection will clear the graph data.  Continue?"),
            true);
        w.OpenCloseDeviceClick();
        QVERIFY(w.Counter.IsOpen());
        QCOMPARE(w.Counter.CalibrationSource(), QStringLiteral("tube SBM-20"));
        QVERIFY(w.statusBar()->isHidden());
        QVERIFY(sample(54));
        rig.Plan(0);
        QVERIFY(rig.RunPlanned());
        // 1080 CPM, 1 mR/hr for the SBM-20 with its 190 µs of dead time.
        QCOMPARE(w.ValReading->text(), QStringLiteral("1.003 mR/hr"));
        // The device information box says what the counter is and how it
        // is calibrated.
        const device::CounterLinkStatus link = w.Counter.LinkStatus();
        QString received = QStringLiteral("\nReceived:\t\t%1 bytes").arg(link.bytes);
        if (kind == device::kTextLineKind)
            received += QStringLiteral(", %1 lines read, 0 skipped").arg(link.lines);
        rig.ui.ExpectMessage("Model:\t\t\tTest counter\nKind:\t\t\t" + listed +
                             "\nSerial Number:\t\tKVTT000001\nPort:\t\t\t" + path +
                             QStringLiteral("\nSensitivity:\t\t108 cpm/\u00b5Sv/hr (tube SBM-20)"
                                            "\nDead Time:\t\t190 \u00b5S") +
                             received);
        w.ButtonDeviceInfoClick();

        if (kind == device::kTextLineKind) {
            serial.counter.Send("CPS, 4, CPM\r\n");
            QVERIFY(sample(0));
            rig.Plan(0);
            QVERIFY(rig.RunPlanned());
            QCOMPARE(w.LabelCounterNote->text(),
                     QStringLiteral("1 lines from the counter did not read and were skipped."));
        }

        // Unplugged, the sample fails with the reason, as the FTDI counter's
        // does; plugged in again on a new path, it is found by its serial
        // number and connected.
        rig.ui.ExpectMessage("Error: The counter on " + path + " is gone (unplugged?)");
        serial.counter.Unplug();
        for (int tick = 0; tick < 20 && w.Counter.IsOpen(); ++tick) {
            QTest::qWait(20);
            rig.Plan(0);
            QVERIFY(rig.RunPlanned());
        }
        QVERIFY(!w.Counter.IsOpen());
        QCOMPARE(w.LabelStatus->text(), QStringLiteral("Not Connected"));
        QVERIFY(serial.counter.Plug());
        rig.ui.AnswerConfirm(
            QStringLiteral("Starting a new connection will clear the graph data.  Continue?"),
            true);
        w.OpenCloseDeviceClick();
        QVERIFY(w.Counter.IsOpen());
        QCOMPARE(w.OpenCloseDevice->text(), "Disconnect " + serial.counter.Entry().path);
        QVERIFY(rig.ui.ScriptDone());
    }

    // Counters that answer: recognised by asking, named by their model,
    // calibrated by themselves.
    void measuresFromAnsweringCountersThroughAPty_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("listed");
        QTest::addColumn<QString>("source");
        QTest::newRow("rad-pro") << QStringLiteral("rad-pro") << "Rad Pro FS2011"
                                 << "Rad Pro";
        QTest::newRow("gmc-300") << QStringLiteral("gmc-300") << "GQ GMC-300"
                                 << "GMC";
        QTest::newRow("gmc-500") << QStringLiteral("gmc-500") << "GQ GMC-500+"
                                 << "GMC";
    }
    void measuresFromAnsweringCountersThroughAPty() {
        QFETCH(QString, kind);
        QFETCH(QString, listed);
        QFETCH(QString, source);
        MainWindowRig rig;
        SerialRig serial(kind, rig.clock);
        QVERIFY(serial.plugged);
        rig.serial = &serial.finder;
        TFormMain& w = rig.Open();
        QCOMPARE(w.SelectDevice->currentText(), listed + " (" + serial.counter.Entry().path + ")");
        QVERIFY(w.Counter.IsOpen());
        QCOMPARE(w.Counter.CalibrationSource(), source);
        QVERIFY(!w.Counter.CpmOnly());
        QTest::qWait(300); // a GMC's simulation hears the heartbeat asked for
        const auto lines = w.Counter.LinkStatus().lines;
        for (int second = 0; second < 3; ++second)
            serial.counter.Count(10);
        if (kind != device::kRadProKind)
            QVERIFY(WaitUntil([&] { return w.Counter.LinkStatus().lines == lines + 3; }, 5000));
        rig.Plan(0);
        QVERIFY(rig.RunPlanned());
        QCOMPARE(w.Counter.AccumulatedTotal(), 30u);
        QVERIFY(w.ValReading->text().endsWith(QStringLiteral(" mR/hr")));
    }
};

} // namespace korvinet::app

QTEST_MAIN(korvinet::app::SerialWindowTest)
#include "test_serial_window.moc"
