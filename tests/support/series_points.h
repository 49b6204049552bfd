#pragma once

#include "graph/line_series.h"

#include <vector>

namespace korvinet::testing {

// A series' points as a plain list, for comparing whole series.
inline std::vector<graph::GraphPoint> PointsOf(const graph::TLineSeries& series) {
    std::vector<graph::GraphPoint> points;
    points.reserve(series.Count());
    for (std::size_t i = 0; i < series.Count(); ++i)
        points.push_back(series.Point(i));
    return points;
}

} // namespace korvinet::testing
