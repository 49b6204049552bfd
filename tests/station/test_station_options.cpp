#include "measure/averaging_time.h"
#include "station/station.h"
#include "station/station_options.h"

#include <gtest/gtest.h>

namespace korvinet::station {
namespace {

using Action = ParsedCommandLine::Action;

TEST(StationOptions, CommandLinesParseOrFailWithOneLine) {
    struct Case {
        QStringList args;
        Action action;
        QString errorPart; // for Action::Error
    };
    const std::vector<Case> cases = {
        {{}, Action::Run, {}},
        {{"--units", "uSv/hr", "--averaging=180", "--count", "2"}, Action::Run, {}},
        {{"--device", "KV1", "--help"}, Action::Help, {}},
        {{"--version"}, Action::Version, {}},
        {{"--bogus"}, Action::Error, "unknown option --bogus"},
        {{"stray"}, Action::Error, "unexpected argument"},
        {{"--device"}, Action::Error, "--device needs a value"},
        {{"--units", "furlongs"}, Action::Error, "unknown unit \"furlongs\""},
        {{"--averaging", "20"}, Action::Error, "--averaging must be"},
        {{"--averaging", "45s"}, Action::Error, "--averaging must be"},
        {{"--alarm", "0"}, Action::Error, "--alarm needs a level"},
        {{"--alarm", "nan"}, Action::Error, "--alarm needs a level"},
        {{"--count", "0"}, Action::Error, "--count needs"},
        {{"--count", "3.5"}, Action::Error, "--count needs"},
        {{"--mqtt", "http://broker"}, Action::Error, "--mqtt:"},
        {{"--mqtt", "mqtt://"}, Action::Error, "--mqtt:"},
        {{"--topic", "a/#"}, Action::Error, "--topic:"},
        {{"--topic", "a//b"}, Action::Error, "--topic:"},
        {{"--mqtt", "mqtt://b", "--ha-prefix", "ha/+"}, Action::Error, "--ha-prefix:"},
        {{"--ha-prefix", "ha"}, Action::Error, "--ha-prefix needs --mqtt"},
        {{"--mqtt-password-file", "/p"}, Action::Error, "needs --mqtt"},
        {{"--mqtt", "mqtt://broker", "--mqtt-password-file", "/p"}, Action::Error, "needs a user"},
        {{"--replay-rate", "50"}, Action::Error, "--replay-rate needs --mqtt"},
        {{"--mqtt", "mqtts://b", "--replay-rate", "0"}, Action::Error, "from 1 to 100000"},
        {{"--mqtt", "mqtts://b", "--outbox-days", "0"}, Action::Error, "from 1 to 3650"},
        {{"--mqtt", "mqtt://b", "--mqtt-cafile", "/ca"}, Action::Error, "needs an mqtts:// URL"},
        {{"--mqtt", "mqtts://b", "--mqtt-cert", "/c"}, Action::Error, "go together"},
        {{"--mqtt", "mqtts://b", "--mqtt-key", ""}, Action::Error, "--mqtt-key needs a file"},
        {{"--device", "/dev/pts/3", "--kind", "text-line", "--baud", "19200", "--tube", "sbm20"},
         Action::Run,
         {}},
        {{"--device", "/dev/ttyUSB0", "--kind", "geiger"}, Action::Error, "--kind must be"},
        {{"--kind", "pulse-byte"}, Action::Error, "--kind needs --device"},
        {{"--device", "/dev/ttyS0", "--baud", "9600"}, Action::Error, "--baud needs --kind"},
        {{"--device", "/d", "--kind", "pulse-byte", "--baud", "12"}, Action::Error, "--baud needs"},
        {{"--tube", "SBM-2O"}, Action::Error, "unknown tube \"SBM-2O\"; use one of SBM-20"},
        {{"--sensitivity", "0"}, Action::Error, "--sensitivity needs"},
        {{"--sensitivity", "inf"}, Action::Error, "--sensitivity needs"},
        {{"--tube", "J305", "--sensitivity", "120"}, Action::Error, "exclude each other"},
        {{"--dead-time", "0.0001"}, Action::Error, "--dead-time needs --sensitivity"},
        {{"--sensitivity", "120", "--dead-time", "1"}, Action::Error, "--dead-time needs seconds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const ParsedCommandLine parsed = ParseCommandLine(c.args);
        EXPECT_EQ(parsed.action, c.action) << parsed.error.toStdString();
        if (c.action == Action::Error) {
            EXPECT_TRUE(parsed.error.contains(c.errorPart)) << parsed.error.toStdString();
            EXPECT_FALSE(parsed.error.contains('\n'));
        }
    }
}

TEST(StationOptions, ValuesLandInTheirFields) {
    const ParsedCommandLine parsed = ParseCommandLine(
        QStringLiteral("--device KV7 --units CPM --averaging 600 --alarm 2.5 --journal /var/j "
                       "--mqtt mqtts://station@broker.lan --topic site/kv "
                       "--mqtt-password-file=/etc/pass --count 4 --mqtt-cafile /ca.pem "
                       "--mqtt-cert /c.pem --mqtt-key /k.pem --replay-rate 50 --outbox-days 7 "
                       "--ha-prefix site/ha")
            .split(' '));
    ASSERT_EQ(parsed.action, Action::Run) << parsed.error.toStdString();
    const StationOptions& o = parsed.options;
    EXPECT_EQ(o.device, "KV7");
    EXPECT_EQ(o.unitCode, 1); // not "CPM (uncomp)"
    EXPECT_EQ(measure::CountTimeEntries().value(*o.averagingIndex), "10 minutes");
    EXPECT_EQ(o.alarmLevel, 2.5);
    EXPECT_EQ(o.journal, "/var/j");
    ASSERT_TRUE(o.mqtt);
    EXPECT_TRUE(o.mqtt->tls);
    EXPECT_EQ(o.mqtt->user, "station");
    EXPECT_EQ(o.mqtt->port, mqtt::MqttUrl::kDefaultTlsPort);
    EXPECT_EQ(o.topicPrefix, "site/kv");
    EXPECT_EQ(o.passwordFile, "/etc/pass");
    EXPECT_EQ(o.count, 4);
    EXPECT_EQ(QStringList({o.caFile, o.certFile, o.keyFile}),
              QStringList({"/ca.pem", "/c.pem", "/k.pem"}));
    EXPECT_EQ(o.replayRate, 50);
    EXPECT_EQ(o.outboxDays, 7);
    EXPECT_EQ(o.discoveryPrefix, "site/ha");

    const StationOptions serial = ParseCommandLine(QStringLiteral("--device /dev/pts/3 --kind "
                                                                  "pulse-byte --sensitivity 153.8 "
                                                                  "--dead-time 0.0001")
                                                       .split(' '))
                                      .options;
    EXPECT_EQ(serial.kind, "pulse-byte");
    EXPECT_EQ(serial.sensitivity, 153.8);
    EXPECT_EQ(serial.deadTime, 0.0001);
    EXPECT_EQ(ParseCommandLine({"--tube", "lnd 7317"}).options.tube, "LND-7317");

    // The micro sign as the window lists the unit, or typed as "u".
    EXPECT_EQ(ParseCommandLine({"--units", QStringLiteral("\u00B5R/hr")}).options.unitCode, 3);
    EXPECT_EQ(ParseCommandLine({"--units", "usv/HR"}).options.unitCode, 4);
    EXPECT_EQ(ParseCommandLine({"--units", "CPM (uncomp)"}).options.unitCode, 0);
    EXPECT_EQ(ParseCommandLine({}).options.topicPrefix, "korvinet");
    EXPECT_EQ(ParseCommandLine({}).options.discoveryPrefix, "homeassistant");
}

// The command line's kind and calibration go with its --device (or, without
// one, with any counter), before what the window program stored.
TEST(StationOptions, CommandLineChoicesComeBeforeStoredOnes) {
    const device::CounterChoice stored{"/dev/ttyUSB0", "text-line", 0, "J305", 0, 0};
    const device::CounterChoice other{"B2", "pulse-byte", 0, {}, 0, 0};
    const struct {
        const char* args;
        device::CounterChoices expected;
    } cases[] = {
        {"--count 1", {stored, other}},
        {"--device /dev/ttyS3", {stored, other, {"/dev/ttyS3", {}, 0, {}, 0, 0}}},
        {"--device /dev/ttyUSB0 --tube SBM-20",
         {{"/dev/ttyUSB0", "text-line", 0, "SBM-20", 0, 0}, other}},
        {"--device /dev/pts/3 --kind pulse-byte --baud 115200",
         {{"/dev/pts/3", "pulse-byte", 115200, {}, 0, 0}, stored, other}},
        {"--sensitivity 150 --dead-time 0.0001", {{"*", {}, 0, {}, 150, 0.0001}, stored, other}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        StationConfig config;
        config.stored.CounterChoices = device::FormatCounterChoices({stored, other});
        config.options = ParseCommandLine(QString::fromLatin1(c.args).split(' ')).options;
        EXPECT_EQ(ChoicesInForce(config), c.expected);
    }
}

} // namespace
} // namespace korvinet::station
