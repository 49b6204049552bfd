#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace korvinet::device {

// FTDI bridge families whose EEPROM layouts differ in where the user area
// lies. Numbered like libftdi's chip types so a backend can cast.
enum class FtdiChip {
    AM = 0,
    BM = 1,
    FT2232C = 2,
    FT232R = 3,
    FT2232H = 4,
    FT4232H = 5,
    FT232H = 6,
    FTX = 7,
};

// The EEPROM user area of a whole EEPROM image, the block a D2XX-style
// "user area read" returns: what the counter keeps its configuration in.
//
// FT-X chips keep it at a fixed place (0x24 up to 0x80). The other chips put
// it after the serial-number string descriptor, whose place and length the
// image holds at bytes 0x12/0x13; the place is masked by the EEPROM size, so
// a 93C46 (128 bytes) wraps offsets such as 0xA0 round to 0x20. Whether 4
// reserved bytes follow the string is not settled by public documentation,
// so each candidate start is tried in order and the first whose block is a
// valid configuration block (kind 1, revision 1 or 2, CRC-16/ARC) wins; with
// none valid, the first candidate's bytes are returned so the caller reports
// what is wrong with them. A blank image (all 0xFF) has no user area.
//
// eepromSize is the size of the part that counts (128, 256, ...), or 0 to
// work it out from the chip type and the image.
std::vector<std::uint8_t> LocateUserArea(FtdiChip chip, std::span<const std::uint8_t> image,
                                         int eepromSize = 0);

// The EEPROM size a chip's image stands for: 128 bytes for the FT232R's
// internal EEPROM, 128 for a 93C46 (read past its end, it repeats itself),
// otherwise 256.
int EepromSizeOf(FtdiChip chip, std::span<const std::uint8_t> image);

} // namespace korvinet::device
