#include "files/cp1252.h"

#include <QStringDecoder>
#include <array>

namespace korvinet::files {

namespace {

// 0x80-0x9F; the unassigned bytes map to their own C1 control characters.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char EncodeChar(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == c)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

} // namespace

QString DecodeWindows1252(const QByteArray& bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        *out++ = QChar(u >= 0x80 && u < 0xA0 ? kHighControls[u - 0x80] : char16_t(u));
    }
    return text;
}

QByteArray EncodeWindows1252(const QString& text, bool* exact) {
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char* out = bytes.data();
    bool replaced = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            // One character outside the code page, one replacement.
            ++i;
            *out++ = '?';
            replaced = true;
            continue;
        }
        *out = EncodeChar(c.unicode());
        replaced = replaced || (*out == '?' && c != QLatin1Char('?'));
        ++out;
    }
    bytes.truncate(out - bytes.data());
    if (exact)
        *exact = !replaced;
    return bytes;
}

QString DecodeWindows1252OrUtf8(const QByteArray& bytes) {
    static const QByteArray kBom("\xEF\xBB\xBF");
    if (bytes.startsWith(kBom))
        return QString::fromUtf8(bytes.constData() + kBom.size(), bytes.size() - kBom.size());
    bool ascii = true;
    for (const char b : bytes) {
        if (static_cast<unsigned char>(b) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return QString::fromLatin1(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return DecodeWindows1252(bytes);
}

} // namespace korvinet::files
