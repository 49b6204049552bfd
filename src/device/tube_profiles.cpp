#include "device/tube_profiles.h"

#include <QStringList>
#include <array>

namespace korvinet::device {

namespace {

// The figures, converted where needed with 1 mR/hr = 10 µSv/hr as everywhere
// in this program (x cps per mR/hr = 6x CPM per µSv/hr):
//
// SBM-20: datasheet, gamma sensitivity to Cs-137 18 cps per mR/hr (260 cps
//   at 4 µR/s), dead time at most 190 µs at 400 V.
// SBM-19: the uRADMonitor detector table (0.0015 µSv/hr per CPM); its
//   datasheet's dead time was not found.
// SI-29BG: the uRADMonitor detector table (0.010 µSv/hr per CPM).
// SI-22G: the uRADMonitor detector table (0.001714 µSv/hr per CPM).
// STS-5: the uRADMonitor detector table (0.006666 µSv/hr per CPM).
// SI-3BG: datasheet, 0.235 cps per mR/hr.
// J305: Rad Pro reference manual, 135.2 CPM per µSv/hr for Cs-137.
// M4011: 153.8 CPM per µSv/hr, the conversion the DIY Geiger counter
//   project recommends for it (quoted in the Rad Pro tube notes).
// J321: Rad Pro reference manual, 108.345 CPM per µSv/hr for Cs-137.
// HH614: Rad Pro reference manual, 30.157 CPM per µSv/hr for Cs-137.
// LND-712: LND datasheet, gamma sensitivity to Co-60 18 cps per mR/hr,
//   dead time 90 µs.
// LND-7317: LND product page, gamma sensitivity to Cs-137 58 cps per mR/hr,
//   dead time at most 40 µs.
constexpr std::array<TubeProfile, 12> kTubes = {{
    {u"SBM-20", 108.0, 190e-6},
    {u"SBM-19", 666.7, 0.0},
    {u"SI-29BG", 100.0, 0.0},
    {u"SI-22G", 583.4, 0.0},
    {u"STS-5", 150.0, 0.0},
    {u"SI-3BG", 1.41, 0.0},
    {u"J305", 135.2, 0.0},
    {u"M4011", 153.8, 0.0},
    {u"J321", 108.345, 0.0},
    {u"HH614", 30.157, 0.0},
    {u"LND-712", 108.0, 90e-6},
    {u"LND-7317", 348.0, 40e-6},
}};

QString Folded(QStringView name) {
    QString folded;
    for (const QChar c : name)
        if (c.isLetterOrNumber())
            folded += c.toUpper();
    return folded;
}

} // namespace

std::span<const TubeProfile> TubeProfiles() {
    return kTubes;
}

const TubeProfile* FindTube(QStringView name) {
    const QString wanted = Folded(name);
    if (wanted.isEmpty())
        return nullptr;
    for (const TubeProfile& tube : kTubes)
        if (Folded(tube.name) == wanted)
            return &tube;
    return nullptr;
}

QString TubeNames() {
    QStringList names;
    for (const TubeProfile& tube : kTubes)
        names << tube.name.toString();
    return names.join(QStringLiteral(", "));
}

} // namespace korvinet::device
