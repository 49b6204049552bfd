#include "platform/file_replace.h"

#include "platform/durable_file.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <QDir>
#include <QRandomGenerator>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

namespace korvinet::platform {

#ifdef Q_OS_UNIX

namespace {

// Flushes a file to disk and closes it; devices and pipes have nothing to
// flush. The descriptor is closed in every case.
bool SyncAndClose(int fd) {
    struct stat st;
    bool ok = true;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        ok = ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

bool Produce(int fd, const ContentProducer& produce) {
    return produce([fd](QByteArrayView piece) { return WriteAll(fd, piece); });
}

// For devices, pipes and names that do not lead to a file: create or
// truncate, write, flush, close.
bool WriteInPlace(const QByteArray& path, const ContentProducer& produce) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const bool written = Produce(fd, produce);
    return SyncAndClose(fd) && written;
}

// New contents held whole before they go over an old file: in memory up to
// kInMemory bytes, beyond that in an unnamed file of the temporary folder
// (which vanishes with its descriptor, also after a crash), so a large data
// file need not fit in memory.
class StagedContents {
public:
    StagedContents() = default;
    StagedContents(const StagedContents&) = delete;
    StagedContents& operator=(const StagedContents&) = delete;
    ~StagedContents() {
        if (fd_ >= 0)
            ::close(fd_);
    }

    [[nodiscard]] bool Append(QByteArrayView piece) {
        size_ += piece.size();
        if (fd_ < 0 && memory_.size() + piece.size() <= kInMemory) {
            memory_.append(piece);
            return true;
        }
        if (fd_ < 0) {
            fd_ = CreateUnnamedTemporary();
            if (fd_ < 0 || !WriteAll(fd_, memory_))
                return false;
            memory_ = QByteArray();
        }
        return WriteAll(fd_, piece);
    }
    off_t Size() const { return static_cast<off_t>(size_); }

    // Writes the contents over the start of `fd`.
    [[nodiscard]] bool WriteOver(int fd) const {
        if (::lseek(fd, 0, SEEK_SET) != 0)
            return false;
        if (fd_ < 0)
            return WriteAll(fd, memory_);
        if (::lseek(fd_, 0, SEEK_SET) != 0)
            return false;
        QByteArray buffer(1 << 20, Qt::Uninitialized);
        for (;;) {
            const ssize_t n = ::read(fd_, buffer.data(), static_cast<size_t>(buffer.size()));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return n == 0;
            if (!WriteAll(fd, QByteArrayView(buffer.constData(), n)))
                return false;
        }
    }

private:
    static constexpr qsizetype kInMemory = 16 << 20;

    static int CreateUnnamedTemporary() {
        const QByteArray folder = QFile::encodeName(QDir::tempPath());
        const int fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
            return fd;
        // A file system without unnamed files: a named one, gone at once.
        QByteArray name = folder + "/.korvinet-XXXXXX";
        const int named = ::mkostemp(name.data(), O_CLOEXEC);
        if (named >= 0)
            ::unlink(name.constData());
        return named;
    }

    QByteArray memory_;
    int fd_ = -1;
    qint64 size_ = 0;
};

// Writes the contents straight into an existing file (its folder takes no
// new file) so that running out of space leaves it as it was: the contents
// are made whole first, then the blocks they need are reserved, and only
// then is the first old byte overwritten. A crash or a failing drive half
// way can still leave it part old, part new.
bool WriteExistingFileInPlace(const QByteArray& path, const ContentProducer& produce) {
    StagedContents contents;
    if (!produce([&contents](QByteArrayView piece) { return contents.Append(piece); }))
        return false;
    // Read-write where allowed: a filesystem that cannot reserve blocks
    // itself has them reserved by the C library, which reads as it goes.
    int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == EACCES)
        fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    const off_t size = contents.Size();
    int reserved = 0;
    if (size > 0) {
        do
            reserved = ::posix_fallocate(fd, 0, size);
        while (reserved == EINTR);
        // No way to reserve here (a file open write-only on a filesystem
        // without reservations): the free space has to do as the promise.
        if (reserved == EOPNOTSUPP || reserved == EINVAL || reserved == EBADF) {
            struct statvfs fs;
            const bool fits =
                ::fstatvfs(fd, &fs) == 0 &&
                (size <= st.st_size || static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize >=
                                           static_cast<unsigned long long>(size - st.st_size));
            reserved = fits ? 0 : ENOSPC;
        }
    }
    if (reserved != 0) {
        // A reservation cut short may have lengthened the file.
        if (size > st.st_size && ::ftruncate(fd, st.st_size) != 0) {
            // nothing more to be done: the old bytes themselves are intact
        }
        ::close(fd);
        errno = reserved;
        return false;
    }
    bool ok = contents.WriteOver(fd);
    ok = ok && (size >= st.st_size || ::ftruncate(fd, size) == 0);
    return SyncAndClose(fd) && ok;
}

// The name of a new file beside the file it is to replace, up to its random
// suffix: hidden, and short enough that the suffix still fits a file name's
// length limit.
QByteArray SiblingPrefix(const QByteArray& name) {
    return '.' + name.left(200) + '.';
}

// Creates a hidden file of a unique name beside `path`, with `mode` less the
// umask; -1 (errno set) on failure.
int CreateSibling(const QByteArray& path, mode_t mode, QByteArray* siblingPath) {
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folder = path.left(slash + 1);
    const QByteArray prefix = SiblingPrefix(path.mid(slash + 1));
    for (int attempt = 0; attempt < 100; ++attempt) {
        *siblingPath =
            folder + prefix + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        const int fd =
            ::open(siblingPath->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

bool ReplaceFileContentsWith(const QString& fileName, const ContentProducer& bytes,
                             const ReplaceOptions& options) {
    if (fileName.isEmpty())
        return false;
    QByteArray path = QFile::encodeName(fileName);

    struct stat st;
    const bool exists = ::stat(path.constData(), &st) == 0;
    if (!exists) {
        struct stat link;
        // A dangling link or a path that cannot be looked at: opening it
        // decides, as it always did.
        if (errno != ENOENT || ::lstat(path.constData(), &link) == 0)
            return WriteInPlace(path, bytes);
    } else {
        if (!S_ISREG(st.st_mode))
            return WriteInPlace(path, bytes);
        if (options.refuseReadOnlyFile && (st.st_mode & S_IWUSR) == 0)
            return false;
        if (::access(path.constData(), W_OK) != 0)
            return false;
        // Replace the file a link points to, not the link.
        if (char* real = ::realpath(path.constData(), nullptr)) {
            path = QByteArray(real);
            std::free(real);
        } else {
            return false;
        }
    }

    QByteArray sibling;
    const int fd = CreateSibling(path, options.ownerOnly ? 0600 : 0666, &sibling);
    if (fd < 0) {
        if (exists && options.writeInPlaceIfFolderIsReadOnly && (errno == EACCES || errno == EPERM))
            return WriteExistingFileInPlace(path, bytes);
        return false;
    }
    bool ok = true;
    if (exists) {
        // Keeping the owner takes privileges; without them the file becomes
        // the saving user's, as a file saved afresh would.
        if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
            ::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // not permitted: carry on
        }
        ok = ::fchmod(fd, options.ownerOnly ? 0600 : (st.st_mode & 07777)) == 0;
    } else if (options.ownerOnly) {
        ok = ::fchmod(fd, 0600) == 0;
    }
    ok = ok && Produce(fd, bytes);
    ok = SyncAndClose(fd) && ok;
    ok = ok && ::rename(sibling.constData(), path.constData()) == 0;
    if (!ok) {
        ::unlink(sibling.constData());
        return false;
    }
    SyncFolder(QFileInfo(QFile::decodeName(path)).absolutePath());
    return true;
}

int RemoveLeftoverReplacements(const QString& fileName) {
    const QFileInfo info(fileName);
    const QString prefix = QFile::decodeName(SiblingPrefix(QFile::encodeName(info.fileName())));
    QDir folder = info.absoluteDir();
    int removed = 0;
    for (const QString& name :
         folder.entryList({prefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::System))
        removed += folder.remove(name) ? 1 : 0;
    return removed;
}

#else

bool ReplaceFileContentsWith(const QString& fileName, const ContentProducer& produce,
                             const ReplaceOptions& options) {
    if (fileName.isEmpty())
        return false;
    const QFileInfo info(fileName);
    if (info.exists() && options.refuseReadOnlyFile && !info.permission(QFileDevice::WriteOwner))
        return false;
    QSaveFile file(fileName);
    file.setDirectWriteFallback(options.writeInPlaceIfFolderIsReadOnly);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const bool written = produce([&file](QByteArrayView piece) {
        return file.write(piece.data(), piece.size()) == piece.size();
    });
    if (!written) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return false;
    if (options.ownerOnly)
        QFile::setPermissions(fileName, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

int RemoveLeftoverReplacements(const QString&) {
    return 0; // QSaveFile names its new files itself
}

#endif

bool ReplaceFileContents(const QString& fileName, const QByteArray& bytes,
                         const ReplaceOptions& options) {
    return ReplaceFileContentsWith(
        fileName, [&bytes](const ContentSink& sink) { return sink(bytes); }, options);
}

} // namespace korvinet::platform
