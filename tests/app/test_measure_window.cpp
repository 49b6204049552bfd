// Live measurement through the main window: connecting, the sampling tick,
// averaging time and unit changes, the alarm, the per-count beep and the
// accumulated counts.
#include "graph/chart.h"
#include "main_window_rig.h"
#include "settings/settings_io.h"
#include "support/series_points.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

namespace korvinet::app {

using testing::MainWindowRig;
using testing::ScriptedUiServices;
using Op = device::SimulatedDriver::Op;

namespace {

const QString kOverrange = QStringLiteral("Error: CAUTION: READING OVERRANGE!  DATA IS INVALID!");
const QString kNewConnection =
    QStringLiteral("Starting a new connection will clear the graph data.  Continue?");
const QString kUncompensated =
    QStringLiteral("CPM values will be uncompensated, accuracy may be effected.  Continue?");
const QString kChangeUnits =
    QStringLiteral("Changing the units will clear all data on the graph.  Continue?");

// The device information of AddPlainCounter's counter.
const QString kPlainCounterInfo =
    QStringLiteral("Model:\t\t\tKVT-PULSE1\nSerial Number:\t\tKV100001\nCOM Port:\t\tCOM4\n"
                   "Range:\t\t\t0 - 1000 mR/hr\nSensitivity:\t\t600 cpm/mR/hr\n"
                   "Dead Time:\t\t0 \u00b5S\nDetects:\t\t BETA, GAMMA\nAccuracy:\t\t\u00b115%");

QString Alarm(const QString& reading) {
    return QStringLiteral("CAUTION! ALARM THRESHOLD EXCEEDED! ") + reading;
}

// A counter whose readings are easy to predict: no dead time, 600 cpm per
// mR/hr, so n counts per minute read n / 600 mR/hr.
int AddPlainCounter(MainWindowRig& rig, bool speaker = true) {
    device::SimulatedDeviceProfile profile = device::SimulatedDriver::DemoDevice(0, 0.0);
    profile.userArea =
        device::SimulatedDriver::MakeConfig(1000, 1000, 0, speaker ? 0x86 : 0x06, 15);
    return rig.driver.AddDevice(profile);
}

// One sampling period: the timer fires, the counter has delivered `counts`
// and `ms` have passed. Whatever the tick queued (its boxes) has run when this
// returns.
void Tick(MainWindowRig& rig, std::uint32_t counts, std::uint32_t ms = 3000) {
    rig.Plan(counts, ms);
    QVERIFY(rig.RunPlanned());
}

// A reading that covers exactly one sample of `cpm` counts per minute: the
// averaging time picked again restarts the rate.
void TickAtRate(MainWindowRig& rig, TFormMain& w, std::uint32_t cpm) {
    emit w.CountTime->activated(w.CountTime->currentIndex());
    Tick(rig, cpm, 60000);
}

QColor ReadingColor(const TFormMain& w) {
    return w.ValReading->palette().color(QPalette::WindowText);
}

} // namespace

class MeasureWindowTest : public QObject {
    Q_OBJECT

private slots:
    // With one counter the stored unit, averaging time and beep setting are
    // in force from the start, on an empty graph titled in that unit.
    void startConnectedWithTheStoredOptions() {
        MainWindowRig rig;
        settings::SettingsRecord stored;
        stored.UnitsIndex = 4;
        stored.AveragingTimeIndex = 3; // "1 minute"
        stored.BeepEnabled = false;
        QVERIFY(settings::WriteSettings(*rig.store, stored));
        rig.AddCounter(0, 0.0);
        TFormMain& w = rig.Open();
        QVERIFY(rig.ui.Calls().isEmpty());
        QVERIFY(w.Counter.IsOpen());
        QCOMPARE(int(w.Counter.UnitCode()), 4);
        QCOMPARE(w.Counter.AveragingWindow(), 20);
        QVERIFY(rig.driver.Rts(0)); // RTS high: the speaker is off
        QCOMPARE(w.Chart1->LeftAxisTitle(), QStringLiteral("\u00b5Sv/hr"));
        QCOMPARE(w.GraphPointCount(), 0);
        QCOMPARE(w.ProgressBarSample->maximum(), 3000);
        QCOMPARE(w.ProgressBarSample->value(), 0);
    }

    void ticksShowPlotAndTrim() {
        MainWindowRig rig;
        rig.AddCounter(0, 0.0);
        TFormMain& w = rig.Open();
        w.Options.MaxSpan = 0.01; // 36 seconds
        for (int i = 0; i < 20; ++i)
            Tick(rig, 30);
        QVERIFY(rig.ui.Calls().isEmpty());
        // 30 counts in 3 s with 90 us dead time: 600.54 cpm, 1.001 mR/hr.
        QCOMPARE(w.ValReading->text(), QStringLiteral("1.001 mR/hr"));
        QCOMPARE(ReadingColor(w), QColor(Qt::black));
        QCOMPARE(w.GraphPointCount(), 13); // 12 periods of 3 s span 36 s
        const auto& points = testing::PointsOf(w.Series1);
        QCOMPARE(points.back().x, rig.clock.Now());
        QCOMPARE(points.back().color, graph::kDefaultPointColor);
        QCOMPARE(w.Series2.Count(), std::size_t(2));
        QCOMPARE(w.Series2.LastY(), w.Series1.TotalY() / 13);
        QVERIFY(qAbs(w.Series1.LastX() - w.Series1.FirstX() - 36 / 86400.0) < 1e-9);
    }

    // The bar fills in twelve steps, stays full and empties with the sample.
    void progressBarFollowsTheCycle() {
        MainWindowRig rig;
        rig.AddCounter(0, 0.0);
        TFormMain& w = rig.Open();
        QSignalSpy shown(w.ProgressBarSample, &QProgressBar::valueChanged);
        QVERIFY(QTest::qWaitFor([&] { return w.ProgressBarSample->value() == 3000; }));
        QTest::qWait(20 * MainWindowRig::kProgressMs);
        QList<int> steps;
        for (const QList<QVariant>& args : shown)
            steps << args.at(0).toInt();
        QCOMPARE(steps,
                 QList<int>({250, 500, 750, 1000, 1250, 1500, 1750, 2000, 2250, 2500, 2750, 3000}));
        Tick(rig, 1);
        QCOMPARE(shown.at(12).at(0).toInt(), 0);
    }

    void reconnectWithPointsOnTheGraphAsks() {
        MainWindowRig rig;
        rig.AddCounter(0, 0.0);
        TFormMain& w = rig.Open();
        Tick(rig, 5);
        Tick(rig, 5);
        w.OpenCloseDevice->click(); // disconnecting asks nothing
        QVERIFY(!w.Counter.IsOpen());
        QCOMPARE(w.ValReading->text(), QStringLiteral("0.167 mR/hr")); // kept

        rig.ui.AnswerConfirm(kNewConnection, false);
        w.OpenCloseDevice->click();
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(!w.Counter.IsOpen());
        QCOMPARE(w.GraphPointCount(), 2);
        QCOMPARE(w.LabelStatus->text(), QStringLiteral("Not Connected"));
        QCOMPARE(w.OpenCloseDevice->text(), QStringLiteral("Connect to Device"));

        rig.ui.AnswerConfirm(kNewConnection, true);
        w.OpenCloseDevice->click();
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(w.Counter.IsOpen());
        QCOMPARE(w.GraphPointCount(), 0);
        QVERIFY(w.CountTimer->isActive() && w.TimerProgressBar->isActive());
    }

    void driverFailureDuringTickDisconnects() {
        MainWindowRig rig;
        rig.AddCounter(0, 0.0);
        TFormMain& w = rig.Open();
        Tick(rig, 5);
        rig.driver.FailCall(Op::GetQueueStatus);
        rig.ui.ExpectMessage(QStringLiteral("Error: Failed to get counts"));
        w.ProgressBarSample->setValue(1500);
        Tick(rig, 5);
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(!w.Counter.IsOpen() && !rig.driver.IsOpen(0));
        QVERIFY(!w.CountTimer->isActive() && !w.TimerProgressBar->isActive());
        QCOMPARE(w.LabelStatus->text(), QStringLiteral("Not Connected"));
        QCOMPARE(w.ProgressBarSample->value(), 0);
        QCOMPARE(w.GraphPointCount(), 1);
        QCOMPARE(w.ValReading->text(), QStringLiteral("0.167 mR/hr"));
    }

    void overrangeDisconnectsWithoutAPoint() {
        MainWindowRig rig;
        rig.AddCounter(0, 0.0);
        TFormMain& w = rig.Open();
        Tick(rig, 5);
        rig.ui.ExpectMessage(kOverrange);
        Tick(rig, 40000); // 800,000 cpm: beyond 1000 mR/hr
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(!w.Counter.IsOpen() && !rig.driver.IsOpen(0));
        QVERIFY(!w.CountTimer->isActive());
        QCOMPARE(w.GraphPointCount(), 1);
        QCOMPARE(w.ValReading->text(), QStringLiteral("0.167 mR/hr"));
        QCOMPARE(w.OpenCloseDevice->text(), QStringLiteral("Connect to Device"));
    }

    // A new averaging time restarts the count rate: the next reading covers
    // the one sample taken since.
    void averagingTimeChangeRestartsTheRate() {
        MainWindowRig rig;
        rig.AddCounter(0, 0.0);
        TFormMain& w = rig.Open();
        for (int i = 0; i < 5; ++i)
            Tick(rig, 100);
        w.CountTime->setCurrentIndex(6);
        emit w.CountTime->activated(6);
        QCOMPARE(w.Counter.AveragingWindow(), 200);
        QCOMPARE(w.Options.AveragingTimeIndex, 6);
        QCOMPARE(w.Counter.CountHistory()[0], 0u);
        Tick(rig, 3, 60000);
        QCOMPARE(w.Counter.CountRate(), 3.0);

        w.CountTime->setCurrentIndex(0);
        emit w.CountTime->activated(0);
        QCOMPARE(w.Counter.AveragingWindow(), 5);
        QVERIFY(rig.ui.Calls().isEmpty());
    }

    // Typing into the list is no averaging time: the previous entry comes
    // back and the averaging stays as it was.
    void typedAveragingTimeIsRejected() {
        MainWindowRig rig;
        rig.AddCounter(0, 0.0);
        TFormMain& w = rig.Open();
        QCOMPARE(w.CountTime->currentText(), QStringLiteral("45 seconds"));
        Tick(rig, 100);
        rig.ui.ExpectMessage(QStringLiteral("x is not a valid count time!"));
        w.CountTime->lineEdit()->selectAll();
        QTest::keyClicks(w.CountTime->lineEdit(), QStringLiteral("x"));
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.CountTime->currentText(), QStringLiteral("45 seconds"));
        QCOMPARE(w.CountTime->currentIndex(), 2);
        QCOMPARE(w.Options.AveragingTimeIndex, 2);
        QCOMPARE(w.Counter.AveragingWindow(), 15);
        QCOMPARE(w.Counter.CountHistory()[0], 0u); // the counter was reset all the same
    }

    void unitChangeQuestions_data() {
        QTest::addColumn<int>("unit");
        QTest::addColumn<QList<bool>>("answers");
        QTest::addColumn<bool>("changed");
        QTest::newRow("uncompensated, No") << 0 << QList<bool>{false} << false;
        QTest::newRow("uncompensated, Yes then No") << 0 << QList<bool>{true, false} << false;
        QTest::newRow("uncompensated, Yes twice") << 0 << QList<bool>{true, true} << true;
        QTest::newRow("CPM, No") << 1 << QList<bool>{false} << false;
        QTest::newRow("uR/hr, Yes") << 3 << QList<bool>{true} << true;
    }
    void unitChangeQuestions() {
        QFETCH(int, unit);
        QFETCH(QList<bool>, answers);
        QFETCH(bool, changed);
        MainWindowRig rig;
        rig.AddCounter(0, 0.0);
        TFormMain& w = rig.Open();
        Tick(rig, 10);
        Tick(rig, 12);
        w.Chart1->RenderImage();
        const QString accumulated = w.Accumulator->toPlainText();
        QVERIFY(!w.Statistics->toPlainText().isEmpty());

        QStringList questions = {kChangeUnits};
        if (unit == 0)
            questions.prepend(kUncompensated);
        for (int i = 0; i < answers.size(); ++i)
            rig.ui.AnswerConfirm(questions[i], answers[i]);
        w.ValUnits->setCurrentIndex(unit);
        emit w.ValUnits->activated(unit);
        QVERIFY(rig.ui.ScriptDone());

        const int expected = changed ? unit : 2;
        QCOMPARE(w.ValUnits->currentIndex(), expected);
        QCOMPARE(w.ValUnits->currentText(), w.ValUnits->itemText(expected));
        QCOMPARE(int(w.Counter.UnitCode()), expected);
        QCOMPARE(w.Options.UnitsIndex, expected);
        QCOMPARE(w.GraphPointCount(), changed ? 0 : 2);
        QCOMPARE(w.Statistics->toPlainText().isEmpty(), changed);
        QCOMPARE(w.Chart1->LeftAxisTitle(), device::TCounter::UnitNameOf(std::int8_t(expected)));
        QCOMPARE(w.Accumulator->toPlainText(), accumulated);
        QCOMPARE(w.Counter.AccumulatedTotal(), 22u);
    }

    // Text typed into the unit list names no unit; it is not taken.
    void typedUnitIsNotTaken() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.ValUnits->lineEdit()->selectAll();
        QTest::keyClicks(w.ValUnits->lineEdit(), QStringLiteral("x"));
        QVERIFY(rig.ui.Calls().isEmpty());
        QCOMPARE(w.ValUnits->currentText(), QStringLiteral("mR/hr"));
        QCOMPARE(w.Options.UnitsIndex, 2);
        QCOMPARE(int(w.Counter.UnitCode()), 2);
    }

    // Level 1.000: warnings at 1.1 and 1.3 only, red for every reading above.
    void alarmSequence() {
        MainWindowRig rig;
        AddPlainCounter(rig);
        TFormMain& w = rig.Open();
        w.SetChecked(w.AlarmEnabled, true);
        QVERIFY(w.AlarmBuzzer->isChecked());
        rig.ui.ExpectMessage(Alarm(QStringLiteral("1.100 mR/hr")));
        rig.ui.ExpectMessage(Alarm(QStringLiteral("1.300 mR/hr")));
        const struct {
            std::uint32_t cpm;
            bool red;
        } ticks[] = {{540, false}, {600, false}, {660, true},
                     {720, true},  {480, false}, {780, true}};
        for (const auto& t : ticks) {
            TickAtRate(rig, w, t.cpm);
            QCOMPARE(ReadingColor(w), t.red ? QColor(Qt::red) : QColor(Qt::black));
        }
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.ValReading->text(), QStringLiteral("1.300 mR/hr"));
        QStringList colours;
        for (const graph::GraphPoint& p : testing::PointsOf(w.Series1))
            colours << (p.color == graph::kColorRed            ? "red"
                        : p.color == graph::kDefaultPointColor ? "-"
                                                               : "?");
        QCOMPARE(colours, QStringList({"-", "-", "red", "red", "-", "red"}));
        QCOMPARE(rig.ui.Beeps(),
                 (QList<QPair<int, int>>{{1000, 1000}, {1000, 1000}, {1000, 1000}}));
        // The beep comes before the warning.
        QCOMPARE(rig.ui.Calls().at(0).kind, QStringLiteral("Beep"));
        QCOMPARE(rig.ui.Calls().at(1).kind, QStringLiteral("Message"));
    }

    void alarmOffOrBuzzerOff() {
        MainWindowRig rig;
        AddPlainCounter(rig);
        TFormMain& w = rig.Open();
        TickAtRate(rig, w, 6000); // 10 mR/hr, alarm disabled
        QVERIFY(rig.ui.Calls().isEmpty());
        QCOMPARE(ReadingColor(w), QColor(Qt::black));

        w.SetChecked(w.AlarmEnabled, true);
        w.SetChecked(w.AlarmBuzzer, false);
        QVERIFY(!w.Options.AlarmBuzzer);
        rig.ui.ExpectMessage(Alarm(QStringLiteral("10.000 mR/hr")));
        TickAtRate(rig, w, 6000);
        TickAtRate(rig, w, 6000);
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(rig.ui.Beeps().isEmpty());

        // Disabling shows at the next tick: black again, and the warning is
        // re-armed; connecting again does not re-arm it.
        w.SetChecked(w.AlarmEnabled, false);
        QCOMPARE(ReadingColor(w), QColor(Qt::red));
        QVERIFY(!w.EditAlarmLevel->isEnabled() && !w.AlarmBuzzer->isEnabled());
        TickAtRate(rig, w, 6000);
        QCOMPARE(ReadingColor(w), QColor(Qt::black));
        w.SetChecked(w.AlarmEnabled, true);
        rig.ui.ExpectMessage(Alarm(QStringLiteral("10.000 mR/hr")));
        TickAtRate(rig, w, 6000);
        QVERIFY(rig.ui.ScriptDone());
        w.OpenCloseDevice->click();
        QCOMPARE(ReadingColor(w), QColor(Qt::red)); // kept while disconnected
        rig.ui.AnswerConfirm(kNewConnection, true);
        w.OpenCloseDevice->click();
        TickAtRate(rig, w, 6000); // the same excursion: no second warning
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(rig.ui.Texts(QStringLiteral("Message")).size(), 2);
    }

    // Whatever box is open, each tick samples, plots, beeps and counts; the
    // warning opens once the tick that raised it has plotted its point.
    void ticksKeepRunningUnderABox_data() {
        QTest::addColumn<bool>("underInfo");
        QTest::newRow("alarm warning") << false;
        QTest::newRow("device information, then the warning") << true;
    }
    void ticksKeepRunningUnderABox() {
        QFETCH(bool, underInfo);
        MainWindowRig rig;
        AddPlainCounter(rig);
        TFormMain& w = rig.Open();
        w.show();
        w.SetChecked(w.AlarmEnabled, true);
        const int total = 11; // the warning comes after the first
        const ScriptedUiServices::Hold allTicks{MainWindowRig::kWaitMs,
                                                [&] { return rig.ticks == total; }};
        if (underInfo)
            rig.ui.ExpectMessage(kPlainCounterInfo, allTicks);
        rig.ui.ExpectMessage(Alarm(QStringLiteral("2.000 mR/hr")), allTicks);
        rig.Plan(60, 3000, total); // 1200 cpm: 2 mR/hr
        if (underInfo)
            w.ButtonDeviceInfo->click();
        QVERIFY(QTest::qWaitFor([&] { return rig.ticks == total && rig.ui.OpenBoxes() == 0; },
                                MainWindowRig::kWaitMs));
        QVERIFY(rig.ui.ScriptDone());

        QCOMPARE(int(rig.seen.size()), total);
        for (int i = 0; i < total; ++i) {
            QCOMPARE(rig.seen[i].points, i + 1);
            QCOMPARE(rig.seen[i].total, 60u * (i + 1));
            QCOMPARE(rig.seen[i].openBoxes, (i > 0 ? 1 : 0) + (underInfo ? 1 : 0));
        }
        QCOMPARE(rig.ui.Beeps().size(), total);
        const auto& points = testing::PointsOf(w.Series1);
        for (std::size_t i = 0; i < points.size(); ++i) {
            QCOMPARE(points[i].y, 2.0);
            QCOMPARE(points[i].color, graph::kColorRed);
            QCOMPARE(points[i].x, 40982.375 + (i + 1) * 3000 / 86400000.0);
        }
        QCOMPARE(w.ValReading->text(), QStringLiteral("2.000 mR/hr"));
        QVERIFY(QTest::qWaitFor([&] {
            return w.Accumulator->toPlainText() ==
                   QStringLiteral("Total Counts: 660\nET: 000d:00h:00m:33s");
        }));
    }

    // A counter lost while the warning is open disconnects at once, with its
    // one error on top of the warning.
    void counterLostWhileTheAlarmBoxIsOpen() {
        MainWindowRig rig;
        AddPlainCounter(rig);
        TFormMain& w = rig.Open();
        w.SetChecked(w.AlarmEnabled, true);
        const QString lost = QStringLiteral("Error: Failed to get counts");
        rig.ui.ExpectMessage(Alarm(QStringLiteral("2.000 mR/hr")),
                             {MainWindowRig::kWaitMs,
                              [&] { return rig.ui.Texts(QStringLiteral("Message")).size() == 2; }});
        rig.ui.ExpectMessage(lost);
        rig.driver.FailCall(Op::GetQueueStatus, device::FT_IO_ERROR, 2); // the second sample fails
        rig.Plan(60, 3000, 3);
        QVERIFY(QTest::qWaitFor([&] { return rig.ticks == 2 && rig.ui.OpenBoxes() == 0; },
                                MainWindowRig::kWaitMs));
        QTest::qWait(10 * MainWindowRig::kCountMs);
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(rig.ticks, 2);
        QCOMPARE(rig.seen[1].openBoxes, 1);
        QVERIFY(!w.Counter.IsOpen() && !w.CountTimer->isActive());
        QCOMPARE(w.LabelStatus->text(), QStringLiteral("Not Connected"));
        QCOMPARE(rig.ui.Texts(QStringLiteral("Message")),
                 QStringList({Alarm(QStringLiteral("2.000 mR/hr")), lost}));
        QCOMPARE(w.GraphPointCount(), 1);
        QCOMPARE(w.Series1.LastY(), 2.0);
    }

    void alarmLevelEntries_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("shown");
        QTest::newRow("2.5") << "2.5" << true << "2.500";
        QTest::newRow("0") << "0" << false << "1.000";
        QTest::newRow("-3") << "-3" << false << "1.000";
        QTest::newRow("0.0004") << "0.0004" << false << "1.000";
        QTest::newRow("0.0006") << "0.0006" << true << "0.001";
        QTest::newRow("abc") << "abc" << false << "1.000";
        QTest::newRow("empty") << "" << false << "1.000";
        QTest::newRow("inf") << "inf" << false << "1.000";
    }
    void alarmLevelEntries() {
        QFETCH(QString, entry);
        QFETCH(bool, accepted);
        QFETCH(QString, shown);
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        QCOMPARE(w.EditAlarmLevel->text(), QStringLiteral("1.000"));
        if (!accepted)
            rig.ui.ExpectMessage(QStringLiteral("Alarm Level is not a valid value! ") + entry);
        w.EditAlarmLevel->setText(entry);
        w.EditAlarmLevelExit();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.EditAlarmLevel->text(), shown);
        QCOMPARE(w.Options.AlarmLevel, shown.toDouble());
    }

    void beepSwitchOnACounterWithoutSpeaker() {
        MainWindowRig rig;
        AddPlainCounter(rig, false);
        TFormMain& w = rig.Open();
        QVERIFY(rig.ui.Calls().isEmpty()); // connecting ignores the missing speaker
        Tick(rig, 50);
        QVERIFY(w.Counter.CountHistory()[0] == 50);
        rig.ui.ExpectMessage(QStringLiteral("Error: Device does not have a speaker."));
        w.SetChecked(w.CheckBoxBeep, false);
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(!w.CheckBoxBeep->isChecked() && !w.Options.BeepEnabled);
        QVERIFY(w.Counter.IsOpen());
        QVERIFY(w.CountTimer->isActive());
        QCOMPARE(w.Counter.CountHistory()[0], 0u); // the connected state restarted the rate
    }

    void beepSwitchReachesTheSpeaker() {
        MainWindowRig rig;
        rig.AddCounter(0, 0.0);
        TFormMain& w = rig.Open();
        QVERIFY(!rig.driver.Rts(0));
        w.SetChecked(w.CheckBoxBeep, false);
        QVERIFY(rig.driver.Rts(0));
        w.OpenCloseDevice->click();
        w.SetChecked(w.CheckBoxBeep, true); // nothing sent while disconnected
        QVERIFY(rig.driver.Rts(0));
        w.OpenCloseDevice->click();
        QVERIFY(!rig.driver.Rts(0)); // the connected state sends it
        QVERIFY(rig.ui.Calls().isEmpty());
    }

    // A counter that fails while the connected state is being shown ends
    // up disconnected, with its one error, and no timer runs.
    void failureWhileShowingTheConnectedState_data() {
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("nth");
        QTest::addColumn<QString>("message");
        QTest::newRow("counter reset") << int(Op::Purge) << 2 << "Error: Failed to reset counter";
        QTest::newRow("speaker switch") << int(Op::ClrRts) << 1 << "Error: Failed to set beep";
    }
    void failureWhileShowingTheConnectedState() {
        QFETCH(int, op);
        QFETCH(int, nth);
        QFETCH(QString, message);
        MainWindowRig rig;
        rig.AddCounter(0, 0.0);
        rig.driver.FailCall(Op(op), device::FT_IO_ERROR, nth);
        rig.ui.ExpectMessage(message);
        TFormMain& w = rig.Open();
        QVERIFY(rig.ui.ScriptDone());
        QVERIFY(!w.Counter.IsOpen());
        QVERIFY(!w.CountTimer->isActive() && !w.TimerProgressBar->isActive());
        QCOMPARE(w.LabelStatus->text(), QStringLiteral("Not Connected"));
        QVERIFY(!w.ButtonRefresh->isHidden() && w.ButtonDeviceInfo->isHidden());
    }

    void accumulatedCounts() {
        MainWindowRig rig;
        rig.AddCounter(0, 0.0);
        TFormMain& w = rig.Open();
        Tick(rig, 10);
        Tick(rig, 12);
        Tick(rig, 9);
        w.Chart1->RenderImage();
        QCOMPARE(w.Accumulator->toPlainText(),
                 QStringLiteral("Total Counts: 31\nET: 000d:00h:00m:09s"));
        w.CopyAccumToClipboard->click();
        QCOMPARE(rig.ui.ClipboardText(),
                 QStringLiteral("Total Counts: 31\r\nET: 000d:00h:00m:09s"));

        w.AccumulatorReset->click();
        QVERIFY(w.Accumulator->toPlainText().isEmpty());
        Tick(rig, 7);
        w.Chart1->RenderImage();
        QCOMPARE(w.Accumulator->toPlainText(),
                 QStringLiteral("Total Counts: 7\nET: 000d:00h:00m:03s"));

        // Disconnected: the last totals stay; a reset empties the box for good.
        w.OpenCloseDevice->click();
        w.Chart1->RenderImage();
        QCOMPARE(w.Accumulator->toPlainText(),
                 QStringLiteral("Total Counts: 7\nET: 000d:00h:00m:03s"));
        w.AccumulatorReset->click();
        w.Chart1->RenderImage();
        QVERIFY(w.Accumulator->toPlainText().isEmpty());
        w.CopyAccumToClipboard->click();
        QCOMPARE(rig.ui.ClipboardText(), QString());
        QCOMPARE(rig.ui.Texts(QStringLiteral("Message")), QStringList());
    }

    // The graph's own clearing leaves the accumulation running.
    void clearGraphKeepsTheAccumulation() {
        MainWindowRig rig;
        rig.AddCounter(0, 0.0);
        TFormMain& w = rig.Open();
        Tick(rig, 10);
        rig.ui.AnswerConfirm(QStringLiteral("Are you sure you want clear all data on the graph?"),
                             false);
        w.MenuResetGraph->trigger();
        QCOMPARE(w.GraphPointCount(), 1);
        rig.ui.AnswerConfirm(QStringLiteral("Are you sure you want clear all data on the graph?"),
                             true);
        w.Button3->click();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.GraphPointCount(), 0);
        Tick(rig, 5);
        QCOMPARE(w.Counter.AccumulatedTotal(), 15u);
    }

    // File > "Options..." sets the four values; they are in force at once
    // and come back from the settings store at the next start.
    void optionsRoundTripThroughTheStore() {
        MainWindowRig rig;
        TFormMain* w = &rig.Open();
        settings::SettingsRecord shown;
        bool warningHidden = false;
        rig.options = [&](TFormOptions& d) {
            d.ApplyTo(&shown);
            warningHidden = d.DetectionWarning->isHidden();
            d.ShowBand->setChecked(true);
            d.AlarmRuleList->setCurrentIndex(1);
            d.WarnCountsStopped->setChecked(false);
            d.KeepDays->setValue(0);
            return true;
        };
        w->FileOptions->trigger();
        QCOMPARE(rig.optionsShown, 1);
        QCOMPARE(shown, settings::SettingsRecord{}); // the defaults
        QVERIFY(warningHidden);                      // no counter
        QVERIFY(w->Options.ShowConfidenceBand && !w->Options.WarnCountsStopped);
        QCOMPARE(w->Options.AlarmRuleIndex, 1);
        QCOMPARE(w->Options.RecordingKeepDays, 0);
        QCOMPARE(w->TickSettings().rule, measure::MeasurementSession::Rule::Significance);

        rig.Close();
        w = &rig.Open();
        rig.options = [&](TFormOptions& d) {
            d.ApplyTo(&shown);
            d.ShowBand->setChecked(false); // cancelled: changes nothing
            return false;
        };
        w->FileOptions->trigger();
        QVERIFY(shown.ShowConfidenceBand && !shown.WarnCountsStopped);
        QCOMPARE(shown.AlarmRuleIndex, 1);
        QCOMPARE(shown.RecordingKeepDays, 0);
        QVERIFY(w->Options.ShowConfidenceBand);
        QVERIFY(rig.ui.Calls().isEmpty());
    }

    // With a counter, Options warns of a level below what the averaging
    // window can tell apart from the background counted so far.
    void optionsWarnOfALevelBelowTheDetectionLimit() {
        MainWindowRig rig;
        AddPlainCounter(rig);
        TFormMain& w = rig.Open();
        for (int i = 0; i < 4; ++i)
            Tick(rig, 1); // 20 CPM: detectable from 47.6 CPM in 45 s
        QString warning;
        rig.options = [&](TFormOptions& d) {
            warning = d.DetectionWarning->isHidden() ? QString() : d.DetectionWarning->text();
            return false;
        };
        const QString expected = QStringLiteral(
            "The alarm level of 0.050 mR/hr is below 0.079 mR/hr, the lowest level an averaging "
            "time of 45 seconds tells apart from the background here: alarms near it cannot be "
            "relied on.");
        const struct {
            double level;
            bool connected;
            QString warning;
        } cases[] = {{0.05, true, expected}, {0.08, true, {}}, {0.05, false, {}}};
        for (const auto& c : cases) {
            if (w.Counter.IsOpen() != c.connected)
                w.OpenCloseDevice->click();
            w.Options.AlarmLevel = c.level;
            w.FileOptions->trigger();
            QCOMPARE(warning, c.warning);
        }
    }

    // The statistics show the latest reading's band while the option is on:
    // 5 counts in 3 s are 1.6235 to 11.6683 counts, 0.054 to 0.389 mR/hr.
    // The chart shows it too.
    void bandInTheStatisticsAndOnTheChart() {
        MainWindowRig rig;
        AddPlainCounter(rig);
        TFormMain& w = rig.Open();
        const auto lines = [&] {
            w.Chart1->RenderImage();
            return w.Statistics->toPlainText().split(QLatin1Char('\n'));
        };
        Tick(rig, 5);
        QVERIFY(!lines().join(QLatin1Char('\n')).contains(QStringLiteral("95 %")));
        const auto setBand = [&](bool on) {
            rig.options = [on](TFormOptions& d) {
                d.ShowBand->setChecked(on);
                return true;
            };
            w.FileOptions->trigger();
        };
        setBand(true);
        QStringList shown = lines();
        const qsizetype latest = shown.indexOf(QStringLiteral("Latest:    0.167 mR/hr"));
        QVERIFY(latest >= 0);
        QCOMPARE(shown.value(latest + 1), QStringLiteral("95 %: 0.054 \u2013 0.389 mR/hr"));
        // The chart fills the band from the readings taken while it is on.
        const auto tinted = [&] {
            const QImage image = w.Chart1->RenderImage();
            int n = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QRgb c = image.pixel(x, y);
                    n += qBlue(c) > 240 && qRed(c) > 150 && qRed(c) < 235;
                }
            return n;
        };
        QCOMPARE(tinted(), 0);
        Tick(rig, 5);
        Tick(rig, 5);
        QCOMPARE(w.Band.Points().size(), std::size_t(2));
        QVERIFY(tinted() > 1000);
        setBand(false);
        QVERIFY(!lines().join(QLatin1Char('\n')).contains(QStringLiteral("95 %")));
        QCOMPARE(tinted(), 0);
        QVERIFY(rig.ui.Calls().isEmpty());
    }

    // Readings just above the level at background: the level rule warns,
    // the significance rule waits for a real excess.
    void alarmRuleChoice_data() {
        QTest::addColumn<int>("rule");
        QTest::addColumn<QStringList>("warnings");
        QTest::newRow("level") << 0 << QStringList{Alarm(QStringLiteral("1.100 mR/hr"))};
        QTest::newRow("significance") << 1 << QStringList{Alarm(QStringLiteral("2.000 mR/hr"))};
    }
    void alarmRuleChoice() {
        QFETCH(int, rule);
        QFETCH(QStringList, warnings);
        MainWindowRig rig;
        AddPlainCounter(rig);
        TFormMain& w = rig.Open();
        w.SetChecked(w.AlarmEnabled, true);
        w.Options.AlarmRuleIndex = rule;
        for (const QString& text : warnings)
            rig.ui.ExpectMessage(text);
        TickAtRate(rig, w, 660); // 1.1 mR/hr, 1.1 times the level
        QCOMPARE(ReadingColor(w), rule == 0 ? QColor(Qt::red) : QColor(Qt::black));
        TickAtRate(rig, w, 1200); // twice the level
        QCOMPARE(ReadingColor(w), QColor(Qt::red));
        QVERIFY(rig.ui.ScriptDone());
    }

    // A silence longer than the counter's rate makes plausible shows beside
    // the sample timer on every tick and opens one box per silence; with
    // the warning off nothing shows.
    void countsStoppedQuietlyAndOnceABox() {
        MainWindowRig rig;
        AddPlainCounter(rig);
        TFormMain& w = rig.Open();
        rig.Plan(600, 30000, 20); // 1200 CPM for 600 s: a stop after 30 s
        QVERIFY(rig.RunPlanned());
        const QString box =
            QStringLiteral("No counts for 30 seconds: check the counter's tube and cable.");
        for (int silence = 0; silence < 2; ++silence) {
            rig.ui.ExpectMessage(box);
            rig.Plan(0, 3000, 12);
            QVERIFY(rig.RunPlanned());
            QVERIFY(rig.ui.ScriptDone());
            QCOMPARE(w.LabelCountsStopped->text(), QStringLiteral("No counts for 36 seconds"));
            QVERIFY(!w.LabelCountsStopped->isHidden());
            Tick(rig, 60);
            QCOMPARE(w.LabelCountsStopped->text(), QString());
        }
        rig.options = [](TFormOptions& d) {
            d.WarnCountsStopped->setChecked(false);
            return true;
        };
        w.FileOptions->trigger();
        rig.Plan(0, 3000, 12);
        QVERIFY(rig.RunPlanned());
        QCOMPARE(w.LabelCountsStopped->text(), QString());
        QCOMPARE(rig.ui.Texts(QStringLiteral("Message")), QStringList({box, box}));
    }
};

} // namespace korvinet::app

QTEST_MAIN(korvinet::app::MeasureWindowTest)
#include "test_measure_window.moc"
