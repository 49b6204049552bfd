#include "files/cp1252.h"

#include <gtest/gtest.h>

namespace korvinet::files {
namespace {

TEST(Windows1252, EveryByteSurvivesDecodeAndEncode) {
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    const QString text = DecodeWindows1252(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(EncodeWindows1252(text), all);
}

TEST(Windows1252, DiffersFromLatin1OnlyInTheC1Range) {
    struct Case {
        unsigned char byte;
        char16_t unicode;
    };
    const Case cases[] = {
        {0x41, u'A'},   {0x80, 0x20AC}, {0x81, 0x0081}, {0x85, 0x2026}, {0x8A, 0x0160},
        {0x8D, 0x008D}, {0x92, 0x2019}, {0x96, 0x2013}, {0x99, 0x2122}, {0x9F, 0x0178},
        {0xA0, 0x00A0}, {0xB5, 0x00B5}, {0xE9, 0x00E9}, {0xFF, 0x00FF},
    };
    for (const Case& c : cases) {
        const QByteArray byte(1, static_cast<char>(c.byte));
        EXPECT_EQ(DecodeWindows1252(byte), QString(QChar(c.unicode))) << int(c.byte);
        EXPECT_EQ(EncodeWindows1252(QString(QChar(c.unicode))), byte) << int(c.byte);
    }
}

TEST(Windows1252, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    bool exact = false;
    EXPECT_EQ(EncodeWindows1252(QStringLiteral("\u00B5Sv/hr? \u20AC"), &exact),
              QByteArray("\xB5Sv/hr? \x80"));
    EXPECT_TRUE(exact);
    EXPECT_EQ(EncodeWindows1252(QStringLiteral("\u03A9 \u4E2D"), &exact), QByteArray("? ?"));
    EXPECT_FALSE(exact);
    // A character beyond the 16-bit plane is one character, one "?".
    EXPECT_EQ(EncodeWindows1252(QString::fromUtf8("a\xF0\x9F\x98\x80z")), QByteArray("a?z"));
}

TEST(Windows1252, FilesAreReadAsUtf8OnlyWhenTheyAreValidUtf8) {
    struct Case {
        const char* name;
        QByteArray bytes;
        QString text;
    };
    const Case cases[] = {
        {"ascii", "Time, mR/hr", QStringLiteral("Time, mR/hr")},
        {"our own micro sign", "Time, \xB5R/hr", QStringLiteral("Time, \u00B5R/hr")},
        {"re-saved as UTF-8", "Time, \xC2\xB5R/hr", QStringLiteral("Time, \u00B5R/hr")},
        {"UTF-8 with BOM", "\xEF\xBB\xBFTime, \xC2\xB5Sv/hr", QStringLiteral("Time, \u00B5Sv/hr")},
        {"1252 quotes", "\x93North\x94 wall \x80", QStringLiteral("\u201CNorth\u201D wall \u20AC")},
        {"mixed invalid", "\xB5 and \xC2\xB5", QStringLiteral("\u00B5 and \u00C2\u00B5")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeWindows1252OrUtf8(c.bytes), c.text) << c.name;
}

} // namespace
} // namespace korvinet::files
