#pragma once

#include <QByteArray>

namespace korvinet::testing {

// A data file as a Windows program writes it: six header lines, the column
// titles, two readings and an overrange line (which reads as corrupt).
inline const QByteArray kExampleFile = "# Device: KVT-PULSE1\r\n"
                                       "# Units: mR/hr\r\n"
                                       "# Averaging Time: 45 seconds sec\r\n"
                                       "# Title: Radiation vs. Time\r\n"
                                       "# Notes: North wall, shelf 2\r\n"
                                       "# Date Saved: 3/14/2012 10:15:02 AM\r\n"
                                       "Time, mR/hr\r\n"
                                       "3/14/2012 9:00:03 AM, 0.012\r\n"
                                       "3/14/2012 9:00:06 AM, 0.015\r\n"
                                       "3/14/2012 9:00:09 AM, OVERRANGE\r\n";

} // namespace korvinet::testing
