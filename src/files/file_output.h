#pragma once

#include <QByteArray>
#include <QString>

namespace korvinet::files {

// Creates or replaces the named file with the bytes. Returns true only when
// every write, the flush to disk and the close succeeded, so a full disk or a
// vanished network drive is never reported as a saved file. A failed save
// leaves an existing file exactly as it was and no fragment beside it (see
// ReplaceFileContents); only in a folder that takes no new files is an
// existing file written in place, where a full disk still leaves it as it
// was but a crash half way can leave part of it.
bool WriteWholeFile(const QString& fileName, const QByteArray& bytes);

} // namespace korvinet::files
