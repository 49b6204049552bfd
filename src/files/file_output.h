#pragma once

#include <QByteArray>
#include <QString>

namespace korvinet {

// Creates or truncates the named file and writes the bytes. Returns true only
// when the open, the write, the flush to the system and the close all
// succeeded, so a full disk or a vanished network drive is never reported as
// a saved file. What was written before a failure stays in the file.
bool WriteWholeFile(const QString& fileName, const QByteArray& bytes);

} // namespace korvinet
