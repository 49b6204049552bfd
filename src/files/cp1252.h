#pragma once

#include <QByteArray>
#include <QString>

namespace korvinet::files {

// Windows-1252, the 8-bit code page our data files are written in so they move
// between this program and Windows programs unchanged (the micro sign of
// "µR/hr" is the byte 0xB5). It matches Latin-1 except in 0x80-0x9F, where it
// holds the euro sign, typographic quotes and dashes and a few letters.
//
// The five byte values the code page leaves unassigned (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) decode to the control characters of the same number, as Windows
// does, so any byte sequence survives decoding and encoding unchanged.
QString DecodeWindows1252(const QByteArray& bytes);
// Characters the code page cannot hold become "?"; `exact`, when given, tells
// whether there were none.
QByteArray EncodeWindows1252(const QString& text, bool* exact = nullptr);

// Text of a file that may have been written by us (Windows-1252) or re-saved
// by an editor in UTF-8: a byte order mark or valid UTF-8 with non-ASCII bytes
// means UTF-8, anything else Windows-1252.
QString DecodeWindows1252OrUtf8(const QByteArray& bytes);

} // namespace korvinet::files
