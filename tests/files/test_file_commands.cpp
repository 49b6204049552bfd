#include "data_file_fixture.h"

#include "files/chart_export.h"
#include "files/file_commands.h"

#include <QPainter>

namespace korvinet::files {
namespace {

using testing::At;

const QByteArray kExample = "# Device: KVT-PULSE1\r\n# Units: mR/hr\r\n"
                            "# Averaging Time: 45 seconds sec\r\n# Title: T\r\n# Notes: N\r\n"
                            "# Date Saved: 3/14/2012 10:15:02 AM\r\nTime, cpm\r\n"
                            "3/14/2012 9:00:03 AM, 12.5\r\n3/14/2012 9:00:06 AM, 13.0\r\n"
                            "3/14/2012 9:00:09 AM, OVERRANGE\r\n";

// A window that records, in order, every step the command takes on it. The
// counter is real and connected, so closing it can be seen.
class OpenDataFileTest : public testing::DataFileTest {
protected:
    bool hasPoints = true;
    bool answer = true;
    std::optional<ChosenFile> choice;
    QStringList log;

    OpenDataFileHooks Window() {
        OpenDataFileHooks w;
        w.graphHasPoints = [this] { return hasPoints; };
        w.confirm = [this](const QString& q) {
            log << "confirm: " + q;
            return answer;
        };
        w.chooseFile = [this] {
            log << QStringLiteral("dialog");
            return choice;
        };
        w.message = [this](const QString& text) { log << "message: " + text; };
        w.closeDevice = [this] {
            counter.Close();
            log << QStringLiteral("close device");
        };
        w.clearGraph = [this] { log << QStringLiteral("clear graph"); };
        w.setDataFilePath = [this](const QString& path) {
            log << "path: " + QFileInfo(path).fileName();
        };
        w.setHeaderLines = [this](const QStringList& lines) {
            log << QStringLiteral("headers: %1").arg(lines.size());
        };
        w.setAxisTitles = [this](const QString& b, const QString& l) {
            log << "titles: " + b + " | " + l;
        };
        w.selectUnit = [this](int unit) { log << QStringLiteral("unit: %1").arg(unit); };
        w.showPoints = [this](const std::vector<device::Reading>& points) {
            log << QStringLiteral("points: %1").arg(points.size());
        };
        w.unitNames = testing::UnitNames();
        return w;
    }

    void Run() { OpenDataFileCommand(Window(), regional); }
};

TEST_F(OpenDataFileTest, ReadsAFileStepByStep) {
    choice = ChosenFile{WriteRaw("example.csv", kExample), 1};
    Run();
    EXPECT_EQ(log,
              QStringList({"confirm: Opening a data file will clear all data in the current "
                           "graph.  Continue?",
                           "dialog", "close device", "clear graph", "path: example.csv",
                           "headers: 0", "headers: 6", "titles: Time | cpm", "unit: 1", "points: 2",
                           "message: Note: 1 lines in the data file were corrupt and "
                           "ignored."}));
    EXPECT_FALSE(counter.IsOpen());
}

TEST_F(OpenDataFileTest, EmptyGraphIsNotAskedAboutAndCleanFileGivesNoNote) {
    hasPoints = false;
    choice = ChosenFile{WriteRaw("clean.csv", "Time, Counts\n3/14/2012, 1\n"), 1};
    Run();
    EXPECT_EQ(log, QStringList({"dialog", "close device", "clear graph", "path: clean.csv",
                                "headers: 0", "headers: 0", "titles: Time | Counts", "points: 1"}));
}

TEST_F(OpenDataFileTest, NoCancelOrUnopenableFileLeaveTheMeasurementRunning) {
    struct Case {
        const char* name;
        bool answer;
        std::optional<ChosenFile> choice;
        QStringList log;
    };
    const QString question =
        "confirm: Opening a data file will clear all data in the current graph.  Continue?";
    const Case cases[] = {
        {"answered No", false, ChosenFile{Path("x.csv"), 1}, {question}},
        {"dialog cancelled", true, std::nullopt, {question, "dialog"}},
        {"cannot be opened",
         true,
         ChosenFile{Path("missing.csv"), 1},
         {question, "dialog", "message: Error: The file could not be opened."}},
    };
    for (const Case& c : cases) {
        log.clear();
        answer = c.answer;
        choice = c.choice;
        Run();
        EXPECT_EQ(log, c.log) << c.name;
        EXPECT_TRUE(counter.IsOpen()) << c.name;
    }
}

TEST_F(OpenDataFileTest, BlankHeaderLineFailsAfterTheGraphWasCleared) {
    choice =
        ChosenFile{WriteRaw("broken.csv", "# a\r\n# b\r\n\r\nTime, mR/hr\r\n3/14/2012, 1\r\n"), 1};
    Run();
    EXPECT_EQ(log.mid(1), QStringList({"dialog", "close device", "clear graph", "path: broken.csv",
                                       "headers: 0", "headers: 2",
                                       "path: ", "message: Error: The file could not be read"}));
    EXPECT_FALSE(counter.IsOpen());
}

class SaveCommandsTest : public testing::DataFileTest {
protected:
    QStringList messages;
    QList<std::pair<QString, int>> saves;
    bool saveResult = true;
    ChartSaver saver{[] { return ChartBitmap(QSize(80, 47), [](QPainter&) {}); },
                     [this](const QString& name) {
                         saves.append({name, kChartDataFile});
                         return saveResult;
                     },
                     [this](const QString& text) { messages << text; }};
    ShowMessage Message() {
        return [this](const QString& text) { messages << text; };
    }
};

TEST_F(SaveCommandsTest, SaveAsCsvReportsOnlyFailures) {
    SaveAsCsvCommand([] { return std::optional<ChosenFile>(); }, saver, Message());
    EXPECT_TRUE(saves.isEmpty());
    SaveAsCsvCommand(
        [this] {
            return std::optional<ChosenFile>({Path("a.csv"), 1});
        },
        saver, Message());
    EXPECT_TRUE(messages.isEmpty());
    saveResult = false;
    SaveAsCsvCommand(
        [this] {
            return std::optional<ChosenFile>({Path("b.csv"), 1});
        },
        saver, Message());
    EXPECT_EQ(saves.size(), 2);
    EXPECT_EQ(messages, QStringList{"Error: The file could not be saved"});
}

TEST_F(SaveCommandsTest, SaveAsImageFollowsTheFilter) {
    SaveAsImageCommand([] { return std::optional<ChosenFile>(); }, saver, Message());
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    SaveAsImageCommand(
        [this] {
            return std::optional<ChosenFile>({Path("a.jpg"), 2});
        },
        saver, Message());
    EXPECT_TRUE(ReadRaw(Path("a.jpg")).startsWith("BM"));
    SaveAsImageCommand(
        [this] {
            return std::optional<ChosenFile>({Path("b.bmp"), 1});
        },
        saver, Message());
    EXPECT_TRUE(ReadRaw(Path("b.bmp")).startsWith("\xFF\xD8"));
    EXPECT_TRUE(messages.isEmpty());

    SaveAsImageCommand(
        [] {
            return std::optional<ChosenFile>({"/dev/full", 1});
        },
        saver, Message());
    EXPECT_EQ(messages, QStringList{"Error: The file could not be saved."});
}

TEST_F(SaveCommandsTest, CopyToClipboardSetsTheImageThenSaysSo) {
    QStringList order;
    CopyToClipboardCommand(
        QImage(QSize(8, 4), QImage::Format_RGB32),
        [&](const QImage& image) { order << QStringLiteral("clipboard %1").arg(image.width()); },
        [&](const QString& text) { order << text; });
    EXPECT_EQ(order, QStringList({"clipboard 8", "Graph has been copied to clipboard"}));
}

} // namespace
} // namespace korvinet::files

namespace korvinet::files {
namespace {

TEST_F(OpenDataFileTest, CancelledReadingLeavesTheWindowAsItWas) {
    // Long enough for the reading to report progress.
    QByteArray file = "Time, cpm\r\n";
    DataLineWriter lines(1, regional);
    for (int i = 0; i < 70000; ++i)
        lines.Append(At(2012, 3, 14) + i / 86400.0, 1, file);
    choice = ChosenFile{WriteRaw("long.csv", file), 1};
    OpenDataFileHooks w = Window();
    std::size_t read = 0;
    w.readPoint = [&read](double, double) { ++read; };
    w.showReadPoints = [this] { log << QStringLiteral("read points shown"); };
    w.progress = [](double done) { return done < 0.5; };
    OpenDataFileCommand(w, regional);
    EXPECT_EQ(log, QStringList({"confirm: Opening a data file will clear all data in the current "
                                "graph.  Continue?",
                                "dialog"}));
    EXPECT_TRUE(counter.IsOpen());

    log.clear();
    w.progress = [](double) { return true; };
    OpenDataFileCommand(w, regional);
    EXPECT_EQ(log.mid(2, 2), QStringList({"close device", "clear graph"}));
    EXPECT_EQ(log.last(), "read points shown");
    EXPECT_GE(read, 70000u);
}

} // namespace
} // namespace korvinet::files
