#include "recording/journal_folder.h"

#include "platform/datetime.h"
#include "platform/file_replace.h"
#include "recording/journal_file.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvinet::recording {

namespace {

const QString kStateFile = QStringLiteral("journal.state");
const QString kDayFormat = QStringLiteral("yyyy-MM-dd");

} // namespace

QString DefaultRecordingsFolder() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return data.isEmpty() ? QString() : data + QStringLiteral("/Korvinet/recordings");
}

namespace {

QString DayPartName(QDate day, int part, const QString& suffix) {
    return part <= 1 ? day.toString(kDayFormat) + suffix
                     : day.toString(kDayFormat) +
                           QStringLiteral("_%1").arg(part, 2, 10, QLatin1Char('0')) + suffix;
}

std::optional<JournalFile> ParseDayPartName(const QString& name,
                                            const QRegularExpression& pattern) {
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    JournalFile file;
    file.day = QDate::fromString(match.captured(1), kDayFormat);
    file.part = match.hasCaptured(2) ? match.captured(2).toInt() : 1;
    if (!file.day.isValid() || (match.hasCaptured(2) && file.part < 2))
        return std::nullopt;
    return file;
}

template <typename Parse>
std::vector<JournalFile> ListDayParts(const QString& folder, const QString& glob, Parse parse) {
    std::vector<JournalFile> files;
    const QStringList names = QDir(folder).entryList({glob}, QDir::Files | QDir::NoDotAndDotDot);
    for (const QString& name : names)
        if (const auto file = parse(name))
            files.push_back(*file);
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

namespace {

QString Kind(bool memory, const char* suffix) {
    return (memory ? QStringLiteral(".memory") : QString()) + QLatin1String(suffix);
}

} // namespace

QString JournalFile::Name() const {
    return DayPartName(day, part, Kind(memory, ".csv"));
}

QString JournalFile::AlarmsName() const {
    return DayPartName(day, part, Kind(memory, ".alarms"));
}

std::optional<JournalFile> ParseJournalFileName(const QString& name) {
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})(?:_(\\d{2,9}))?(\\.memory)?\\.csv$"));
    std::optional<JournalFile> file = ParseDayPartName(name, pattern);
    if (file)
        file->memory = name.endsWith(QStringLiteral(".memory.csv"));
    return file;
}

std::vector<JournalFile> ListJournalFiles(const QString& folder, bool memory) {
    return ListDayParts(folder, QStringLiteral("*.csv"), [memory](const QString& name) {
        std::optional<JournalFile> file = ParseJournalFileName(name);
        return file && file->memory == memory ? file : std::nullopt;
    });
}

QString JournalSamplesName(QDate day, int part, bool memory) {
    return DayPartName(day, part, Kind(memory, ".samples"));
}

std::optional<JournalFile> ParseJournalSamplesName(const QString& name) {
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})(?:_(\\d{2,9}))?(\\.memory)?\\.samples$"));
    std::optional<JournalFile> file = ParseDayPartName(name, pattern);
    if (file)
        file->memory = name.endsWith(QStringLiteral(".memory.samples"));
    return file;
}

std::vector<JournalFile> ListJournalSamples(const QString& folder, bool memory) {
    return ListDayParts(folder, QStringLiteral("*.samples"), [memory](const QString& name) {
        std::optional<JournalFile> file = ParseJournalSamplesName(name);
        return file && file->memory == memory ? file : std::nullopt;
    });
}

QDate JournalDay(double dateTime) {
    return platform::SplitDateTime(dateTime).Date();
}

int RemoveExpiredJournalFiles(const QString& folder, QDate today, int keepDays) {
    if (keepDays <= 0 || !today.isValid())
        return 0;
    const QDate oldestKept = today.addDays(-keepDays);
    QDir dir(folder);
    int removed = 0;
    // An alarm list goes before its data file, so that none outlives it;
    // another program's file under one of their names stays.
    std::vector<JournalFile> files = ListJournalFiles(folder);
    const std::vector<JournalFile> memory = ListJournalFiles(folder, true);
    files.insert(files.end(), memory.begin(), memory.end());
    std::vector<JournalFile> samples = ListJournalSamples(folder);
    const std::vector<JournalFile> memorySamples = ListJournalSamples(folder, true);
    samples.insert(samples.end(), memorySamples.begin(), memorySamples.end());
    for (const JournalFile& file : files) {
        if (file.day >= oldestKept)
            continue;
        const JournalFileFront front = ReadJournalFileFront(dir.filePath(file.Name()));
        if (front.origin == JournalFileOrigin::Foreign)
            continue;
        if (AlarmListBelongs(dir.filePath(file.AlarmsName()), front.columns))
            dir.remove(file.AlarmsName());
        if (dir.remove(file.Name()))
            ++removed;
    }
    for (const JournalFile& file : samples) {
        const QString name = JournalSamplesName(file.day, file.part, file.memory);
        if (file.day >= oldestKept)
            continue;
        if (ReadJournalSamplesOrigin(dir.filePath(name)) != JournalFileOrigin::Foreign)
            dir.remove(name);
    }
    return removed;
}

JournalSessionState ReadJournalSessionState(const QString& folder) {
    JournalSessionState state;
    QFile file(QDir(folder).filePath(kStateFile));
    if (!file.exists())
        return state; // no session yet
    // A state that does not read (damaged, cut short) tells nothing of a
    // clean end: the session is taken for an unclean one of unknown start.
    state.running = true;
    if (!file.open(QIODevice::ReadOnly))
        return state;
    const QStringList words =
        QString::fromLatin1(file.read(200)).simplified().split(QLatin1Char(' '));
    bool number = false;
    const double start = words.size() == 2 ? words[1].toDouble(&number) : 0.0;
    const bool clean = words[0] == QLatin1String("clean");
    if (number && std::isfinite(start) && (clean || words[0] == QLatin1String("running"))) {
        state.running = !clean;
        state.start = start;
    }
    return state;
}

bool WriteJournalSessionState(const QString& folder, const JournalSessionState& state,
                              QString* error) {
    const QString text = (state.running ? QStringLiteral("running ") : QStringLiteral("clean ")) +
                         QString::number(state.start, 'g', 17) + QLatin1Char('\n');
    if (platform::ReplaceFileContents(QDir(folder).filePath(kStateFile), text.toLatin1()))
        return true;
    *error = qt_error_string(errno);
    return false;
}

JournalFolderLock::JournalFolderLock(const QString& folder)
    : folder_(folder), lock_(QDir(folder).filePath(QStringLiteral("journal.lock"))) {
    // Only a dead holder makes the lock stale, never its age: a station runs
    // for months.
    lock_.setStaleLockTime(0);
}

namespace {

// Why nothing can be written into the folder, in the system's words ("No
// space left on device", "Permission denied", "Read-only file system"):
// a probe file is made, written, synced and removed again. Empty when all
// of that works.
QString WriteProblem(const QString& folder) {
    QFile probe(QDir(folder).filePath(
        QStringLiteral(".journal-probe-%1").arg(QCoreApplication::applicationPid())));
    QString why;
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Truncate))
        why = probe.errorString();
    else if (probe.write(QByteArray(512, '\n')) != 512 || !probe.flush() ||
             ::fsync(probe.handle()) != 0)
        why = probe.error() != QFileDevice::NoError ? probe.errorString() : qt_error_string(errno);
    probe.close();
    probe.remove();
    return why;
}

// The folder and the folders above it made where missing; the system's
// reason when that fails.
QString MakeFolder(const QString& folder) {
    if (QDir().mkpath(folder))
        return {};
    if (QFileInfo::exists(folder))
        return qt_error_string(ENOTDIR);
    // The first missing folder on the way down names the reason.
    QString path = QDir::cleanPath(QDir(folder).absolutePath());
    QString missing = path;
    while (!QFileInfo::exists(path)) {
        missing = path;
        path = QFileInfo(path).absolutePath();
    }
    return ::mkdir(QFile::encodeName(missing).constData(), 0755) == 0 && QDir().mkpath(folder)
               ? QString()
               : qt_error_string(errno);
}

// The lock is taken over from a holder that has died only when its file
// names the holder (its process number on the first line). A holder killed
// between making the file and writing into it (a kill or a power cut while
// it starts) leaves it empty, and the folder would stay locked for good:
// nothing recorded, the last session never restored. So does, for half a
// minute, the ".rmlock" beside it, taken while a dead holder's lock is
// removed. A holder keeps a lock on the file itself (flock) from before it
// writes its name until it ends: a nameless file that nobody holds so, made
// more than a second ago, is left over from a holder that died.
void RemoveNamelessLock(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const auto nameless = [&file] {
        bool number = false;
        file.seek(0);
        return file.readLine(32).trimmed().toLongLong(&number) <= 0 || !number;
    };
    if (!nameless())
        return;
    constexpr qint64 kSettleMs = 1000;
    const qint64 age =
        file.fileTime(QFileDevice::FileModificationTime).msecsTo(QDateTime::currentDateTimeUtc());
    if (age >= 0 && age < kSettleMs)
        QThread::msleep(static_cast<unsigned long>(kSettleMs - age));
    if (::flock(file.handle(), LOCK_EX | LOCK_NB) == 0 && nameless())
        QFile::remove(path);
}

} // namespace

bool JournalFolderLock::TryLock(QString* error) {
    if (const QString why = MakeFolder(folder_); !why.isEmpty()) {
        *error = QStringLiteral("cannot make the journal folder %1: %2").arg(folder_, why);
        return false;
    }
    bool locked = lock_.tryLock(0);
    if (!locked && lock_.error() == QLockFile::LockFailedError) {
        const QString path = QDir(folder_).filePath(QStringLiteral("journal.lock"));
        RemoveNamelessLock(path + QStringLiteral(".rmlock"));
        RemoveNamelessLock(path);
        locked = lock_.tryLock(0);
    }
    if (locked) {
        // Ours alone now: a state half replaced when a process was killed goes.
        platform::RemoveLeftoverReplacements(QDir(folder_).filePath(kStateFile));
        return true;
    }
    qint64 pid = 0;
    QString host, app;
    if (lock_.error() == QLockFile::LockFailedError && lock_.getLockInfo(&pid, &host, &app)) {
        *error = QStringLiteral("another program (process %1) records into the journal folder %2")
                     .arg(pid)
                     .arg(folder_);
        return false;
    }
    const QString why = WriteProblem(folder_);
    *error = QStringLiteral("cannot lock the journal folder %1: %2")
                 .arg(folder_, why.isEmpty() ? QStringLiteral("unknown error") : why);
    return false;
}

} // namespace korvinet::recording
