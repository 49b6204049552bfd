#pragma once

#include "device/reading.h"
#include "files/data_file.h"

#include <vector>

namespace korvinet::testing {

// Saves a list of readings as the window saves its graph (through the
// streaming writer), for tests that make their files from a plain list.
inline bool WriteDataFile(const QString& fileName, const std::vector<device::Reading>& points,
                          const device::TCounter& counter, const files::DataFileHeader& header,
                          const platform::Regional& regional) {
    return files::WriteDataFilePoints(fileName,
                                      {points.size(), [&](std::size_t i) { return points[i].time; },
                                       [&](std::size_t i) { return points[i].value; }},
                                      counter, header, regional);
}

} // namespace korvinet::testing
