#include "platform/file_replace.h"

#include "support/file_size_limit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvinet::platform {
namespace {

class FileReplaceTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("f"));

    void Put(const QString& name, const QByteArray& bytes, mode_t mode = 0644) {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
        file.close();
        ASSERT_EQ(::chmod(QFile::encodeName(name).constData(), mode), 0);
    }
    static QByteArray Read(const QString& name) {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    static mode_t Mode(const QString& name) {
        struct stat st;
        return ::lstat(QFile::encodeName(name).constData(), &st) == 0 ? st.st_mode : 0;
    }
    QStringList Entries() const {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
};

TEST_F(FileReplaceTest, ReplacesWholeKeepingPermissionsAndLinks) {
    Put(path, "old", 0640);
    ASSERT_TRUE(ReplaceFileContents(path, "new contents"));
    EXPECT_EQ(Read(path), "new contents");
    EXPECT_EQ(Mode(path) & 07777, 0640u);

    const mode_t mask = ::umask(022);
    ::umask(mask);
    const QString fresh = dir.filePath(QStringLiteral("fresh"));
    ASSERT_TRUE(ReplaceFileContents(fresh, "x"));
    EXPECT_EQ(Mode(fresh) & 07777, 0666u & ~mask);

    ReplaceOptions privateFile;
    privateFile.ownerOnly = true;
    ASSERT_TRUE(ReplaceFileContents(fresh, "secret", privateFile));
    EXPECT_EQ(Mode(fresh) & 07777, 0600u);

    // Through a link the file it points to is replaced; the link stays.
    const QString link = dir.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(path, link));
    ASSERT_TRUE(ReplaceFileContents(link, "via link"));
    EXPECT_TRUE(S_ISLNK(Mode(link)));
    EXPECT_EQ(Read(path), "via link");

    EXPECT_EQ(Entries(), (QStringList{"f", "fresh", "link"}));
}

TEST_F(FileReplaceTest, FailureLeavesTheOldFileAndNothingBesideIt) {
    Put(path, "old contents");
    const QByteArray big(64 * 1024, 'n');
    {
        testing::FileSizeLimit diskFull(4096);
        EXPECT_FALSE(ReplaceFileContents(path, big));
        EXPECT_FALSE(ReplaceFileContents(dir.filePath(QStringLiteral("new")), big));
    }
    EXPECT_EQ(Read(path), "old contents");
    EXPECT_EQ(Entries(), QStringList{"f"});
    EXPECT_FALSE(ReplaceFileContents(QString(), "x"));
    EXPECT_FALSE(ReplaceFileContents(dir.filePath(QStringLiteral("no/such/folder")), "x"));
}

TEST_F(FileReplaceTest, DevicesAreWrittenDirectly) {
    EXPECT_TRUE(ReplaceFileContents(QStringLiteral("/dev/null"), "x"));
    EXPECT_FALSE(ReplaceFileContents(QStringLiteral("/dev/full"), "x")); // no space, ever
    EXPECT_TRUE(S_ISCHR(Mode(QStringLiteral("/dev/full"))));
    EXPECT_TRUE(S_ISCHR(Mode(QStringLiteral("/dev/null"))));
}

TEST_F(FileReplaceTest, ReadOnlyFileIsRefusedEvenWherePermissionsDoNotStopWrites) {
    Put(path, "old", 0400);
    ReplaceOptions strict;
    strict.refuseReadOnlyFile = true;
    EXPECT_FALSE(ReplaceFileContents(path, "new", strict));
    EXPECT_EQ(Read(path), "old");
    EXPECT_EQ(Mode(path) & 07777, 0400u);
    EXPECT_EQ(Entries(), QStringList{"f"});
}

// A folder that takes no new files, holding a file that may be written: the
// file is written in place when that is allowed, else left alone. Written in
// place it is replaced whole or left as it was, however little space is left
// and however the contents come (in pieces, beyond what is held in memory).
// Runs as an unprivileged user (dropping root's rights in a child) since
// root may add files to any folder.
TEST_F(FileReplaceTest, ReadOnlyFolderFallsBackToWritingInPlace) {
    struct Case {
        rlim_t spaceLeft;
        qsizetype size;
        bool saved;
    };
    const Case cases[] = {
        {4096, 64 * 1024, false},        // a 3,006-byte image saved larger
        {4096, 4000, true},              // what fits is saved
        {RLIM_INFINITY, 100, true},      // shorter than before
        {RLIM_INFINITY, 17 << 20, true}, // beyond the memory share
        {8 << 20, 17 << 20, false},      // that, and no room for it
    };
    Put(path, QByteArray(3006, 'o'));
    const QByteArray folder = QFile::encodeName(dir.path());
    const QByteArray file = QFile::encodeName(path);
    constexpr uid_t kNobody = 65534;
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(folder.constData(), kNobody, kNobody), 0);
        ASSERT_EQ(::chown(file.constData(), kNobody, kNobody), 0);
    }
    ASSERT_EQ(::chmod(folder.constData(), 0555), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            ::_exit(10);
        ReplaceOptions fallback;
        fallback.writeInPlaceIfFolderIsReadOnly = true;
        if (ReplaceFileContents(path, "refused"))
            ::_exit(11);
        QByteArray expected = Read(path);
        for (int i = 0; i < std::ssize(cases); ++i) {
            const QByteArray bytes(cases[i].size, static_cast<char>('a' + i));
            const auto inPieces = [&bytes](const ContentSink& sink) {
                for (qsizetype at = 0; at < bytes.size(); at += 65536)
                    if (!sink(QByteArrayView(bytes).sliced(
                            at, std::min<qsizetype>(65536, bytes.size() - at))))
                        return false;
                return true;
            };
            testing::FileSizeLimit disk(cases[i].spaceLeft);
            if (ReplaceFileContentsWith(path, inPieces, fallback) != cases[i].saved)
                ::_exit(20 + i);
            expected = cases[i].saved ? bytes : expected;
            if (Read(path) != expected)
                ::_exit(30 + i);
        }
        if (!ReplaceFileContents(path, "in place", fallback))
            ::_exit(12);
        ::_exit(0);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::chmod(folder.constData(), 0755);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "20 + case: saved or not unlike expected; 30: contents";
    EXPECT_EQ(Read(path), "in place");
    EXPECT_EQ(Entries(), QStringList{"f"});
}

} // namespace
} // namespace korvinet::platform
