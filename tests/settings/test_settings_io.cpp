#include "settings/reg_file_store.h"
#include "settings/settings_io.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <functional>
#include <gtest/gtest.h>

namespace korvinet::settings {
namespace {

// A record in which every field differs from its default.
SettingsRecord Unusual() {
    SettingsRecord r;
    r.UnitsIndex = 4;
    r.AveragingTimeIndex = 6;
    r.BeepEnabled = false;
    r.AlarmEnabled = true;
    r.AlarmLevel = 0.125;
    r.AlarmBuzzer = false;
    r.GraphTitle = QStringLiteral("Cellar \"A\", C:\\data");
    r.GraphNotes = QStringLiteral("North wall, shelf 2 \u00b5");
    r.YMaxAutoEnabled = false;
    r.YMaxValue = 2.5;
    r.MaxSpan = 24.0;
    r.ftpHost = QStringLiteral("127.0.0.1:2121");
    r.ftpUsername = QStringLiteral("user");
    r.ftpPassword = QStringLiteral("pa\\ss");
    r.ftpDirectory = QStringLiteral("/www");
    r.ftpFilename = QStringLiteral("graph.bmp");
    r.ftpFiletype = 2;
    r.ftpInterval = 30;
    r.ftpEnabled = true;
    r.RecordingKeepDays = 7;
    r.ShowConfidenceBand = true;
    r.AlarmRuleIndex = 1;
    r.WarnCountsStopped = false;
    r.CounterChoices = QStringLiteral("[{\"counter\":\"/dev/ttyUSB0\",\"kind\":\"text-line\"}]");
    return r;
}

QByteArray Dword(std::uint32_t v) {
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

class SettingsIoTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    RegFileSettingsStore store{dir.filePath(QStringLiteral("Tickplot.reg"))};

    void Set(const char* name, std::uint32_t type, const QByteArray& data) {
        auto key = store.OpenWrite();
        ASSERT_NE(key, nullptr);
        ASSERT_TRUE(key->Set(QLatin1String(name), static_cast<ValueType>(type), data));
        ASSERT_TRUE(key->Close());
    }
    std::optional<StoredValue> Get(const char* name) {
        auto key = store.OpenRead();
        return key ? key->Query(QLatin1String(name)) : std::nullopt;
    }
    // Rewrites the store with the nineteen values alone, leaving out `skip`.
    void KeepOnlyTheNineteen(const char* skip = "") {
        auto key = store.OpenRead();
        ASSERT_NE(key, nullptr);
        RegFileSettingsStore::Values values;
        for (const char* name :
             {"UnitsIndex", "AveragingTimeIndex", "BeepEnabled", "AlarmEnabled", "AlarmLevel",
              "AlarmBuzzer", "GraphTitle", "GraphNotes", "YMaxAutoEnabled", "YMaxValue", "MaxSpan",
              "ftpHost", "ftpUsername", "ftpPassword", "ftpDirectory", "ftpFilename", "ftpInterval",
              "ftpFiletype", "ftpEnabled"})
            if (qstrcmp(name, skip) != 0)
                values.emplace_back(QLatin1String(name), *key->Query(QLatin1String(name)));
        QFile file(store.Path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(RegFileSettingsStore::Format(values, RegFileSettingsStore::kKeyPath));
    }
};

TEST_F(SettingsIoTest, RecordRoundTripsThroughTheStore) {
    ASSERT_TRUE(WriteSettings(store, Unusual()));
    SettingsRecord read;
    ASSERT_TRUE(ReadSettings(store, &read));
    EXPECT_EQ(read, Unusual());
}

TEST_F(SettingsIoTest, ValuesAreStoredWithTheirTypes) {
    SettingsRecord r = Unusual();
    r.MaxSpan = 12.75;
    ASSERT_TRUE(WriteSettings(store, r));
    EXPECT_EQ(Get("UnitsIndex")->type, 4u);
    EXPECT_EQ(Get("UnitsIndex")->data, Dword(4));
    EXPECT_EQ(Get("BeepEnabled")->data, Dword(0));
    EXPECT_EQ(Get("AlarmEnabled")->data, Dword(1));
    EXPECT_EQ(Get("AlarmLevel")->type, 3u);
    EXPECT_EQ(Get("AlarmLevel")->data, QByteArray("\0\0\0\0\0\0\xc0\x3f", 8));
    EXPECT_EQ(Get("MaxSpan")->type, 4u);
    EXPECT_EQ(Get("MaxSpan")->data, Dword(12)); // whole hours, cut toward zero
    EXPECT_EQ(Get("GraphTitle")->type, 1u);
    EXPECT_EQ(Get("GraphTitle")->data, r.GraphTitle.toUtf8() + QByteArray(1, '\0'));
    EXPECT_EQ(Get("GraphNotes")->data.back(), '\0');

    SettingsRecord read;
    ASSERT_TRUE(ReadSettings(store, &read));
    EXPECT_EQ(read.MaxSpan, 12.0);
}

TEST_F(SettingsIoTest, NoStoreFailsTheRead) {
    SettingsRecord read = Unusual();
    EXPECT_FALSE(ReadSettings(store, &read));
}

// A number that is missing, mistyped or too long makes the whole read fail.
TEST_F(SettingsIoTest, WrongNumbersFailTheRead) {
    struct Case {
        const char* name;
        std::uint32_t type;
        QByteArray data;
        bool remove;
    };
    const std::vector<Case> cases = {
        {"AlarmLevel", 4, Dword(1), false},            // double stored as a dword
        {"YMaxValue", 3, QByteArray(4, '\0'), false},  // double of 4 bytes
        {"YMaxValue", 3, QByteArray(9, '\0'), false},  // double of 9 bytes
        {"UnitsIndex", 3, Dword(1), false},            // integer as binary
        {"UnitsIndex", 4, QByteArray(5, '\0'), false}, // dword longer than 4 bytes
        {"BeepEnabled", 1, QByteArray("1", 2), false}, // boolean as text
        {"MaxSpan", 3, QByteArray(8, '\0'), false},    // span as a raw double
        {"ftpEnabled", 4, QByteArray(), true},         // last value missing
        {"UnitsIndex", 4, QByteArray(), true},         // first value missing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " type " + std::to_string(c.type));
        ASSERT_TRUE(WriteSettings(store, Unusual()));
        if (c.remove) {
            KeepOnlyTheNineteen(c.name);
        } else {
            Set(c.name, c.type, c.data);
        }
        SettingsRecord read;
        EXPECT_FALSE(ReadSettings(store, &read));
    }
}

// A value added after the nineteen takes its default when it is missing or
// damaged, and never makes the others fall back to theirs.
TEST_F(SettingsIoTest, AddedValuesNeverDecideTheLoad) {
    struct Case {
        std::uint32_t type;
        QByteArray data;
        std::int32_t days;
    };
    const std::vector<Case> cases = {
        {4, Dword(0), 0},             // 0 keeps everything
        {1, QByteArray("7", 2), 30},  // a number as text
        {4, QByteArray(5, '\0'), 30}, // too long
        {4, Dword(0xffffffffu), 30},  // negative
        {0, QByteArray(), 30},        // missing: an older program's store
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        ASSERT_TRUE(WriteSettings(store, Unusual()));
        if (c.type == 0) {
            KeepOnlyTheNineteen();
        } else {
            Set("RecordingKeepDays", c.type, c.data);
        }
        SettingsRecord read;
        ASSERT_TRUE(ReadSettings(store, &read));
        SettingsRecord expected = Unusual();
        expected.RecordingKeepDays = c.days;
        if (c.type == 0) {
            const SettingsRecord defaults;
            expected.ShowConfidenceBand = defaults.ShowConfidenceBand;
            expected.AlarmRuleIndex = defaults.AlarmRuleIndex;
            expected.WarnCountsStopped = defaults.WarnCountsStopped;
            expected.CounterChoices = defaults.CounterChoices;
        }
        EXPECT_EQ(read, expected);
    }
}

// The same for the options added since: each damaged one takes its own default.
TEST_F(SettingsIoTest, DamagedAddedOptionsTakeTheirDefaults) {
    const SettingsRecord defaults;
    const struct {
        const char* name;
        std::uint32_t type;
        QByteArray data;
        std::function<void(SettingsRecord&)> expect;
    } cases[] = {
        {"ShowConfidenceBand", 1, QByteArray("1", 2),
         [&](SettingsRecord& r) { r.ShowConfidenceBand = defaults.ShowConfidenceBand; }},
        {"AlarmRuleIndex", 4, Dword(2),
         [&](SettingsRecord& r) { r.AlarmRuleIndex = defaults.AlarmRuleIndex; }},
        {"AlarmRuleIndex", 4, Dword(0xffffffffu),
         [&](SettingsRecord& r) { r.AlarmRuleIndex = defaults.AlarmRuleIndex; }},
        {"WarnCountsStopped", 4, QByteArray(5, '\0'),
         [&](SettingsRecord& r) { r.WarnCountsStopped = defaults.WarnCountsStopped; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteSettings(store, Unusual()));
        Set(c.name, c.type, c.data);
        SettingsRecord read;
        ASSERT_TRUE(ReadSettings(store, &read));
        SettingsRecord expected = Unusual();
        c.expect(expected);
        EXPECT_EQ(read, expected);
    }
}

TEST_F(SettingsIoTest, StringsAreLenient) {
    struct Case {
        std::uint32_t type;
        QByteArray data;
        bool ok;
        QString title;
    };
    const std::vector<Case> cases = {
        {1, QByteArray("abc\0def", 8), true, QStringLiteral("abc")},  // ends at the first NUL
        {1, QByteArray("abc"), true, QStringLiteral("abc")},          // no NUL at all
        {2, QByteArray("%HOME%", 7), true, QStringLiteral("%HOME%")}, // never expanded
        {4, QByteArray(), true, QString()},                           // empty: type not looked at
        {4, Dword(1), false, QString()},                              // a number is no text
        {3, QByteArray("abc", 3), false, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data.toStdString());
        ASSERT_TRUE(WriteSettings(store, Unusual()));
        Set("GraphTitle", c.type, c.data);
        SettingsRecord read;
        EXPECT_EQ(ReadSettings(store, &read), c.ok);
        if (c.ok) {
            EXPECT_EQ(read.GraphTitle, c.title);
        }
    }
}

TEST_F(SettingsIoTest, BooleansTakeAnyNonZeroNumberAsTrue) {
    ASSERT_TRUE(WriteSettings(store, SettingsRecord{}));
    Set("AlarmEnabled", 4, Dword(0xffffffffu));
    Set("UnitsIndex", 4, QByteArray("\x03", 1)); // a short dword still reads
    SettingsRecord read;
    ASSERT_TRUE(ReadSettings(store, &read));
    EXPECT_TRUE(read.AlarmEnabled);
    EXPECT_EQ(read.UnitsIndex, 3);
}

TEST_F(SettingsIoTest, SpansBeyondADwordAreClampedNotUndefined) {
    for (const auto& [span, stored] : std::vector<std::pair<double, std::int32_t>>{
             {-3.9, -3}, {1e12, 2147483647}, {-1e12, -2147483647 - 1}, {0.5, 0}}) {
        SettingsRecord r;
        r.MaxSpan = span;
        ASSERT_TRUE(WriteSettings(store, r));
        SettingsRecord read;
        ASSERT_TRUE(ReadSettings(store, &read));
        EXPECT_EQ(read.MaxSpan, stored) << span;
    }
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Only our values decide whether the defaults come back; when they do, the
// damaged file is kept beside the store first, and what it held besides our
// values stays in the store.
TEST_F(SettingsIoTest, DamagedStoreIsKeptBeforeTheDefaultsReplaceIt) {
    const QString bad = store.DamagedCopyPath();
    ASSERT_TRUE(WriteSettings(store, Unusual()));
    QByteArray text = ReadAll(store.Path());
    text.replace("Tickplot]\n", "Tickplot]\n\"Odd\"=qword:1\nnot a value\n");
    text += "\n[HKEY_CURRENT_USER\\Software\\Other]\n\"X\"=what\n";
    WriteAll(store.Path(), text);
    SettingsRecord read;
    ASSERT_TRUE(ReadSettings(store, &read));
    EXPECT_EQ(read, Unusual());
    EXPECT_FALSE(QFile::exists(bad));

    Set("AlarmLevel", 4, Dword(1));
    const QByteArray damaged = ReadAll(store.Path());
    EXPECT_FALSE(ReadSettings(store, &read));
    EXPECT_EQ(ReadAll(bad), damaged);
    EXPECT_EQ(QFile::permissions(bad) & (QFile::ReadGroup | QFile::ReadOther), 0);
    ASSERT_TRUE(WriteSettings(store, SettingsRecord{}));
    ASSERT_TRUE(ReadSettings(store, &read));
    EXPECT_EQ(read, SettingsRecord{});
    EXPECT_TRUE(ReadAll(store.Path()).contains("\"Odd\"=qword:1\nnot a value\n"));
    EXPECT_TRUE(
        ReadAll(store.Path()).endsWith("[HKEY_CURRENT_USER\\Software\\Other]\n\"X\"=what\n"));

    // Too large to be a store: moved aside whole.
    QByteArray huge(RegFileSettingsStore::kMaxFileSize + 1, ';');
    WriteAll(store.Path(), huge);
    EXPECT_FALSE(ReadSettings(store, &read));
    EXPECT_EQ(QFile(bad).size(), huge.size());
    ASSERT_TRUE(WriteSettings(store, SettingsRecord{}));
    ASSERT_TRUE(ReadSettings(store, &read));

    // Where no copy can be made, the damaged store is not overwritten.
    ASSERT_TRUE(QFile::remove(bad));
    ASSERT_TRUE(QDir().mkpath(bad));
    Set("AlarmLevel", 4, Dword(1));
    const QByteArray unkept = ReadAll(store.Path());
    EXPECT_FALSE(ReadSettings(store, &read));
    EXPECT_FALSE(WriteSettings(store, SettingsRecord{}));
    EXPECT_EQ(ReadAll(store.Path()), unkept);
}

TEST(SettingsIo, UnwritableStoreFails) {
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    RegFileSettingsStore store(dir.filePath(QStringLiteral("file/Tickplot.reg")));
    EXPECT_FALSE(WriteSettings(store, SettingsRecord{}));
}

} // namespace
} // namespace korvinet::settings
