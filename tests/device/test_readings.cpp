#include "support/counter_fixture.h"

namespace korvinet::device {
namespace {

using testing::CounterTest;

class ReadingsTest : public CounterTest {
protected:
    void SetUp() override {
        AddCounter();
        Connect();
    }
    QString Text(double rate, int unit) {
        counter.SetUnitCode(static_cast<std::uint8_t>(unit));
        return counter.FormatValue(counter.ConvertRate(rate, static_cast<std::int8_t>(unit)));
    }
};

TEST_F(ReadingsTest, WorkedExampleInEveryUnit) {
    // 6000 cpm with 90 us dead time: 6000 / (1 - 100 * 0.00009) = 6054.49...
    const char* expected[] = {"6000.0", "6054.5", "10.091", "10091", "100.91"};
    for (int unit = 0; unit < 5; ++unit)
        EXPECT_EQ(Text(6000, unit), expected[unit]) << "unit " << unit;
    EXPECT_NEAR(counter.ConvertRate(6000, 1), 6000 / 0.991, 1e-9);
}

TEST_F(ReadingsTest, ZeroAndOverrangeInEveryUnit) {
    const char* zero[] = {"0.0", "0.0", "0.000", "0", "0.00"};
    for (int unit = 0; unit < 5; ++unit) {
        EXPECT_EQ(Text(0, unit), zero[unit]);
        EXPECT_EQ(counter.ConvertRate(-1.0, static_cast<std::int8_t>(unit)), -1.0);
        EXPECT_EQ(Text(-1.0, unit), "OVERRANGE");
    }
}

TEST_F(ReadingsTest, SameValueFormatsByCurrentUnit) {
    const std::pair<int, const char*> cases[] = {{1, "1.2"}, {2, "1.235"}, {3, "1"}, {4, "1.23"}};
    for (auto [unit, text] : cases) {
        counter.SetUnitCode(static_cast<std::uint8_t>(unit));
        EXPECT_EQ(counter.FormatValue(1.23456), text);
    }
}

TEST_F(ReadingsTest, ExactHalvesRoundToEvenInEveryFormat) {
    const struct {
        int unit;
        double value;
        const char* text;
    } cases[] = {{0, 0.25, "0.2"},
                 {1, 12.25, "12.2"},
                 {2, 0.0625, "0.062"},
                 {3, 2.5, "2"},
                 {4, 0.125, "0.12"}};
    for (const auto& c : cases) {
        counter.SetUnitCode(static_cast<std::uint8_t>(c.unit));
        EXPECT_EQ(counter.FormatValue(c.value), c.text) << "unit " << c.unit;
    }
}

TEST_F(ReadingsTest, UnknownUnitCodeReadsQuestionMark) {
    counter.SetUnitCode(255);
    EXPECT_EQ(counter.UnitName(), "?");
    EXPECT_EQ(counter.FormatValue(12.5), "?");
    EXPECT_EQ(counter.FormatValue(-1.0), "OVERRANGE");
    EXPECT_EQ(TCounter::UnitNameOf(-1), "?");
    EXPECT_EQ(TCounter::UnitNameOf(5), "?");
}

TEST(UnitNames, InCodeOrderWithMicroSign) {
    const char16_t* names[] = {u"CPM (uncomp)", u"CPM", u"mR/hr", u"\u00B5R/hr", u"\u00B5Sv/hr"};
    for (int code = 0; code < 5; ++code)
        EXPECT_EQ(TCounter::UnitNameOf(static_cast<std::int8_t>(code)),
                  QString::fromUtf16(names[code]));
}

TEST(ElapsedText, RoundsOnlyToMilliseconds) {
    const struct {
        double days;
        const char* text;
    } cases[] = {
        {0.0, "000d:00h:00m:00s"},
        {2.5, "002d:12h:00m:00s"},
        {1 + (14 * 3600 + 22 * 60 + 12) / 86400.0, "001d:14h:22m:12s"},
        {86399600 / 86400000.0, "000d:23h:59m:59s"}, // 59.6 s is not rounded up
        {1 - 0.4 / 86400000.0, "001d:00h:00m:00s"},  // within half a ms of a day
        {1234.0, "1234d:00h:00m:00s"},               // the days field widens
        {-(90 / 86400.0), "-000d:00h:01m:30s"},      // a clock set back
    };
    for (const auto& c : cases)
        EXPECT_EQ(TCounter::ElapsedText(c.days), c.text) << c.days;
}

TEST(DeadTime, ZeroDeadTimeLeavesRateUncompensated) {
    platform::ManualClock clock;
    SimulatedDriver driver(clock);
    SimulatedDeviceProfile profile;
    profile.userArea = SimulatedDriver::MakeConfig(1000, 1000, 0, 0, 0);
    driver.AddDevice(profile);
    TCounter counter(driver, clock);
    ASSERT_TRUE(counter.Open(0));
    EXPECT_EQ(counter.ConvertRate(4321.5, 0), counter.ConvertRate(4321.5, 1));
}

} // namespace
} // namespace korvinet::device
