#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace korvinet::platform {

// Writing that survives a crash or a power cut, for every file the programs
// keep: the journal, the MQTT outbox and files replaced whole
// (file_replace.h).

// Writes all bytes to the descriptor; a short write (a signal, the last free
// block) goes on with the rest until the system reports why it cannot
// (errno set).
[[nodiscard]] bool WriteAll(int fd, QByteArrayView bytes);
// Makes a name created in (or removed from) the folder survive a power cut.
bool SyncFolder(const QString& folder);

// A text file that grows by whole lines and keeps what it reports as written:
// each Append() is one write followed by a data sync, and a line that was only
// partly written (a full disk, a crash in the middle of the write) is cut off
// again, so that the next line always starts at the beginning of a line.
class LineFile {
public:
    LineFile() = default;
    LineFile(const LineFile&) = delete;
    LineFile& operator=(const LineFile&) = delete;
    ~LineFile() { Close(); }

    // Opens the file for appending, creating it (and making its name durable)
    // when missing. An unfinished last line is cut off first; only the file's
    // end is read to find it.
    [[nodiscard]] bool Open(const QString& path);
    // Cuts the open file to length 0.
    [[nodiscard]] bool Clear();
    // Cuts the open file back to `size` bytes, synced: takes back what was
    // appended last.
    [[nodiscard]] bool CutTo(qint64 size);
    // Writes the bytes at the end and syncs them to the disk. On failure the
    // file is cut back to its length before the call (as far as the system
    // lets it) and stays open.
    [[nodiscard]] bool Append(const QByteArray& bytes);
    void Close();

    bool IsOpen() const { return fd_ >= 0; }
    qint64 Size() const { return size_; }
    const QString& Path() const { return path_; }
    // Why the last failed operation failed, in the system's words.
    const QString& Error() const { return error_; }

private:
    bool Fail();

    int fd_ = -1;
    qint64 size_ = 0;
    QString path_;
    QString error_;
};

} // namespace korvinet::platform
