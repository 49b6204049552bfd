#include "files/file_output.h"

#include "platform/file_replace.h"

namespace korvinet::files {

bool WriteWholeFile(const QString& fileName, const QByteArray& bytes) {
    platform::ReplaceOptions options;
    // A user may keep data files in a folder only they may not add to, such
    // as a shared one; there the file is written as it always was.
    options.writeInPlaceIfFolderIsReadOnly = true;
    return platform::ReplaceFileContents(fileName, bytes, options);
}

} // namespace korvinet::files
