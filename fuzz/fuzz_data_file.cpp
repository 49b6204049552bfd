// Any file a user opens with "Open Data File", read under the regional
// settings of the United States (the C locale), Germany (decimal comma,
// day.month.year) and Korea (year first, a day-period word before the time).
#include "device/counter.h"
#include "files/data_file.h"
#include "platform/regional.h"

#include "fuzz_support.h"

#include <cmath>

namespace korvinet::fuzz {
namespace {

QStringList UnitNames() {
    QStringList names;
    for (std::int8_t code = 0; code < 5; ++code) {
        names << device::TCounter::UnitNameOf(code);
    }
    return names;
}

qsizetype LineCount(const std::uint8_t* data, std::size_t size) {
    qsizetype lines = size > 0 && data[size - 1] != '\n' ? 1 : 0;
    for (std::size_t i = 0; i < size; ++i) {
        lines += data[i] == '\n' ? 1 : 0;
    }
    return lines;
}

void Check(const files::DataFileContents& c, bool ok, const QStringList& unitNames,
           qsizetype lines) {
    if (!ok) {
        FUZZ_CHECK(c.points.empty());
    }
    for (const QString& header : c.headerLines) {
        FUZZ_CHECK(header.startsWith(QLatin1Char('#')));
    }
    FUZZ_CHECK(c.unitIndex >= -1 && c.unitIndex < unitNames.size());
    if (c.unitIndex >= 0) {
        FUZZ_CHECK(unitNames[c.unitIndex].compare(c.leftAxisTitle, Qt::CaseInsensitive) == 0);
    }
    // Every line is a header line, the column titles, a point or corrupt.
    FUZZ_CHECK(c.corruptLines >= 0);
    FUZZ_CHECK(c.headerLines.size() + (c.hasColumnTitles ? 1 : 0) +
                   static_cast<qsizetype>(c.points.size()) + c.corruptLines <=
               lines);
    // The chart takes the points as they come: finite, in strictly rising time.
    for (std::size_t i = 0; i < c.points.size(); ++i) {
        FUZZ_CHECK(std::isfinite(c.points[i].time) && std::isfinite(c.points[i].value));
        if (i > 0) {
            FUZZ_CHECK(c.points[i - 1].time < c.points[i].time);
        }
    }
}

} // namespace
} // namespace korvinet::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvinet;
    using namespace korvinet::fuzz;
    static const QStringList unitNames = UnitNames();
    static const platform::Regional regionals[] = {
        platform::Regional(QLocale::c()),
        platform::Regional(QLocale(QLocale::German, QLocale::Germany)),
        platform::Regional(QLocale(QLocale::Korean, QLocale::SouthKorea)),
    };
    static fuzz::MemoryFile file;
    file.Fill(data, size);
    const qsizetype lines = LineCount(data, size);
    for (const platform::Regional& regional : regionals) {
        files::DataFileReader reader(regional);
        FUZZ_CHECK(reader.Open(file.Path()));
        files::DataFileContents contents;
        const bool ok = reader.Read(unitNames, &contents);
        Check(contents, ok, unitNames, lines);
    }
    return 0;
}
