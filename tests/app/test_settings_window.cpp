// The options as the main window loads, shows, keeps and saves them.

#include "main_window_rig.h"
#include "settings/settings_io.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QtEndian>

namespace korvinet::app {

using settings::RegFileSettingsStore;
using settings::SettingsKey;
using settings::SettingsRecord;
using settings::SettingsStore;
using settings::StoredValue;
using settings::ValueType;
using testing::MainWindowRig;

namespace {

const char* const kNames[] = {
    "UnitsIndex",      "AveragingTimeIndex", "BeepEnabled",  "AlarmEnabled",
    "AlarmLevel",      "AlarmBuzzer",        "GraphTitle",   "GraphNotes",
    "YMaxAutoEnabled", "YMaxValue",          "MaxSpan",      "ftpHost",
    "ftpUsername",     "ftpPassword",        "ftpDirectory", "ftpFilename",
    "ftpInterval",     "ftpFiletype",        "ftpEnabled"};

// Every field away from its default, the FTP upload switched on with the
// data file as its type.
SettingsRecord Unusual() {
    SettingsRecord r;
    r.UnitsIndex = 4;
    r.AveragingTimeIndex = 6;
    r.BeepEnabled = false;
    r.AlarmEnabled = true;
    r.AlarmLevel = 0.125;
    r.AlarmBuzzer = false;
    r.GraphTitle = QStringLiteral("Cellar");
    r.GraphNotes = QStringLiteral("North wall, shelf 2");
    r.YMaxAutoEnabled = false;
    r.YMaxValue = 2.5;
    r.MaxSpan = 24.0;
    r.ftpHost = QStringLiteral("127.0.0.1:2121");
    r.ftpUsername = QStringLiteral("user");
    r.ftpPassword = QStringLiteral("secret");
    r.ftpDirectory = QStringLiteral("/www");
    r.ftpFilename = QStringLiteral("graph.csv");
    r.ftpFiletype = 2;
    r.ftpInterval = 30;
    r.ftpEnabled = true;
    return r;
}

// What the controls show for a record, field by field.
void CheckControls(const TFormMain& w, const SettingsRecord& r, const QStringList& units,
                   const char* where) {
    const QStringList times = {"15 seconds", "30 seconds", "45 seconds", "1 minute",
                               "3 minutes",  "5 minutes",  "10 minutes"};
    QVERIFY2(w.ValUnits->currentIndex() == r.UnitsIndex, where);
    QCOMPARE(w.ValUnits->currentText(), units.value(r.UnitsIndex));
    QCOMPARE(w.CountTime->currentIndex(), r.AveragingTimeIndex);
    QCOMPARE(w.CountTime->currentText(), times.value(r.AveragingTimeIndex));
    QCOMPARE(w.CheckBoxBeep->isChecked(), r.BeepEnabled);
    QCOMPARE(w.AlarmEnabled->isChecked(), r.AlarmEnabled);
    QCOMPARE(w.EditAlarmLevel->text(), QString::asprintf("%.3f", r.AlarmLevel));
    QCOMPARE(w.AlarmBuzzer->isChecked(), r.AlarmBuzzer);
    QCOMPARE(w.EditChartTitle->text(), r.GraphTitle);
    QCOMPARE(w.EditChartNotes->text(), r.GraphNotes);
    QCOMPARE(w.ChartYMaxAuto->isChecked(), r.YMaxAutoEnabled);
    QCOMPARE(w.EditChartYMax->text(), QString::number(r.YMaxValue, 'g', 15));
    QCOMPARE(w.EditMaxSpan->text(), QString::asprintf("%.2f", r.MaxSpan));
    QCOMPARE(w.FTPHost->text(), r.ftpHost);
    QCOMPARE(w.FTPUsername->text(), r.ftpUsername);
    QCOMPARE(w.FTPPassword->text(), r.ftpPassword);
    QCOMPARE(w.FTPDirectory->text(), r.ftpDirectory);
    QCOMPARE(w.FTPFilename->text(), r.ftpFilename);
    QCOMPARE(w.FTPInterval->text(), QString::number(r.ftpInterval));
    QCOMPARE(w.FTPEnabled->isChecked(), r.ftpEnabled);
    QCOMPARE(w.FTPFiletype->currentIndex(), r.ftpFiletype);
    // The alarm level and buzzer can be changed only while the alarm is on.
    QCOMPARE(w.EditAlarmLevel->isEnabled(), r.AlarmEnabled);
    QCOMPARE(w.AlarmBuzzer->isEnabled(), r.AlarmEnabled);
}

SettingsRecord Stored(SettingsStore& store) {
    SettingsRecord r;
    r.GraphTitle = QStringLiteral("not read");
    if (!settings::ReadSettings(store, &r))
        r.GraphTitle = QStringLiteral("unreadable");
    return r;
}

void Put(SettingsStore& store, const char* name, ValueType type, const QByteArray& data) {
    auto key = store.OpenWrite();
    QVERIFY(key);
    QVERIFY(key->Set(QLatin1String(name), type, data));
    QVERIFY(key->Close());
}

// Reads like the real store but refuses every write.
class ReadOnlyStore final : public SettingsStore {
public:
    explicit ReadOnlyStore(SettingsStore& inner) : inner_(inner) {}
    std::unique_ptr<SettingsKey> OpenRead() override { return inner_.OpenRead(); }
    std::unique_ptr<SettingsKey> OpenWrite() override { return nullptr; }

private:
    SettingsStore& inner_;
};

const QStringList kUnits = {QStringLiteral("CPM (uncomp)"), QStringLiteral("CPM"),
                            QStringLiteral("mR/hr"), QStringLiteral("\u00b5R/hr"),
                            QStringLiteral("\u00b5Sv/hr")};

} // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT

private slots:
    void firstRunShowsAndStoresDefaults() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        QCOMPARE(w.Options, SettingsRecord{});
        CheckControls(w, SettingsRecord{}, kUnits, "defaults");
        QCOMPARE(w.EditAlarmLevel->text(), QStringLiteral("1.000"));
        QCOMPARE(w.EditChartYMax->text(), QStringLiteral("1"));
        QCOMPARE(w.EditMaxSpan->text(), QStringLiteral("48.00"));
        QVERIFY(w.SaveAtExit);

        // The store was created with all nineteen values at once.
        auto key = rig.fileStore.OpenRead();
        QVERIFY(key);
        for (const char* name : kNames)
            QVERIFY2(key->Query(QLatin1String(name)).has_value(), name);
        QCOMPARE(Stored(rig.fileStore), SettingsRecord{});
        QVERIFY(rig.ui.Calls().isEmpty()); // a first run says nothing
    }

    void wrongValueBringsBackEveryDefault_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("AlarmLevel as dword")
            << "AlarmLevel" << int(ValueType::Dword) << QByteArray(4, '\1');
        QTest::newRow("YMaxValue of 4 bytes")
            << "YMaxValue" << int(ValueType::Binary) << QByteArray(4, '\0');
        QTest::newRow("ftpEnabled as text")
            << "ftpEnabled" << int(ValueType::String) << QByteArray("1", 2);
        QTest::newRow("malformed store") << QString() << 0 << QByteArray("not a store");
    }
    void wrongValueBringsBackEveryDefault() {
        QFETCH(QString, name);
        QFETCH(int, type);
        QFETCH(QByteArray, data);
        MainWindowRig rig;
        QVERIFY(settings::WriteSettings(rig.fileStore, Unusual()));
        if (name.isEmpty()) {
            QFile file(rig.fileStore.Path());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(data);
        } else {
            Put(rig.fileStore, name.toLatin1().constData(), static_cast<ValueType>(type), data);
        }
        QFile file(rig.fileStore.Path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray damaged = file.readAll();
        file.close();
        TFormMain& w = rig.Open();
        // Also the values read before the bad one are back at their defaults.
        QCOMPARE(w.Options, SettingsRecord{});
        CheckControls(w, SettingsRecord{}, kUnits, "defaults");
        QCOMPARE(Stored(rig.fileStore), SettingsRecord{});
        QVERIFY(rig.ui.Calls().isEmpty());
        QFile kept(rig.fileStore.DamagedCopyPath());
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), damaged);
    }

    void missingTitleKeepsTheRest() {
        MainWindowRig rig;
        QVERIFY(settings::WriteSettings(rig.fileStore, Unusual()));
        QFile file(rig.fileStore.Path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray text = file.readAll();
        file.close();
        text.replace("\"GraphTitle\"=\"Cellar\"\n", "");
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();

        TFormMain& w = rig.Open();
        SettingsRecord expected = Unusual();
        expected.GraphTitle.clear();
        QCOMPARE(w.Options, expected);
        CheckControls(w, expected, kUnits, "no title");
    }

    // Loading runs the check-box handlers, which copy controls into the
    // record, some from controls that are filled only later; what was loaded
    // must still be what the record and every control end up with.
    void loadedValuesReachRecordAndControls() {
        MainWindowRig rig;
        QVERIFY(settings::WriteSettings(rig.fileStore, Unusual()));
        TFormMain& w = rig.Open();
        QCOMPARE(w.Options, Unusual());
        CheckControls(w, Unusual(), kUnits, "unusual");
        QCOMPARE(w.FTPFiletype->currentText(), QStringLiteral("Data - CSV (*.csv)"));
        QVERIFY(rig.ui.Calls().isEmpty());
    }

    // Stored values are used as they are, also indexes no list has; the
    // window must still come up (here with a counter connecting at once).
    void outOfRangeIndexesAreKept() {
        MainWindowRig rig;
        rig.AddCounter();
        SettingsRecord odd;
        odd.UnitsIndex = 9;
        odd.AveragingTimeIndex = -1;
        odd.ftpFiletype = 5;
        QVERIFY(settings::WriteSettings(rig.fileStore, odd));
        // With no averaging time selected, each showing of the connected
        // state (the connection, then the start-up's own) says so.
        rig.ui.ExpectMessage(QStringLiteral(" is not a valid count time!"));
        rig.ui.ExpectMessage(QStringLiteral(" is not a valid count time!"));
        TFormMain& w = rig.Open();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.Options, odd);
        QCOMPARE(w.ValUnits->currentIndex(), -1);
        QCOMPARE(w.CountTime->currentIndex(), -1);
        QCOMPARE(w.FTPFiletype->currentIndex(), -1);
        QVERIFY(w.Counter.IsOpen());
        QCOMPARE(int(w.Counter.UnitCode()), 9);
        rig.Close();
        QCOMPARE(Stored(rig.fileStore), odd);
    }

    void spanIsStoredInWholeHours() {
        MainWindowRig rig;
        rig.Open().Options.MaxSpan = 12.75;
        rig.Close();
        auto key = rig.fileStore.OpenRead();
        QVERIFY(key);
        const StoredValue span = *key->Query(QStringLiteral("MaxSpan"));
        QCOMPARE(span.type, std::uint32_t(ValueType::Dword));
        QCOMPARE(qFromLittleEndian<std::uint32_t>(span.data.constData()), 12u);
        TFormMain& w = rig.Open();
        QCOMPARE(w.EditMaxSpan->text(), QStringLiteral("12.00"));
        QCOMPARE(w.Options.MaxSpan, 12.0);
    }

    void restoreDefaultsDeclined() {
        MainWindowRig rig;
        QVERIFY(settings::WriteSettings(rig.fileStore, Unusual()));
        TFormMain& w = rig.Open();
        rig.ui.AnswerConfirm(
            QStringLiteral("Are you sure you want to reset all settings to defaults?"), false);
        w.RestoreDefaultOptions->trigger();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.Options, Unusual());
        QCOMPARE(Stored(rig.fileStore), Unusual());
        QVERIFY(w.SaveAtExit);
        w.Options.GraphNotes = QStringLiteral("changed later");
        rig.Close();
        QCOMPARE(Stored(rig.fileStore).GraphNotes, QStringLiteral("changed later"));
    }

    void restoreDefaultsConfirmed() {
        MainWindowRig rig;
        QVERIFY(settings::WriteSettings(rig.fileStore, Unusual()));
        TFormMain& w = rig.Open();
        rig.ui.AnswerConfirm(
            QStringLiteral("Are you sure you want to reset all settings to defaults?"), true);
        rig.ui.ExpectMessage(QStringLiteral("Restart the program for changes to take effect."));
        w.RestoreDefaultOptions->trigger();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.Options, SettingsRecord{});
        QCOMPARE(Stored(rig.fileStore), SettingsRecord{});
        CheckControls(w, Unusual(), kUnits, "controls keep what they show");
        QVERIFY(!w.SaveAtExit);

        // Changes made after the reset are not saved: the next start shows
        // the defaults.
        w.Options.GraphTitle = QStringLiteral("changed later");
        w.Options.UnitsIndex = 0;
        rig.Close();
        QCOMPARE(Stored(rig.fileStore), SettingsRecord{});
        CheckControls(rig.Open(), SettingsRecord{}, kUnits, "after restart");
    }

    void unwritableStoreComplainsOnceAtExit_data() {
        QTest::addColumn<bool>("readOnlyFile");
        QTest::newRow("store refuses writes") << false;
        QTest::newRow("file without write permission") << true;
    }
    void unwritableStoreComplainsOnceAtExit() {
        QFETCH(bool, readOnlyFile);
        MainWindowRig rig;
        QVERIFY(settings::WriteSettings(rig.fileStore, Unusual()));
        ReadOnlyStore readOnly(rig.fileStore);
        if (readOnlyFile)
            QVERIFY(QFile::setPermissions(rig.fileStore.Path(), QFileDevice::ReadOwner));
        else
            rig.store = &readOnly;
        rig.Open().Options.GraphNotes = QStringLiteral("lost");
        QVERIFY(rig.ui.Calls().isEmpty());
        rig.ui.ExpectMessage(QStringLiteral("Error saving settings!"));
        rig.Close();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(rig.ui.Texts(QStringLiteral("Message")).size(), 1);
        QCOMPARE(Stored(rig.fileStore), Unusual());
    }

    // No store and none can be made: the defaults are used, and writing them
    // fails both at start and at exit.
    void storeNeitherReadableNorWritable() {
        MainWindowRig rig;
        QFile blocker(rig.dir.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        RegFileSettingsStore impossible(rig.dir.filePath(QStringLiteral("file/Tickplot.reg")));
        rig.store = &impossible;
        rig.ui.ExpectMessage(QStringLiteral("Error saving settings!"));
        TFormMain& w = rig.Open();
        QVERIFY(rig.ui.ScriptDone());
        QCOMPARE(w.Options, SettingsRecord{});
        CheckControls(w, SettingsRecord{}, kUnits, "defaults");
        rig.ui.ExpectMessage(QStringLiteral("Error saving settings!"));
        rig.Close();
        QVERIFY(rig.ui.ScriptDone());
    }

    void exitSavesTheRecord() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.Options = Unusual();
        w.Exit1->trigger();
        QVERIFY(rig.ui.Calls().isEmpty()); // nothing is asked
        rig.Close();
        QCOMPARE(Stored(rig.fileStore), Unusual());
        QVERIFY(rig.ui.Failures().isEmpty());
    }
};

} // namespace korvinet::app

QTEST_MAIN(korvinet::app::SettingsWindowTest)
#include "test_settings_window.moc"
