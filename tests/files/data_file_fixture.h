#pragma once

#include "device/counter.h"
#include "device/simulated_driver.h"
#include "files/data_file.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/regional.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace korvinet::testing {

inline double At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return platform::DateTimeFromQt(QDateTime(QDate(y, mo, d), QTime(h, mi, s)));
}

inline QStringList UnitNames() {
    QStringList names;
    for (std::int8_t code = 0; code < 5; ++code)
        names << device::TCounter::UnitNameOf(code);
    return names;
}

// A counter that has been opened once (so it knows its model text), regional
// settings pinned to the C locale (United States patterns) and a folder for
// the files.
class DataFileTest : public ::testing::Test {
protected:
    platform::ManualClock clock{1000, At(2012, 3, 14, 9, 0, 0)};
    device::SimulatedDriver driver{clock, 7};
    device::TCounter counter{driver, clock};
    platform::Regional regional{QLocale::c()};
    QTemporaryDir dir;

    void SetUp() override {
        device::SimulatedDeviceProfile profile;
        profile.userArea = device::SimulatedDriver::MakeConfig(1000, 1000, 90, 0x86, -5);
        driver.AddDevice(profile);
        ASSERT_EQ(counter.ListDevices(), 1);
        ASSERT_TRUE(counter.Open(counter.DeviceIndices().front().toUInt()))
            << counter.LastError().toStdString();
        counter.SetUnitCode(2); // mR/hr
        ASSERT_TRUE(dir.isValid());
    }

    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    static files::DataFileHeader ExampleHeader() {
        files::DataFileHeader h;
        h.averagingTime = QStringLiteral("45 seconds");
        h.title = QStringLiteral("Radiation vs. Time");
        h.notes = QStringLiteral("North wall, shelf 2");
        h.dateSaved = At(2012, 3, 14, 10, 15, 2);
        h.bottomAxisTitle = QStringLiteral("Time");
        h.leftAxisTitle = QStringLiteral("mR/hr");
        return h;
    }

    QString WriteRaw(const char* name, const QByteArray& bytes) const {
        const QString path = Path(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }

    static QByteArray ReadRaw(const QString& path) {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return f.readAll();
    }

    // Opens and reads a file the way "Open Data File" does; `ok` is Read's result.
    files::DataFileContents ReadBack(const QString& path, bool* ok = nullptr,
                                     const platform::Regional* settings = nullptr) const {
        files::DataFileReader reader(settings ? *settings : regional);
        files::DataFileContents contents;
        EXPECT_TRUE(reader.Open(path));
        const bool result = reader.Read(UnitNames(), &contents);
        if (ok)
            *ok = result;
        return contents;
    }
};

} // namespace korvinet::testing
