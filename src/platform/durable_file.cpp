#include "platform/durable_file.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace korvinet::platform {

namespace {

// The few system calls the file needs, under both systems' names.
#ifdef _WIN32
int OpenFd(const QString& path, int flags) {
    return _wopen(reinterpret_cast<const wchar_t*>(path.utf16()), flags | _O_BINARY,
                  _S_IREAD | _S_IWRITE);
}
long long WriteFd(int fd, const char* data, qint64 size) {
    return _write(fd, data, static_cast<unsigned>(size));
}
int SyncFd(int fd) {
    return _commit(fd);
}
int TruncateFd(int fd, qint64 size) {
    return _chsize_s(fd, size) == 0 ? 0 : -1;
}
qint64 SizeOfFd(int fd) {
    struct _stat64 st {};
    return _fstat64(fd, &st) == 0 ? st.st_size : -1;
}
int CloseFd(int fd) {
    return _close(fd);
}
constexpr int kAppendFlags = _O_RDWR | _O_APPEND | _O_CREAT;
#else
int OpenFd(const QString& path, int flags) {
    return ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, 0644);
}
long long WriteFd(int fd, const char* data, qint64 size) {
    return ::write(fd, data, static_cast<size_t>(size));
}
int SyncFd(int fd) {
    return ::fdatasync(fd);
}
int TruncateFd(int fd, qint64 size) {
    return ::ftruncate(fd, static_cast<off_t>(size));
}
qint64 SizeOfFd(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<qint64>(st.st_size) : -1;
}
int CloseFd(int fd) {
    return ::close(fd);
}
constexpr int kAppendFlags = O_RDWR | O_APPEND | O_CREAT;
#endif

QString ErrorText(int error) {
    return qt_error_string(error);
}

} // namespace

bool WriteAll(int fd, QByteArrayView bytes) {
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const long long written = WriteFd(fd, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = ENOSPC;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

bool SyncFolder(const QString& folder) {
#ifdef _WIN32
    Q_UNUSED(folder);
    return true;
#else
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    const int why = errno;
    ::close(fd);
    errno = why;
    return synced;
#endif
}

bool LineFile::Fail() {
    error_ = ErrorText(errno);
    return false;
}

bool LineFile::Open(const QString& path) {
    Close();
    error_.clear();
    path_ = path;
    const bool existed = QFileInfo::exists(path);
    fd_ = OpenFd(path, kAppendFlags);
    if (fd_ < 0)
        return Fail();
    if (!existed && !SyncFolder(QFileInfo(path).absolutePath())) {
        Fail();
        Close();
        return false;
    }
    size_ = SizeOfFd(fd_);
    if (size_ < 0) {
        Fail();
        Close();
        return false;
    }
    // Whatever follows the last line end never was a whole line. It is looked
    // for from the end backwards, a piece at a time: far more than one line,
    // far less than a day's file.
    constexpr qint64 kPiece = 64 * 1024;
    qint64 whole = 0;
    QFile reader(path);
    for (qint64 end = size_; end > 0;) {
        const qint64 from = std::max<qint64>(0, end - kPiece);
        QByteArray piece;
        if ((!reader.isOpen() && !reader.open(QIODevice::ReadOnly)) || !reader.seek(from) ||
            (piece = reader.read(end - from)).size() != end - from) {
            error_ = reader.errorString();
            Close();
            return false;
        }
        const qsizetype lineEnd = piece.lastIndexOf('\n');
        if (lineEnd >= 0) {
            whole = from + lineEnd + 1;
            break;
        }
        end = from;
    }
    if (whole < size_ && !CutTo(whole)) {
        Close();
        return false;
    }
    return true;
}

bool LineFile::CutTo(qint64 size) {
    if (!IsOpen()) {
        error_ = ErrorText(EBADF);
        return false;
    }
    if (TruncateFd(fd_, size) != 0 || SyncFd(fd_) != 0)
        return Fail();
    size_ = size;
    return true;
}

bool LineFile::Clear() {
    error_.clear();
    return IsOpen() && CutTo(0);
}

bool LineFile::Append(const QByteArray& bytes) {
    error_.clear();
    if (!IsOpen()) {
        error_ = ErrorText(EBADF);
        return false;
    }
    if (!WriteAll(fd_, bytes) || SyncFd(fd_) != 0) {
        const int why = errno;
        (void)CutTo(size_); // a partial line must not run into the next one
        error_ = ErrorText(why);
        return false;
    }
    size_ += bytes.size();
    return true;
}

void LineFile::Close() {
    if (fd_ >= 0)
        CloseFd(fd_);
    fd_ = -1;
}

} // namespace korvinet::platform
