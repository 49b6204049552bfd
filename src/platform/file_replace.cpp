#include "platform/file_replace.h"

#include "platform/durable_file.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <QRandomGenerator>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

namespace korvinet {

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

// What saving did before: create or truncate, write, flush, close.
bool WriteInPlace(const QByteArray& path, const ContentProducer& produce) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const bool written = Produce(fd, produce);
    return SyncAndClose(fd) && written;
}

// Creates a hidden file of a unique name beside `path`, with `mode` less the
// umask; -1 (errno set) on failure.
int CreateSibling(const QByteArray& path, mode_t mode, QByteArray* siblingPath) {
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folder = path.left(slash + 1);
    // Short enough that the suffix still fits a file name's length limit.
    const QByteArray name = path.mid(slash + 1).left(200);
    for (int attempt = 0; attempt < 100; ++attempt) {
        *siblingPath = folder + '.' + name + '.' +
                       QByteArray::number(QRandomGenerator::global()->generate(), 36);
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
            return WriteInPlace(path, bytes);
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

#endif

bool ReplaceFileContents(const QString& fileName, const QByteArray& bytes,
                         const ReplaceOptions& options) {
    return ReplaceFileContentsWith(
        fileName, [&bytes](const ContentSink& sink) { return sink(bytes); }, options);
}

} // namespace korvinet
