// The serial kinds of counter: the text-line protocol read line by line, and
// both kinds measured through a pseudo-terminal against the FTDI counter.
#include "device/counter.h"
#include "device/counter_choice.h"
#include "device/serial_kinds.h"
#include "device/text_line_counter.h"
#include "device/tube_profiles.h"
#include "support/counter_fixture.h"
#include "support/serial_rig.h"
#include "support/wait_events.h"

#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace korvinet::device {
namespace {

using testing::SerialRig;
using testing::WaitUntil;

std::string S(const QString& s) {
    return s.toStdString();
}

TEST(TextLineDecoder, OnlyWholeLinesOfTheKitReadAndTheirCpsCounts) {
    const struct {
        const char* line;
        int cps; // -1: does not read
    } cases[] = {
        {"CPS, 12, CPM, 745, uSv/hr, 4.24, SLOW", 12},
        {"CPS, 0, CPM, 0, uSv/hr, 0.00, SLOW", 0},
        {"CPS, 300, CPM, 18000, uSv/hr, 102.60, INST", 300},
        {"CPS, 65535, CPM, 3932100, uSv/hr, 22412.97, INST", 65535},
        {"CPS,7,CPM,1200,uSv/hr,6.84,FAST", 7},
        {"CPS, 65536, CPM, 0, uSv/hr, 0.00, INST", -1}, // beyond the kit's 16-bit counter
        {"CPS, -1, CPM, 0, uSv/hr, 0.00, SLOW", -1},
        {"CPS, 1x, CPM, 0, uSv/hr, 0.00, SLOW", -1},
        {"CPS, 12, CPM, 745, uSv/hr, 4.2, SLOW", -1},    // the dose has two decimals
        {"CPS, 12, CPM, 745, uSv/hr, 4.24, SLOWER", -1}, // no such mode
        {"CPS, 12, CPM, 745, uSv/hr, 4.24", -1},         // cut short
        {"CPS, 12, CPM, 745, uSv/hr, 4.24, SLOW, 9", -1},
        {"CPM, 12, CPS, 745, uSv/hr, 4.24, SLOW", -1},
        {"Geiger Counter 1.00", -1},
        {"", -1},
    };
    for (const auto& c : cases) {
        const auto cps = TextLineDecoder::ReadLine(QByteArrayView(c.line));
        EXPECT_EQ(cps ? static_cast<int>(*cps) : -1, c.cps) << c.line;
    }
}

TEST(TextLineDecoder, LinesAreTakenWhateverTheChunksAndNoiseIsSkippedAndCounted) {
    TextLineDecoder decoder;
    // Opened in the middle of a line: its tail is dropped, not counted.
    const QByteArray stream = "uSv/hr, 0.06, SLOW\r\n"
                              "CPS, 2, CPM, 10, uSv/hr, 0.05, SLOW\r\n"
                              "\x01\xfe noise\r\n"
                              "CPS, 3, CP\r\n" // a line cut short
                              "CPS, 4, CPM, 14, uSv/hr, 0.07, SLOW\r\n" +
                              QByteArray(TextLineDecoder::kMaxLine + 10, 'x') + "\r\n" +
                              "CPS, 5, CPM, 19, uSv/hr, 0.10, SLOW\r\n";
    for (int at = 0; at < stream.size(); at += 7) // in the chunks a slow line delivers
        decoder.Feed(stream.constData() + at,
                     static_cast<int>(std::min<qsizetype>(7, stream.size() - at)));
    const TextLineDecoder::Taken taken = decoder.Take();
    EXPECT_EQ(taken.counts, 11u);
    EXPECT_EQ(taken.lines, 3u);
    EXPECT_EQ(decoder.LinesSkipped(), 3u);
    EXPECT_EQ(decoder.Take().lines, 0u); // taken once

    // A first line that reads is taken; a restart forgets a partial line.
    TextLineDecoder fresh;
    fresh.Feed("CPS, 6, CPM, 6, uSv/hr, 0.03, SLOW\r\nCPS, 9", 43);
    fresh.Restart();
    fresh.Feed(", CPM, 1, uSv/hr, 0.00, SLOW\r\n", 30);
    EXPECT_EQ(fresh.Take().counts, 0u);
    EXPECT_EQ(fresh.LinesSkipped(), 0u);
}

TEST(TextLineSimulation, EveryLineReadsAndItsCpmFollowsTheKit) {
    TextLineSimulation kit;
    const struct {
        std::uint32_t pulses;
        const char* line;
    } seconds[] = {
        {10, "CPS, 10, CPM, 10, uSv/hr, 0.05, SLOW\r\n"},
        {20, "CPS, 20, CPM, 30, uSv/hr, 0.17, SLOW"},
        {250, "CPS, 250, CPM, 3360, uSv/hr, 19.15, FAST"}, // 5 s of 280 counts times 12
        {300, "CPS, 300, CPM, 18000, uSv/hr, 102.60, INST"},
        {70000, "CPS, 65535, CPM, 3932100, uSv/hr, 22412.97, INST"},
    };
    for (const auto& second : seconds) {
        const QByteArray line = kit.Counted(second.pulses);
        EXPECT_TRUE(line.startsWith(second.line)) << line.constData();
        EXPECT_TRUE(line.endsWith("\r\n"));
        EXPECT_EQ(TextLineDecoder::ReadLine(QByteArrayView(line).chopped(2)),
                  std::min<std::uint32_t>(second.pulses, 65535));
    }
}

TEST(CounterChoices, RoundTripThroughTheStoreAndGiveTheCalibrationChosen) {
    const CounterChoices choices = {
        {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("text-line"), 0, QStringLiteral("sbm20"), 0,
         0},
        {QStringLiteral("A9X\"1"), QStringLiteral("pulse-byte"), 115200, {}, 153.8, 0.0001},
        {QStringLiteral("*"), {}, 0, {}, 0, 0},
    };
    EXPECT_EQ(ParseCounterChoices(FormatCounterChoices(choices)), choices);
    EXPECT_TRUE(ParseCounterChoices(QStringLiteral("not json")).empty());

    const auto tube = choices[0].Calibration();
    ASSERT_TRUE(tube);
    EXPECT_DOUBLE_EQ(tube->sensitivity, 1080.0); // CPM per mR/hr = 10 x CPM per µSv/hr
    EXPECT_DOUBLE_EQ(tube->deadTime, 190e-6);
    EXPECT_EQ(S(tube->source), "tube SBM-20");
    EXPECT_DOUBLE_EQ(choices[1].Calibration()->sensitivity, 1538.0);
    EXPECT_FALSE(choices[2].Calibration());
    EXPECT_EQ(FindChoice(choices, QStringLiteral("other")), &choices[2]);
    EXPECT_EQ(FindChoice(choices, QStringLiteral("x"), QStringLiteral("/dev/ttyUSB0")),
              &choices[0]);

    for (const char* typed : {"LND 7317", "lnd-7317", "Lnd7317"})
        EXPECT_EQ(FindTube(QString::fromLatin1(typed)), FindTube(u"LND-7317")) << typed;
    EXPECT_EQ(FindTube(u"LND-73"), nullptr);
    EXPECT_EQ(FindTube(u""), nullptr);
}

// ------------------------------------------------------- through a pty

struct KindCase {
    QStringView kind;
    const char* name;
};
const KindCase kKinds[] = {{kTextLineKind, "text-line"},
                           {kPulseByteKind, "pulse-byte"},
                           {kRadProKind, "rad-pro"},
                           {u"gmc-300", "gmc-300"},
                           {u"gmc-500", "gmc-500"}};

// A serial counter read by TCounter through a pseudo-terminal, on the
// hand-moved clock of the FTDI fixture.
class SerialCounterTest : public testing::CounterTest {
protected:
    // Opens the rig's counter, calibrated as GoodConfig() calibrates ours:
    // 600 CPM per mR/hr, 90 µs.
    void Connect(SerialRig& rig, TCounter& serial) {
        ASSERT_TRUE(rig.plugged);
        rig.Calibrate(60.0, 90e-6);
        ASSERT_EQ(serial.ListDevices(), 1);
        ASSERT_TRUE(serial.OpenListed(0)) << S(serial.LastError());
        // A GMC counts once its simulation has heard the heartbeat asked for.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    // What the counter counted over 3 s, one count per second, waited for
    // until the link has read it.
    void Send(SerialRig& rig, const TCounter& serial, QStringView kind,
              const std::array<std::uint32_t, 3>& seconds) {
        if (kind == kRadProKind) {
            rig.counter.Count(seconds[0] + seconds[1] + seconds[2]); // asked for, not sent
        } else if (kind == kTextLineKind || kind.startsWith(u"gmc")) {
            const std::uint64_t lines = serial.LinkStatus().lines + 3;
            for (const std::uint32_t n : seconds)
                rig.counter.Count(n);
            ASSERT_TRUE(WaitUntil([&] { return serial.LinkStatus().lines == lines; }, 5000));
        } else {
            const std::uint32_t n = seconds[0] + seconds[1] + seconds[2];
            const std::uint64_t bytes = serial.LinkStatus().bytes + n;
            rig.counter.Count(n);
            ASSERT_TRUE(WaitUntil([&] { return serial.LinkStatus().bytes == bytes; }, 5000));
        }
    }
};

TEST_F(SerialCounterTest, TheSamePulsesGiveTheSameReadingsAsTheFtdiCounter) {
    const std::array<std::uint32_t, 3> seconds[] = {
        {3, 0, 4}, {0, 0, 0}, {12, 9, 20}, {300, 280, 310}, {1, 0, 0}};
    AddCounter();
    testing::CounterTest::Connect();
    counter.SetAveragingWindow(3);
    for (const KindCase& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        SerialRig rig(kind.kind, clock);
        SimulatedDriver none(clock, 1);
        TCounter serial(none, clock, &rig.finder);
        Connect(rig, serial);
        serial.SetAveragingWindow(3);
        ASSERT_TRUE(counter.ResetCounter());
        const char* names[] = {"Text-line counter (", "Pulse-per-byte counter (",
                               "Rad Pro FS2011 (", "GQ GMC-300 (", "GQ GMC-500+ ("};
        EXPECT_EQ(S(serial.DeviceNames().front()),
                  names[&kind - kKinds] + S(rig.counter.Entry().path) + ")");
        // Counters with a calibration of their own convert with it.
        const bool own = !serial.CalibrationChosen();
        for (const auto& s : seconds) {
            ASSERT_NO_FATAL_FAILURE(Send(rig, serial, kind.kind, s));
            driver.InjectPulses(0, s[0] + s[1] + s[2]);
            clock.Advance(3000);
            EXPECT_EQ(serial.ReadCounts(), counter.ReadCounts());
            EXPECT_EQ(serial.CountHistory()[0], counter.CountHistory()[0]);
            EXPECT_EQ(serial.ElapsedHistory()[0], counter.ElapsedHistory()[0]);
            EXPECT_DOUBLE_EQ(serial.CountRate(), counter.CountRate());
            if (!own) {
                EXPECT_DOUBLE_EQ(serial.Reading(), counter.Reading());
                EXPECT_EQ(S(serial.ReadingText()), S(counter.ReadingText()));
            }
        }
        EXPECT_EQ(serial.AccumulatedTotal(), counter.AccumulatedTotal() - 0);
        EXPECT_EQ(serial.LinkStatus().skipped, 0u);
        counter.RestartAccumulation();
    }
}

TEST_F(SerialCounterTest, FaultsOfTheLineFailTheSampleOrAreSkippedNeverRead) {
    enum class Fault { Noise, Silence, UnpluggedInALine };
    const struct {
        QStringView kind;
        Fault fault;
        const char* error; // the start of the error; null: the samples go on
    } cases[] = {
        {kTextLineKind, Fault::Noise, nullptr},
        {kTextLineKind, Fault::Silence, "No line from the counter on "},
        {kTextLineKind, Fault::UnpluggedInALine, "The counter on "},
        {kPulseByteKind, Fault::UnpluggedInALine, "The counter on "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind.toString().toStdString() + " " + std::to_string(int(c.fault)));
        SerialRig rig(c.kind, clock);
        SimulatedDriver none(clock, 1);
        TCounter serial(none, clock, &rig.finder);
        Connect(rig, serial);
        serial.SetAveragingWindow(5);
        ASSERT_NO_FATAL_FAILURE(Send(rig, serial, c.kind, {5, 0, 0}));
        switch (c.fault) {
        case Fault::Noise: {
            static const char noise[] =
                "\x00\xff\x13garbage\r\nCPS, 4, CP\r\nCPS, 4, CPM, 9, uSv/hr, 0.05, SLOW\r\n";
            rig.counter.Send(QByteArrayView(noise, sizeof noise - 1));
            ASSERT_TRUE(WaitUntil([&] { return serial.LinkStatus().lines == 4; }, 5000));
            break;
        }
        case Fault::Silence:
            break;
        case Fault::UnpluggedInALine:
            rig.counter.Send(c.kind == kTextLineKind ? QByteArrayView("CPS, 4, CPM, 9, uS")
                                                     : QByteArrayView("\x55\x55"));
            rig.counter.Unplug();
            break;
        }
        // Samples go on until the fault is known; none reads what did not
        // read, and a silent line is given the kit's allowance of silence.
        std::uint32_t taken = 0;
        bool failed = false;
        for (int i = 0; i < (c.fault == Fault::Noise ? 1 : 20) && !failed; ++i) {
            clock.Advance(3000);
            failed = !serial.ReadCounts();
            if (!failed)
                taken += serial.CountHistory()[0];
            if (c.fault == Fault::UnpluggedInALine && !failed)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_EQ(failed, c.error != nullptr);
        if (c.error) {
            EXPECT_TRUE(serial.LastError().startsWith(QLatin1String(c.error)))
                << S(serial.LastError());
            EXPECT_FALSE(serial.IsOpen());
        }
        if (c.fault == Fault::Noise) {
            EXPECT_EQ(taken, 9u);
            EXPECT_EQ(serial.LinkStatus().skipped, 2u);
        } else if (c.kind == kTextLineKind) {
            EXPECT_EQ(taken, 5u); // the line cut short is not read
        } else {
            EXPECT_TRUE(taken == 5 || taken == 7) << taken; // bytes are pulses until the end
        }
    }
}

TEST_F(SerialCounterTest, WithoutACalibrationReadingsAreInCpmAndNeverADose) {
    const struct {
        const char* tube; // chosen for the counter; null: none
        std::uint8_t unitSet;
        std::uint8_t unitRead;
        const char* text; // 54 counts in 3 s
    } cases[] = {
        {nullptr, 2, 1, "1080.0"}, // mR/hr needs a sensitivity: CPM instead
        {nullptr, 4, 1, "1080.0"}, {nullptr, 0, 0, "1080.0"}, // CPM as counted needs none
        {"SBM-20", 2, 2, "1.003"},                            // 1080 CPM, dead time 190 µs
        {"SBM-20", 3, 3, "1003"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.tube ? c.tube : "none") + " " + std::to_string(c.unitSet));
        SerialRig rig(kPulseByteKind, clock);
        ASSERT_TRUE(rig.plugged);
        CounterChoice choice;
        choice.counter = QString::fromLatin1(SerialRig::kSerial);
        choice.tube = QString::fromLatin1(c.tube);
        rig.finder.SetChoices({choice});
        SimulatedDriver none(clock, 1);
        TCounter serial(none, clock, &rig.finder);
        ASSERT_EQ(serial.ListDevices(), 1);
        ASSERT_TRUE(serial.OpenListed(0)) << S(serial.LastError());
        serial.SetUnitCode(c.unitSet);
        serial.SetAveragingWindow(1);
        EXPECT_EQ(serial.CpmOnly(), c.tube == nullptr);
        EXPECT_EQ(serial.CalibrationChosen(), c.tube != nullptr);
        EXPECT_EQ(serial.UnitCode(), c.unitRead);
        ASSERT_NO_FATAL_FAILURE(Send(rig, serial, kPulseByteKind, {18, 18, 18}));
        clock.Advance(3000);
        ASSERT_TRUE(serial.ReadCounts());
        EXPECT_EQ(S(serial.ReadingText()), c.text);
        ASSERT_TRUE(serial.Close());
        EXPECT_EQ(serial.UnitCode(), c.unitSet); // the unit set, for the next counter
    }
}

TEST(SerialFinder, ListsOnlyPortsGivenAKindAndNamesThemWithKindAndPort) {
    platform::ManualClock clock;
    SimulatedSerialPorts ports;
    PtyCounter& pty = ports.Add(std::make_unique<PtyCounter>(
        MakeSimulation(kPulseByteKind), PtyCounter::Identity{QStringLiteral("A1"), {}, {}}));
    ASSERT_TRUE(pty.Plug());
    const QString path = pty.Entry().path;
    SerialFinder finder(ports, clock);
    const struct {
        CounterChoices choices;
        const char* listed; // null: nothing listed
    } cases[] = {
        {{}, nullptr}, // a port nobody named is never taken
        {{{QStringLiteral("A1"), QStringLiteral("text-line"), 0, {}, 0, 0}}, "Text-line counter"},
        {{{path, QStringLiteral("pulse-byte"), 0, {}, 0, 0}}, "Pulse-per-byte counter"},
        {{{QStringLiteral("A2"), QStringLiteral("text-line"), 0, {}, 0, 0}}, nullptr},
        {{{QStringLiteral("A1"), QStringLiteral("geiger"), 0, {}, 0, 0}}, nullptr},
        {{{QStringLiteral("A1"), {}, 0, QStringLiteral("SBM-20"), 0, 0}}, nullptr},
    };
    for (const auto& c : cases) {
        finder.SetChoices(c.choices);
        const std::vector<ListedCounter> listed = finder.List();
        ASSERT_EQ(listed.size(), c.listed ? 1u : 0u) << (c.listed ? c.listed : "none");
        if (c.listed) {
            EXPECT_EQ(S(listed[0].name), S(QString::fromLatin1(c.listed) + " (" + path + ")"));
            EXPECT_EQ(S(listed[0].serial), "A1");
        }
    }
}

// A port named through a link (as /dev/serial/by-id/... names one) is
// listed, opened and found by that name.
TEST(SerialFinder, APortNamedThroughALinkIsFoundByIt) {
    platform::ManualClock clock;
    SimulatedSerialPorts ports;
    PtyCounter& pty = ports.Add(
        std::make_unique<PtyCounter>(MakeSimulation(kPulseByteKind), PtyCounter::Identity{}));
    ASSERT_TRUE(pty.Plug());
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("usb-KIT_1234-if00-port0"));
    ASSERT_TRUE(QFile::link(pty.Entry().path, link));
    // Not listed by the system: the port list of the finder stays empty.
    SimulatedSerialPorts none;
    SerialFinder finder(none, clock);
    finder.SetChoices({{link, QStringLiteral("pulse-byte"), 0, {}, 0, 0}});
    SimulatedDriver ftdi(clock, 1);
    TCounter counter(ftdi, clock, &finder);
    ASSERT_EQ(counter.ListDevices(), 1);
    EXPECT_EQ(counter.FindNamed(link), 0);
    EXPECT_EQ(counter.FindNamed(QStringLiteral("/dev/ttyUSB9")), -1);
    ASSERT_TRUE(counter.OpenListed(0)) << S(counter.LastError());
    pty.Count(3);
    ASSERT_TRUE(WaitUntil([&] { return counter.LinkStatus().bytes == 3; }, 5000));
}

} // namespace
} // namespace korvinet::device
