#include "files/file_output.h"

#include <QFile>

namespace korvinet {

bool WriteWholeFile(const QString& fileName, const QByteArray& bytes) {
    if (fileName.isEmpty())
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write(bytes) == bytes.size();
    const bool flushed = written && file.flush();
    file.close(); // flushes again; an error there shows in error()
    return written && flushed && file.error() == QFileDevice::NoError;
}

} // namespace korvinet
