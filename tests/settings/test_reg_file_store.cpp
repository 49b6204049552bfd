#include "settings/reg_file_store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace korvinet {
namespace {

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

QByteArray Text(const char* utf8) {
    return QByteArray(utf8) + QByteArray(1, '\0');
}

class RegFileStoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("sub/Tickplot.reg"));
    RegFileSettingsStore store{path};

    void WriteFile(const QByteArray& text) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    QByteArray ReadFile() const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

TEST_F(RegFileStoreTest, MissingFileCannotBeReadButIsCreatedOnWrite) {
    EXPECT_EQ(store.OpenRead(), nullptr);
    auto key = store.OpenWrite();
    ASSERT_NE(key, nullptr);
    ASSERT_TRUE(key->Set(QStringLiteral("UnitsIndex"), ValueType::Dword, Bytes({2, 0, 0, 0})));
    ASSERT_TRUE(key->Close());
    EXPECT_EQ(ReadFile(), QByteArray("Windows Registry Editor Version 5.00\n\n"
                                     "[HKEY_CURRENT_USER\\Software\\Quorsa\\Tickplot]\n"
                                     "\"UnitsIndex\"=dword:00000002\n"));
}

TEST_F(RegFileStoreTest, EveryKindOfValueComesBackByteForByte) {
    struct Case {
        const char* name;
        ValueType type;
        QByteArray data;
        const char* line; // how the file shows it
    };
    const std::vector<Case> cases = {
        {"Dword", ValueType::Dword, Bytes({0x78, 0x56, 0x34, 0x12}), "\"Dword\"=dword:12345678"},
        {"Double", ValueType::Binary, Bytes({0, 0, 0, 0, 0, 0, 0xf0, 0x3f}),
         "\"Double\"=hex:00,00,00,00,00,00,f0,3f"},
        {"Empty", ValueType::Binary, QByteArray(), "\"Empty\"=hex:"},
        {"Plain", ValueType::String, Text("Radiation vs. Time"),
         "\"Plain\"=\"Radiation vs. Time\""},
        {"Quotes", ValueType::String, Text("say \"hi\" C:\\x\\"),
         "\"Quotes\"=\"say \\\"hi\\\" C:\\\\x\\\\\""},
        {"Micro", ValueType::String, Text("\xc2\xb5Sv/hr"), "\"Micro\"=\"\xc2\xb5Sv/hr\""},
        {"NoNul", ValueType::String, QByteArray("abc"), "\"NoNul\"=hex(1):61,62,63"},
        {"Newline", ValueType::String, Text("a\nb"), "\"Newline\"=hex(1):61,0a,62,00"},
        {"Expand", ValueType::ExpandString, Text("%HOME%"),
         "\"Expand\"=hex(2):25,48,4f,4d,45,25,00"},
        {"Short", ValueType::Dword, Bytes({1, 2}), "\"Short\"=hex(4):01,02"},
        {"Name \"q\"", ValueType::Dword, Bytes({0, 0, 0, 0}), "\"Name \\\"q\\\"\"=dword:00000000"},
    };
    auto key = store.OpenWrite();
    ASSERT_NE(key, nullptr);
    for (const Case& c : cases)
        ASSERT_TRUE(key->Set(QString::fromUtf8(c.name), c.type, c.data));
    ASSERT_TRUE(key->Close());

    const QByteArray file = ReadFile();
    auto read = store.OpenRead();
    ASSERT_NE(read, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(file.contains(QByteArray(c.line) + '\n')) << file.toStdString();
        const auto value = read->Query(QString::fromUtf8(c.name));
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->type, static_cast<std::uint32_t>(c.type));
        EXPECT_EQ(value->data, c.data);
    }
    EXPECT_FALSE(read->Query(QStringLiteral("Absent")).has_value());
    // Value names compare without regard to case, as the registry's do.
    EXPECT_TRUE(read->Query(QStringLiteral("dWORD")).has_value());
}

TEST_F(RegFileStoreTest, WritingKeepsOtherValuesAndReplacesInPlace) {
    auto key = store.OpenWrite();
    key->Set(QStringLiteral("A"), ValueType::Dword, Bytes({1, 0, 0, 0}));
    key->Set(QStringLiteral("B"), ValueType::Dword, Bytes({2, 0, 0, 0}));
    ASSERT_TRUE(key->Close());
    key = store.OpenWrite();
    key->Set(QStringLiteral("a"), ValueType::Dword, Bytes({9, 0, 0, 0}));
    ASSERT_TRUE(key->Close());
    EXPECT_TRUE(ReadFile().endsWith("\"A\"=dword:00000009\n\"B\"=dword:00000002\n"));
}

TEST_F(RegFileStoreTest, HandEditedFilesAreRead) {
    WriteFile("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
              "; written by hand\r\n"
              "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
              "\"UnitsIndex\"=dword:00000004\r\n"
              "[hkey_current_user\\software\\quorsa\\tickplot]\r\n"
              "\"UnitsIndex\"=dword:3\r\n"
              "\"AlarmLevel\"=hex:00,00,00,00,\\\r\n"
              "  00,00,f0,3f\r\n"
              "\"Gone\"=dword:00000001\r\n"
              "\"Gone\"=-\r\n");
    auto key = store.OpenRead();
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->Query(QStringLiteral("UnitsIndex"))->data, Bytes({3, 0, 0, 0}));
    EXPECT_EQ(key->Query(QStringLiteral("AlarmLevel"))->data,
              Bytes({0, 0, 0, 0, 0, 0, 0xf0, 0x3f}));
    EXPECT_FALSE(key->Query(QStringLiteral("Gone")).has_value());
}

TEST_F(RegFileStoreTest, MalformedFilesCountAsNoStoreAndAreReplacedOnWrite) {
    const std::vector<QByteArray> broken = {
        "",
        "garbage",
        "[HKEY_CURRENT_USER\\Software\\Quorsa\\Tickplot]\n\"A\"=dword:1\n", // no header
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\Quorsa\\Tickplot\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\Quorsa\\Tickplot]\n"
        "\"A\"=dword:123456789\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\Quorsa\\Tickplot]\n"
        "\"A\"=hex:1g\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\Quorsa\\Tickplot]\n"
        "\"A=\"x\"\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\Quorsa\\Tickplot]\n"
        "\"A\"=hex:00,\\\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\Other]\n"
        "\"A\"=dword:1\n", // our key is missing
    };
    for (const QByteArray& text : broken) {
        SCOPED_TRACE(text.toStdString());
        WriteFile(text);
        EXPECT_EQ(store.OpenRead(), nullptr);
        auto key = store.OpenWrite();
        ASSERT_NE(key, nullptr);
        EXPECT_FALSE(key->Query(QStringLiteral("A")).has_value());
        key->Set(QStringLiteral("B"), ValueType::Dword, Bytes({1, 0, 0, 0}));
        ASSERT_TRUE(key->Close());
        ASSERT_NE(store.OpenRead(), nullptr);
    }
}

TEST_F(RegFileStoreTest, StoreIsPrivateAndReplacedWhole) {
    auto key = store.OpenWrite();
    key->Set(QStringLiteral("ftpPassword"), ValueType::String, Text("secret"));
    ASSERT_TRUE(key->Close());
    const QFileDevice::Permissions perms = QFile::permissions(path);
    EXPECT_TRUE(perms.testFlags(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                            QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                            QFileDevice::WriteOther | QFileDevice::ExeOther;
    EXPECT_FALSE(perms & others);
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("Tickplot.reg")});
}

TEST_F(RegFileStoreTest, FailedWriteLeavesTheOldStoreIntact) {
    auto key = store.OpenWrite();
    key->Set(QStringLiteral("A"), ValueType::Dword, Bytes({1, 0, 0, 0}));
    ASSERT_TRUE(key->Close());
    const QByteArray before = ReadFile();

    // The folder can no longer take the new file: replace the store by a
    // folder of the same name so the final rename fails.
    key = store.OpenWrite();
    key->Set(QStringLiteral("A"), ValueType::Dword, Bytes({2, 0, 0, 0}));
    ASSERT_TRUE(QFile::rename(path, path + QStringLiteral(".keep")));
    ASSERT_TRUE(QDir().mkpath(path + QStringLiteral("/inside")));
    EXPECT_FALSE(key->Close());
    ASSERT_TRUE(QDir(path).removeRecursively());
    ASSERT_TRUE(QFile::rename(path + QStringLiteral(".keep"), path));
    EXPECT_EQ(ReadFile(), before);
}

TEST(RegFileStore, UncreatableFolderFailsToOpenForWriting) {
    QTemporaryDir dir;
    const QString blocker = dir.filePath(QStringLiteral("file"));
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    RegFileSettingsStore store(blocker + QStringLiteral("/sub/Tickplot.reg"));
    EXPECT_EQ(store.OpenRead(), nullptr);
    EXPECT_EQ(store.OpenWrite(), nullptr);
}

} // namespace
} // namespace korvinet
