#pragma once

#include <QString>
#include <QStringView>
#include <span>

namespace korvinet::device {

// A Geiger-Müller tube as a counter without a calibration of its own is
// told it has: its sensitivity to gamma rays in counts per minute for
// 1 µSv/hr, and its dead time.
struct TubeProfile {
    QStringView name;
    double cpmPerMicrosievertHour;
    double deadTimeSeconds; // 0 where no figure was found: no correction
};

std::span<const TubeProfile> TubeProfiles();

// The profile of a tube by name, as typed: case, spaces and dashes aside
// ("sbm20", "SBM-20"); null for an unknown name.
const TubeProfile* FindTube(QStringView name);

// The names, comma-separated, for messages.
QString TubeNames();

} // namespace korvinet::device
