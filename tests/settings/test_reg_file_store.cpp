#include "settings/reg_file_store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace korvinet::settings {
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
        {"Tab", ValueType::String, Text("a\tb"), "\"Tab\"=\"a\tb\""},
        {"Latin1", ValueType::String, Text("caf\xe9"), "\"Latin1\"=\"caf\xe9\""},
        // Strings that cannot be quoted are hex lists of UTF-16 text, as the
        // registry editor writes them; bytes that are no text stay bytes.
        {"Newline", ValueType::String, Text("a\n\xc2\xb5"),
         "\"Newline\"=hex(1):61,00,0a,00,b5,00,00,00"},
        {"Expand", ValueType::ExpandString, Text("%HOME%"),
         "\"Expand\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00"},
        {"NoNul", ValueType::String, QByteArray("abc"), "\"NoNul\"=hex(1):61,62,63"},
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

TEST_F(RegFileStoreTest, FilesThatAreNoStoreOrLackTheKeyAreReplacedOnWrite) {
    const std::vector<QByteArray> broken = {
        "",
        "garbage",
        "[HKEY_CURRENT_USER\\Software\\Quorsa\\Tickplot]\n\"A\"=dword:1\n", // no header
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\Quorsa\\Tickplot\n",
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

// Lines that do not parse, values of an unknown kind and other keys are not
// loaded, cost nothing else, and are written back exactly as they were.
TEST_F(RegFileStoreTest, WhatCannotBeReadIsKeptAsItIs) {
    const char kBefore[] = "Windows Registry Editor Version 5.00\n"
                           "\n"
                           "; kept as written\n"
                           "[HKEY_CURRENT_USER\\Software\\Other]\n"
                           "\"Foreign\"=dword:00000001\n"
                           "what is this\n"
                           "[HKEY_CURRENT_USER\\Software\\Quorsa\\Tickplot]\n"
                           "\"UnitsIndex\"=dword:3\n"
                           "\"Bad\"=dword:123456789\n"
                           "\"Odd\"=qword:0000000000000001\n"
                           "\"Hexy\"=hex:1g\n"
                           "\"Long\"=hex:6500000000000000000001\n"
                           "\"Nul\"=\"a\0b\"\n"
                           "not a value\n"
                           "\"Multi\"=hex(7):41,00,00,00,\\\n"
                           "  00,00\n"
                           "\"GraphTitle\"=\"Cellar\"\n"
                           "\n"
                           "[HKEY_CURRENT_USER\\Software\\Next]\n"
                           "\"Tail\"=hex:00,\\";
    const QByteArray before(kBefore, sizeof(kBefore) - 1); // with its NUL
    WriteFile(before);
    auto key = store.OpenRead();
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->Query(QStringLiteral("UnitsIndex"))->data, Bytes({3, 0, 0, 0}));
    EXPECT_EQ(key->Query(QStringLiteral("GraphTitle"))->data, Text("Cellar"));
    EXPECT_EQ(key->Query(QStringLiteral("Multi"))->type, 7u);
    EXPECT_EQ(key->Query(QStringLiteral("Multi"))->data, Bytes({0x41, 0, 0, 0, 0, 0}));
    for (const char* ignored : {"Foreign", "Bad", "Odd", "Hexy", "Long", "Nul", "Tail"})
        EXPECT_FALSE(key->Query(QLatin1String(ignored)).has_value()) << ignored;

    key = store.OpenWrite();
    key->Set(QStringLiteral("unitsindex"), ValueType::Dword, Bytes({4, 0, 0, 0}));
    key->Set(QStringLiteral("New"), ValueType::Dword, Bytes({1, 0, 0, 0}));
    ASSERT_TRUE(key->Close());
    QByteArray after = before;
    after.replace("\"UnitsIndex\"=dword:3\n", "\"UnitsIndex\"=dword:00000004\n");
    after.replace("\"GraphTitle\"=\"Cellar\"\n",
                  "\"GraphTitle\"=\"Cellar\"\n\"New\"=dword:00000001\n");
    after += "\n\n"; // the unfinished last line is ended, so nothing added later joins it
    EXPECT_EQ(ReadFile(), after);
}

// Registry editor exports: UTF-16LE with a byte-order mark and CR LF, strings
// of other types as hex lists of UTF-16 text, long lists continued.
TEST_F(RegFileStoreTest, RegistryEditorExportsAreRead) {
    const auto utf16Hex = [](const QString& text) {
        QString hex;
        for (const QChar c : text + QChar(0))
            hex += QString::asprintf("%02x,%02x,", c.unicode() & 0xff, c.unicode() >> 8);
        hex.chop(1);
        return hex;
    };
    const QString export_ =
        QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                       "[HKEY_CURRENT_USER\\Software\\Quorsa\\Tickplot]\r\n"
                       "\"UnitsIndex\"=dword:00000003\r\n"
                       "\"GraphTitle\"=hex(1):") +
        utf16Hex(QStringLiteral("Cellar \u00b5\u6e2c")) +
        QStringLiteral("\r\n\"GraphNotes\"=\"Nord \u00e9\"\r\n"
                       "\"ftpDirectory\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,2f,00,\\\r\n"
                       "  77,00,00,00\r\n");
    QByteArray bytes("\xFF\xFE");
    for (const QChar c : export_) {
        bytes += static_cast<char>(c.unicode() & 0xff);
        bytes += static_cast<char>(c.unicode() >> 8);
    }
    WriteFile(bytes);
    for (int pass = 0; pass < 2; ++pass) { // as exported, then as written back
        SCOPED_TRACE(pass);
        auto key = store.OpenRead();
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(key->Query(QStringLiteral("UnitsIndex"))->data, Bytes({3, 0, 0, 0}));
        EXPECT_EQ(key->Query(QStringLiteral("GraphTitle"))->type, 1u);
        EXPECT_EQ(key->Query(QStringLiteral("GraphTitle"))->data,
                  Text("Cellar \xc2\xb5\xe6\xb8\xac"));
        EXPECT_EQ(key->Query(QStringLiteral("GraphNotes"))->data, Text("Nord \xc3\xa9"));
        EXPECT_EQ(key->Query(QStringLiteral("ftpDirectory"))->type, 2u);
        EXPECT_EQ(key->Query(QStringLiteral("ftpDirectory"))->data, Text("%HOME%/w"));
        key = store.OpenWrite();
        key->Set(QStringLiteral("UnitsIndex"), ValueType::Dword, Bytes({3, 0, 0, 0}));
        ASSERT_TRUE(key->Close());
    }
}

// Loading takes time in proportion to the file, however its lines are made.
TEST_F(RegFileStoreTest, LargeStoresLoadAndOversizedOnesCountAsDamaged) {
    QByteArray many = "Windows Registry Editor Version 5.00\n\n[" +
                      RegFileSettingsStore::kKeyPath.toUtf8() + "]\n";
    for (int i = 0; i < 100000; ++i)
        many += QString::asprintf("\"V%d\"=dword:%08x\n", i, i).toLatin1();
    WriteFile(many);
    auto key = store.OpenRead();
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->Query(QStringLiteral("v99999"))->data, Bytes({0x9f, 0x86, 0x01, 0}));

    QByteArray continued = "Windows Registry Editor Version 5.00\n\n[" +
                           RegFileSettingsStore::kKeyPath.toUtf8() + "]\n\"Big\"=hex:";
    qsizetype count = 0;
    while (continued.size() < 4 * 1024 * 1024) {
        continued += "  ";
        for (int i = 0; i < 25; ++i, ++count)
            continued += "5a,";
        continued += "\\\n";
    }
    continued += "  5a\n";
    WriteFile(continued);
    key = store.OpenRead();
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->Query(QStringLiteral("Big"))->data, QByteArray(count + 1, 'Z'));

    continued.resize(RegFileSettingsStore::kMaxFileSize + 1, '\n');
    WriteFile(continued);
    EXPECT_EQ(store.OpenRead(), nullptr);
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

// Also for a user whom permission bits do not stop.
TEST_F(RegFileStoreTest, ReadOnlyStoreIsNeverReplaced) {
    WriteFile("Windows Registry Editor Version 5.00\n\n[" +
              RegFileSettingsStore::kKeyPath.toUtf8() + "]\n\"A\"=dword:00000001\n");
    const QByteArray before = ReadFile();
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner));
    auto key = store.OpenWrite();
    ASSERT_NE(key, nullptr);
    key->Set(QStringLiteral("A"), ValueType::Dword, Bytes({2, 0, 0, 0}));
    EXPECT_FALSE(key->Close());
    EXPECT_EQ(ReadFile(), before);
    const QFileDevice::Permissions forUs =
        QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
    EXPECT_EQ(QFile::permissions(path) & ~forUs, QFileDevice::ReadOwner);
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("Tickplot.reg")});
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
} // namespace korvinet::settings
