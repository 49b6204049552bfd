#include "device/hardware_drivers.h"

#include <gtest/gtest.h>

namespace korvinet::device {
namespace {

// Without a counter attached only the edges can be checked: enumeration
// works or fails cleanly, and nothing is done with handles that were never
// handed out.
TEST(LibFtdiDriver, HandlesThatWereNeverOpenedAreRefused) {
    QString why;
    const auto driver = CreateLibFtdiDriver(&why);
    if (!driver)
        GTEST_SKIP() << "libftdi unavailable: " << why.toStdString();

    std::uint32_t n = 0;
    const FtStatus listed = driver->CreateDeviceInfoList(&n);
    EXPECT_TRUE(listed == FT_OK || listed == FT_IO_ERROR);
    FtHandle handle = 0;
    EXPECT_EQ(driver->Open(static_cast<int>(n), &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(driver->Open(-1, &handle), FT_DEVICE_NOT_FOUND);

    const FtHandle bogus = 12345;
    std::uint32_t count = 0;
    std::int32_t port = 0;
    std::uint8_t area[64];
    QString serial, description;
    std::uint32_t type = 0, id = 0;
    const FtStatus results[] = {
        driver->Close(bogus),
        driver->GetComPortNumber(bogus, &port),
        driver->SetBaudRate(bogus, 921600),
        driver->GetDeviceInfo(bogus, &type, &id, &serial, &description),
        driver->EE_UARead(bogus, area, sizeof area, &count),
        driver->SetLatencyTimer(bogus, 2),
        driver->Purge(bogus, FT_PURGE_RX | FT_PURGE_TX),
        driver->GetQueueStatus(bogus, &count),
        driver->DiscardReceived(bogus, 1),
        driver->SetRts(bogus),
        driver->ClrRts(bogus),
        driver->GetOverrunCount(bogus, &count),
    };
    for (std::size_t i = 0; i < std::size(results); ++i)
        EXPECT_EQ(results[i], FT_INVALID_HANDLE) << "call " << i;
}

} // namespace
} // namespace korvinet::device
