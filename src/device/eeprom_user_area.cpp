#include "device/eeprom_user_area.h"

#include "device/counter.h"

#include <algorithm>
#include <cstring>

namespace korvinet::device {

namespace {

constexpr int kSerialOffsetByte = 0x12;
constexpr int kSerialLengthByte = 0x13;
constexpr int kReservedAfterSerial = 4;
constexpr int kFtxUserAreaStart = 0x24;
constexpr int kFtxUserAreaEnd = 0x80;
constexpr int kChecksumSize = 2;

// The checks the counter applies to its configuration block.
bool IsValidConfig(std::span<const std::uint8_t> area) {
    if (area.size() < static_cast<std::size_t>(TCounter::kConfigSize))
        return false;
    if (area[0] != 1 || (area[1] != 1 && area[1] != 2))
        return false;
    const std::uint16_t stored = static_cast<std::uint16_t>(area[11] | (area[12] << 8));
    return TCounter::ConfigChecksum(area.data(), 11) == stored;
}

} // namespace

int EepromSizeOf(FtdiChip chip, std::span<const std::uint8_t> image) {
    if (chip == FtdiChip::FT232R)
        return 128;
    if (image.size() >= 256 && std::memcmp(image.data(), image.data() + 128, 128) == 0)
        return 128;
    return static_cast<int>(std::min<std::size_t>(image.size(), 256));
}

std::vector<std::uint8_t> LocateUserArea(FtdiChip chip, std::span<const std::uint8_t> image,
                                         int eepromSize) {
    if (eepromSize <= 0)
        eepromSize = EepromSizeOf(chip, image);
    const int size = std::min(eepromSize, static_cast<int>(image.size()));
    const auto used = image.first(static_cast<std::size_t>(std::max(size, 0)));
    if (used.empty() || std::all_of(used.begin(), used.end(), [](auto b) { return b == 0xFF; }))
        return {};

    std::vector<int> starts;
    int end = 0;
    if (chip == FtdiChip::FTX) {
        starts = {kFtxUserAreaStart};
        end = std::min(kFtxUserAreaEnd, size);
    } else {
        if (size <= kSerialLengthByte)
            return {};
        // Offsets are stored with high bits set (0x80 | address on most
        // chips); the mask keeps the address within the EEPROM.
        const int mask = size - 1;
        const int after = (image[kSerialOffsetByte] & mask) + image[kSerialLengthByte];
        starts = {after, after + kReservedAfterSerial};
        end = size - kChecksumSize; // the last word holds the EEPROM checksum
    }

    auto areaAt = [&](int start) -> std::span<const std::uint8_t> {
        if (start >= end)
            return {};
        return used.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
    };
    for (int start : starts)
        if (const auto area = areaAt(start); IsValidConfig(area))
            return {area.begin(), area.end()};
    const auto first = areaAt(starts.front());
    return {first.begin(), first.end()};
}

} // namespace korvinet::device
