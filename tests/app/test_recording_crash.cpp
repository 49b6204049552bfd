// Kills the real window (tests/app/recording_crash_child.cpp) with SIGKILL at
// random moments, again and again on one recordings folder, and checks every
// start: the graph shows again every reading whose tick had completed, each
// once and in order, alarm points red; a clean exit leaves the next start
// empty; the journal files stay data files the reader takes whole.
#include "files/data_file.h"
#include "platform/regional.h"
#include "recording/journal_folder.h"
#include "recording/journal_restore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <poll.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace korvinet::app {
namespace {

struct Recorded {
    qint64 second = 0;
    QString text;
    bool red = false;
    bool operator==(const Recorded&) const = default;
};

// One run of the window, its standard output read line by line.
class Child {
public:
    Child(const QString& folder, const QString& settings, qint64 epochMs, int exitAfter) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        const QByteArray args[] = {KORVINET_CRASH_CHILD, folder.toLocal8Bit(),
                                   settings.toLocal8Bit(), QByteArray::number(epochMs),
                                   QByteArray::number(exitAfter)};
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            char* argv[] = {
                const_cast<char*>(args[0].constData()), const_cast<char*>(args[1].constData()),
                const_cast<char*>(args[2].constData()), const_cast<char*>(args[3].constData()),
                const_cast<char*>(args[4].constData()), nullptr};
            ::execv(argv[0], argv);
            std::_Exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
        clock_.start();
    }
    ~Child() {
        Kill();
        ::close(out_);
    }

    bool Started() const { return pid_ > 0; }
    qint64 Elapsed() const { return clock_.elapsed(); }

    // Takes the lines that arrive within `ms`; false once the output has ended.
    bool Read(qint64 ms) {
        pollfd p{out_, POLLIN, 0};
        if (!open_ || ::poll(&p, 1, static_cast<int>(std::max<qint64>(ms, 0))) <= 0)
            return open_;
        char buffer[4096];
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        open_ = n > 0;
        pending_.append(buffer, std::max<ssize_t>(n, 0));
        for (qsizetype end; (end = pending_.indexOf('\n')) >= 0; pending_.remove(0, end + 1))
            Take(QString::fromUtf8(pending_.left(end)));
        return open_;
    }
    // Reads to the end of the output, killing the child if that takes more
    // than `ms`; its exit status, -1 when it was killed.
    int Wait(qint64 ms) {
        const qint64 until = Elapsed() + ms;
        while (Read(until - Elapsed()) && Elapsed() < until) {
        }
        if (pid_ > 0 && !reaped_) {
            if (open_)
                ::kill(pid_, SIGKILL);
            while (Read(1000)) {
            }
            int how = 0;
            ::waitpid(pid_, &how, 0);
            reaped_ = true;
            status_ = WIFEXITED(how) ? WEXITSTATUS(how) : -1;
        }
        return status_;
    }
    void Kill() {
        if (pid_ > 0 && !reaped_)
            ::kill(pid_, SIGKILL);
        Wait(0);
    }

    bool ready = false;
    QString status;                 // the recording status line at start
    std::vector<Recorded> restored; // the graph at start
    std::vector<Recorded> ticks;    // each tick's point

private:
    void Take(const QString& line) {
        const QStringList parts = line.split(QLatin1Char(' '));
        if (parts[0] == QLatin1String("ready")) {
            ready = true;
            status = line.mid(6);
        } else if (parts.size() == 4) {
            Recorded r{parts[1].toLongLong(), parts[2], parts[3] == QLatin1String("1")};
            (parts[0] == QLatin1String("point") ? restored : ticks).push_back(r);
        }
    }

    pid_t pid_ = -1;
    int out_ = -1;
    bool open_ = true;
    QByteArray pending_;
    QElapsedTimer clock_;
    bool reaped_ = false;
    int status_ = -1;
};

class RecordingCrashTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The children's own runtime folder, so that they start quietly.
        QDir(dir.path())
            .mkdir(QStringLiteral("runtime"),
                   QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ::setenv("XDG_RUNTIME_DIR",
                 QFile::encodeName(dir.filePath(QStringLiteral("runtime"))).constData(), 1);
    }

    QTemporaryDir dir;
    QString folder = dir.filePath(QStringLiteral("recordings"));
    QString settings = dir.filePath(QStringLiteral("Tickplot.reg"));
    qint64 epochMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    // Every reading recorded so far, in order.
    std::vector<Recorded> recorded;

    // What a start showed against what was recorded before it: all of it,
    // plus at most the reading whose tick the kill interrupted after the
    // journal had it. Then its ticks join the record.
    void Absorb(const Child& child) {
        if (!child.ready)
            return; // killed while starting: no tick has run
        const std::size_t common = std::min(recorded.size(), child.restored.size());
        const auto differ =
            std::mismatch(recorded.begin(), recorded.begin() + common, child.restored.begin());
        ASSERT_TRUE(differ.first == recorded.begin() + common)
            << "reading " << differ.first - recorded.begin() << " of " << recorded.size()
            << " restored as " << differ.second->second << " " << differ.second->text.toStdString()
            << ", recorded " << differ.first->second << " " << differ.first->text.toStdString();
        ASSERT_GE(child.restored.size(), recorded.size())
            << "the last ones lost; status \"" << child.status.toStdString() << "\"";
        ASSERT_LE(child.restored.size(), recorded.size() + 1);
        EXPECT_EQ(child.status,
                  child.restored.empty()
                      ? QString()
                      : recording::RestoredReadingsText(static_cast<int>(child.restored.size())));
        recorded = child.restored;
        recorded.insert(recorded.end(), child.ticks.begin(), child.ticks.end());
        // The data file keeps whole seconds: the child's pace gives each
        // reading a second of its own, or a restore could not tell them apart.
        for (std::size_t i = 1; i < recorded.size(); ++i)
            ASSERT_LT(recorded[i - 1].second, recorded[i].second) << i;
    }
};

TEST_F(RecordingCrashTest, EveryCompletedTickSurvivesSigkill) {
    unsigned seed = 20120314;
    if (const char* chosen = std::getenv("KORVINET_CRASH_SEED"))
        seed = static_cast<unsigned>(std::strtoul(chosen, nullptr, 10));
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    constexpr int kKills = 60;
    int killedWhileStarting = 0;
    int restoredRuns = 0;

    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        // One in five dies while it starts (restoring, opening the journal,
        // connecting); the others a little after their first ticks.
        const bool whileStarting = random() % 5 == 0;
        const int startMs = std::uniform_int_distribution<int>(0, 250)(random);
        const int runMs = std::uniform_int_distribution<int>(0, 100)(random);
        Child child(folder, settings, epochMs, -1);
        ASSERT_TRUE(child.Started());
        qint64 readyAt = -1;
        for (;;) {
            if (child.ready && readyAt < 0)
                readyAt = child.Elapsed();
            const qint64 due = whileStarting ? startMs : readyAt >= 0 ? readyAt + runMs : 30000;
            if (child.Elapsed() >= due || !child.Read(due - child.Elapsed()))
                break;
        }
        child.Kill();
        killedWhileStarting += child.ready ? 0 : 1;
        restoredRuns += child.restored.empty() ? 0 : 1;
        Absorb(child);
        if (HasFatalFailure())
            return;
    }

    // A clean exit after some ticks, then a start with nothing to restore.
    Child last(folder, settings, epochMs, 3);
    EXPECT_EQ(last.Wait(30000), 0);
    ASSERT_TRUE(last.ready);
    EXPECT_EQ(last.ticks.size(), 3u);
    Absorb(last);
    Child fresh(folder, settings, epochMs, 0);
    EXPECT_EQ(fresh.Wait(30000), 0);
    ASSERT_TRUE(fresh.ready);
    EXPECT_TRUE(fresh.restored.empty());
    EXPECT_TRUE(fresh.status.isEmpty());

    // Not a vacuous run: many readings, alarms among them, restored often.
    const auto reds =
        std::count_if(recorded.begin(), recorded.end(), [](auto& r) { return r.red; });
    EXPECT_GE(recorded.size(), 100u);
    EXPECT_GT(reds, 0);
    EXPECT_LT(static_cast<std::size_t>(reds), recorded.size());
    EXPECT_GE(restoredRuns, kKills / 2);
    std::cout << "kills " << kKills << " (" << killedWhileStarting << " while starting), "
              << recorded.size() << " readings, last restored " << last.restored.size()
              << std::endl;

    // The journal files, read by the data file reader, hold exactly the record.
    const platform::Regional regional{QLocale::c()};
    std::vector<device::Reading> inFiles;
    for (const recording::JournalFile& file : recording::ListJournalFiles(folder)) {
        files::DataFileReader reader(regional);
        files::DataFileContents contents;
        ASSERT_TRUE(reader.Open(QDir(folder).filePath(file.Name())));
        ASSERT_TRUE(reader.Read(
            {QStringLiteral("CPM (uncomp)"), QStringLiteral("CPM"), QStringLiteral("mR/hr")},
            &contents));
        EXPECT_EQ(contents.corruptLines, 0);
        inFiles.insert(inFiles.end(), contents.points.begin(), contents.points.end());
    }
    ASSERT_EQ(inFiles.size(), recorded.size());
    for (std::size_t i = 0; i < inFiles.size(); ++i) {
        EXPECT_EQ(std::llround(inFiles[i].time * 86400.0), recorded[i].second) << i;
        EXPECT_EQ(inFiles[i].value, recorded[i].text.toDouble()) << i;
    }
}

} // namespace
} // namespace korvinet::app
