#pragma once

#include <cstdint>

namespace korvinet::graph {

// Colours as the program stores them: 0x00BBGGRR.
using TColor = std::uint32_t;
constexpr TColor kColorRed = 0x0000FF;
constexpr TColor kColorGreen = 0x008000;
constexpr TColor kColorBlue = 0xFF0000;
constexpr TColor kColorBlack = 0x000000;
// A point in this colour is drawn in its series' own colour.
constexpr TColor kDefaultPointColor = 0x80000000;

// One reading on the graph.
struct GraphPoint {
    double x = 0.0; // date-time: days since 30 December 1899, local time
    double y = 0.0; // the reading, in the unit current when it was taken
    TColor color = kDefaultPointColor;
};

} // namespace korvinet::graph
