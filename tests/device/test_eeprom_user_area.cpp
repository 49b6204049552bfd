#include "device/eeprom_user_area.h"
#include "device/simulated_driver.h"

#include <gtest/gtest.h>

#include <string>

namespace korvinet::device {
namespace {

std::vector<std::uint8_t> Config() {
    return SimulatedDriver::MakeConfig(1000, 1000, 90, 0x86, 15, 2);
}

// An EEPROM image as libftdi hands it out: 256 bytes, a small EEPROM
// repeating itself. The serial-number string descriptor is written at
// serialAt, its place recorded as storedOffset (with whatever high bits the
// chip keeps), and block, when given, at blockAt.
struct ImageSpec {
    int eepromSize = 128;
    std::uint8_t storedOffset = 0;
    int serialAt = 0;
    std::string serial = "KV100001";
    int blockAt = -1;
    std::vector<std::uint8_t> block;
};

std::vector<std::uint8_t> MakeImage(const ImageSpec& profile) {
    std::vector<std::uint8_t> eeprom(static_cast<std::size_t>(profile.eepromSize), 0x00);
    eeprom[0x12] = profile.storedOffset;
    const auto length = static_cast<std::uint8_t>(2 + 2 * profile.serial.size());
    eeprom[0x13] = length;
    eeprom[profile.serialAt] = length;
    eeprom[profile.serialAt + 1] = 0x03; // string descriptor
    for (std::size_t i = 0; i < profile.serial.size(); ++i)
        eeprom[profile.serialAt + 2 + 2 * i] = static_cast<std::uint8_t>(profile.serial[i]);
    if (profile.blockAt >= 0)
        std::copy(profile.block.begin(), profile.block.end(), eeprom.begin() + profile.blockAt);
    std::vector<std::uint8_t> image;
    while (image.size() < 256)
        image.insert(image.end(), eeprom.begin(), eeprom.end());
    image.resize(256);
    return image;
}

struct LocateCase {
    const char* name;
    FtdiChip chip;
    ImageSpec profile;
    int expectedStart; // offset in the image the area must start at; -1: empty
    int expectedEnd;
};

class LocateUserAreaTest : public ::testing::TestWithParam<LocateCase> {};

TEST_P(LocateUserAreaTest, FindsTheAreaWhereTheChipKeepsIt) {
    const LocateCase& c = GetParam();
    const auto image = MakeImage(c.profile);
    const auto area = LocateUserArea(c.chip, image);
    if (c.expectedStart < 0) {
        EXPECT_TRUE(area.empty()) << area.size() << " bytes";
        return;
    }
    const std::vector<std::uint8_t> expected(image.begin() + c.expectedStart,
                                             image.begin() + c.expectedEnd);
    EXPECT_EQ(area, expected);
}

// A serial of 8 characters is an 18-byte descriptor.
INSTANTIATE_TEST_SUITE_P(
    Images, LocateUserAreaTest,
    ::testing::Values(
        // FT232R: 0xC0 masked to 0x40; area from 0x52 up to the checksum word.
        LocateCase{"FT232R_RightAfterSerial",
                   FtdiChip::FT232R,
                   {128, 0xC0, 0x40, "KV100001", 0x52, Config()},
                   0x52,
                   0x7E},
        LocateCase{"FT232R_AfterFourReservedBytes",
                   FtdiChip::FT232R,
                   {128, 0xC0, 0x40, "KV100001", 0x56, Config()},
                   0x56,
                   0x7E},
        // Neither candidate valid: the first one's bytes, for the caller to judge.
        LocateCase{"FT232R_NoValidBlock",
                   FtdiChip::FT232R,
                   {128, 0xC0, 0x40, "KV100001", 0x56, {1, 3, 0, 0}},
                   0x52,
                   0x7E},
        // A 93C46 repeats after 128 bytes; 0xB0 must wrap to 0x30, not reach past the end.
        LocateCase{"C93C46_OffsetWraps",
                   FtdiChip::BM,
                   {128, 0xB0, 0x30, "KV1", 0x38, Config()},
                   0x38,
                   0x7E},
        LocateCase{"FT2232C_93C46_OffsetWraps",
                   FtdiChip::FT2232C,
                   {128, 0xE0, 0x60, "KV1", 0x68, Config()},
                   0x68,
                   0x7E},
        // A 93C56 on a high-speed chip: 256 bytes, offsets taken whole.
        LocateCase{"FT2232H_93C56",
                   FtdiChip::FT2232H,
                   {256, 0xB0, 0xB0, "KV100001", 0xC2, Config()},
                   0xC2,
                   0xFE},
        // FT-X: fixed place, whatever the string pointers say.
        LocateCase{"FTX_FixedPlace",
                   FtdiChip::FTX,
                   {256, 0xA0, 0xA0, "KV100001", 0x24, Config()},
                   0x24,
                   0x80},
        // Too short for a 13-byte block: the 8 bytes that are there.
        LocateCase{"FT232R_AreaTooShort",
                   FtdiChip::FT232R,
                   {128, 0xE4, 0x64, "KV100001", -1, {}},
                   0x76,
                   0x7E},
        // A descriptor that runs into the checksum leaves no area at all.
        LocateCase{"FT232R_SerialFillsEeprom",
                   FtdiChip::FT232R,
                   {128, 0xEE, 0x6E, "KV100001", -1, {}},
                   -1,
                   -1}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(LocateUserArea, BlankImageHasNoArea) {
    const std::vector<std::uint8_t> blank(256, 0xFF);
    for (FtdiChip chip : {FtdiChip::FT232R, FtdiChip::BM, FtdiChip::FT2232H, FtdiChip::FTX})
        EXPECT_TRUE(LocateUserArea(chip, blank).empty()) << static_cast<int>(chip);
}

TEST(EepromSizeOf, TellsSmallEepromsFromLargeOnes) {
    EXPECT_EQ(EepromSizeOf(FtdiChip::FT232R, std::vector<std::uint8_t>(256, 0x11)), 128);
    EXPECT_EQ(EepromSizeOf(FtdiChip::BM, MakeImage({128, 0x94, 0x14, "KV1", -1, {}})), 128);
    EXPECT_EQ(EepromSizeOf(FtdiChip::FT2232H, MakeImage({256, 0x9A, 0x9A, "KV1", -1, {}})), 256);
}

} // namespace
} // namespace korvinet::device
