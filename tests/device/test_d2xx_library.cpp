#include "device/counter.h"
#include "device/d2xx_library.h"
#include "device/d2xx_library_driver.h"
#include "device/hardware_drivers.h"
#include "device/simulated_driver.h"
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace korvinet::device {
namespace {

std::string S(const QString& s) {
    return s.toStdString();
}

// The fake library's controls, reached through the same loaded copy that the
// driver under test uses.
struct FakeLibrary {
    void* module = dlopen(FAKE_FTD2XX_PATH, RTLD_NOW | RTLD_LOCAL);

    template <typename F> F Get(const char* name) {
        return reinterpret_cast<F>(dlsym(module, name));
    }
    void (*Reset)() = Get<void (*)()>("FakeFtd2xx_Reset");
    int (*AddDevice)(const char*, const char*, const unsigned char*, int) =
        Get<int (*)(const char*, const char*, const unsigned char*, int)>("FakeFtd2xx_AddDevice");
    void (*Receive)(int, std::uint32_t) = Get<void (*)(int, std::uint32_t)>("FakeFtd2xx_Receive");
    std::uint32_t (*Queued)(int) = Get<std::uint32_t (*)(int)>("FakeFtd2xx_Queued");
    int (*IsOpen)(int) = Get<int (*)(int)>("FakeFtd2xx_IsOpen");
    int (*Rts)(int) = Get<int (*)(int)>("FakeFtd2xx_Rts");
    unsigned long (*Baud)(int) = Get<unsigned long (*)(int)>("FakeFtd2xx_Baud");
    int (*Latency)(int) = Get<int (*)(int)>("FakeFtd2xx_Latency");
    void (*SetComPort)(std::uint32_t, std::int32_t) =
        Get<void (*)(std::uint32_t, std::int32_t)>("FakeFtd2xx_SetComPort");
    int (*Overreads)() = Get<int (*)()>("FakeFtd2xx_Overreads");

    ~FakeLibrary() {
        if (module)
            dlclose(module);
    }
    int Add(const char* description, const char* serial, const std::vector<std::uint8_t>& area) {
        return AddDevice(description, serial, area.data(), static_cast<int>(area.size()));
    }
};

class D2xxLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(fake.module, nullptr) << dlerror();
        ASSERT_NE(fake.Reset, nullptr);
        fake.Reset();
        QString why;
        driver = CreateD2xxLibraryDriver(&why, QStringLiteral(FAKE_FTD2XX_PATH));
        ASSERT_TRUE(driver) << S(why);
    }

    FakeLibrary fake;
    std::unique_ptr<D2xxDriver> driver;
};

// ---------------------------------------------------------------- loading

TEST(D2xxLibraryLoad, RefusesMissingOrIncompleteLibrariesWithAReason) {
    const struct {
        const char* path;
        bool loads;
        const char* reasonContains;
    } cases[] = {
        {FAKE_FTD2XX_PATH, true, ""},
        {"/nonexistent/libftd2xx.so", false, "could not be loaded"},
        {FAKE_FTD2XX_INCOMPLETE_PATH, false, "lacks FT_GetComPortNumber"},
    };
    for (const auto& c : cases) {
        QString why;
        const auto driver = CreateD2xxLibraryDriver(&why, QString::fromUtf8(c.path));
        EXPECT_EQ(driver != nullptr, c.loads) << c.path;
        EXPECT_TRUE(why.contains(QString::fromUtf8(c.reasonContains))) << c.path << ": " << S(why);
        if (!c.loads) {
            EXPECT_FALSE(why.isEmpty()) << c.path;
        }
    }
}

TEST(D2xxLibraryLoad, DefaultNameIsThePlatformsLibrary) {
    EXPECT_EQ(S(D2xxLibrary::DefaultName()), "libftd2xx.so");
}

// ---------------------------------------------------------------- the device list

TEST_F(D2xxLibraryTest, DeviceRecordsAreReadAtTheLibrarysOffsets) {
    // 16 and 64 characters: the fields are full and have no terminating zero.
    const std::string longSerial = "ABCDEFGHIJKLMNOP";
    const std::string longDescription(64, 'D');
    fake.Add("KVT-PULSE1", "KV100001", {});
    fake.Add(longDescription.c_str(), longSerial.c_str(), {});

    std::uint32_t n = 0;
    ASSERT_EQ(driver->CreateDeviceInfoList(&n), FT_OK);
    ASSERT_EQ(n, 2u);
    FtHandle h = 0;
    ASSERT_EQ(driver->Open(1, &h), FT_OK);
    std::vector<FtDeviceListInfoNode> nodes;
    ASSERT_EQ(driver->GetDeviceInfoList(nodes, &n), FT_OK);
    ASSERT_EQ(n, 2u);
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(S(nodes[0].Description), "KVT-PULSE1");
    EXPECT_EQ(S(nodes[0].SerialNumber), "KV100001");
    EXPECT_EQ(nodes[0].Flags, 0u);
    EXPECT_EQ(nodes[0].Type, 5u);
    EXPECT_EQ(nodes[0].ID, 0x04036001u);
    EXPECT_EQ(nodes[0].LocId, 0x0100u);
    EXPECT_EQ(S(nodes[1].Description), longDescription);
    EXPECT_EQ(S(nodes[1].SerialNumber), longSerial);
    EXPECT_EQ(nodes[1].Flags, 1u) << "opened";
    EXPECT_EQ(nodes[1].LocId, 0x0101u);
    EXPECT_EQ(driver->Close(h), FT_OK);
}

// ---------------------------------------------------------------- COM ports

TEST_F(D2xxLibraryTest, NoComPortSupportMeansNoComPortNotAFailure) {
    fake.Add("KVT-PULSE1", "KV100001", {});
    const struct {
        std::uint32_t status;
        std::int32_t port;
        FtStatus expectedStatus;
        std::int32_t expectedPort;
    } cases[] = {
        {17, 0, FT_OK, kNoComPort}, // Linux: not supported
        {0, 7, FT_OK, 7},           // Windows: COM7
        {0, -1, FT_OK, -1},         // Windows: no COM port
        {4, 0, FT_IO_ERROR, 99},    // a real failure stays one
    };
    FtHandle h = 0;
    ASSERT_EQ(driver->Open(0, &h), FT_OK);
    for (const auto& c : cases) {
        fake.SetComPort(c.status, c.port);
        std::int32_t port = 99;
        EXPECT_EQ(driver->GetComPortNumber(h, &port), c.expectedStatus) << c.status;
        EXPECT_EQ(port, c.expectedPort) << c.status;
    }
}

// ---------------------------------------------------------------- discarding

TEST_F(D2xxLibraryTest, DiscardReceivedReadsAwayExactlyTheCountedBytes) {
    const int device = fake.Add("KVT-PULSE1", "KV100001", {});
    FtHandle h = 0;
    ASSERT_EQ(driver->Open(0, &h), FT_OK);
    fake.Receive(device, 5000); // more than one read's worth
    std::uint32_t n = 0;
    ASSERT_EQ(driver->GetQueueStatus(h, &n), FT_OK);
    EXPECT_EQ(n, 5000u);
    fake.Receive(device, 3); // arrives between counting and discarding
    EXPECT_EQ(driver->DiscardReceived(h, n), FT_OK);
    EXPECT_EQ(fake.Queued(device), 3u);
    // Asking for more than is there must not wait for bytes yet to come.
    EXPECT_EQ(driver->DiscardReceived(h, 100), FT_OK);
    EXPECT_EQ(fake.Queued(device), 0u);
    EXPECT_EQ(fake.Overreads(), 0);
}

// ---------------------------------------------------------------- a whole session

TEST_F(D2xxLibraryTest, CounterListsOpensAndSamplesThroughTheLoadedLibrary) {
    fake.Add("FT232R USB UART", "A1000000", {});
    const int device =
        fake.Add("KVT-PULSE1", "KV100001", SimulatedDriver::MakeConfig(1000, 1000, 90, 0x86, 15));
    platform::ManualClock clock(5000, 41000.5);
    TCounter counter(*driver, clock);

    ASSERT_EQ(counter.ListDevices(), 1);
    EXPECT_EQ(S(counter.DeviceNames().front()), "KVT-PULSE1"); // no COM port: the description
    EXPECT_EQ(S(counter.DeviceIndices().front()), "1");
    EXPECT_FALSE(fake.IsOpen(device)) << "listing closes what it probed";

    ASSERT_TRUE(counter.Open(1)) << S(counter.LastError());
    EXPECT_EQ(fake.Baud(device), 921600ul);
    EXPECT_EQ(fake.Latency(device), 2);
    EXPECT_EQ(counter.Range(), 1000);
    EXPECT_EQ(S(counter.Info().SerialNumber), "KV100001");
    EXPECT_EQ(S(counter.Info().Model), "KVT-PULSE1");
    EXPECT_EQ(counter.Info().ComPortNumber, kNoComPort);
    EXPECT_EQ(S(counter.Info().PortName), "KVT-PULSE1");

    counter.SetAveragingWindow(1);
    fake.Receive(device, 12);
    clock.Advance(3000);
    ASSERT_TRUE(counter.ReadCounts()) << S(counter.LastError());
    EXPECT_EQ(counter.CountHistory()[0], 12u);
    EXPECT_DOUBLE_EQ(counter.CountRate(), 240.0);
    EXPECT_EQ(fake.Queued(device), 0u);

    ASSERT_TRUE(counter.SetBeep(true));
    EXPECT_FALSE(fake.Rts(device)) << "beep on clears RTS";
    ASSERT_TRUE(counter.SetBeep(false));
    EXPECT_TRUE(fake.Rts(device));

    EXPECT_TRUE(counter.Close());
    EXPECT_FALSE(fake.IsOpen(device));
}

TEST_F(D2xxLibraryTest, CounterReportsAnEmptyUserArea) {
    fake.Add("KVT-PULSE1", "KV100001", {});
    platform::ManualClock clock;
    TCounter counter(*driver, clock);
    ASSERT_EQ(counter.ListDevices(), 1);
    EXPECT_FALSE(counter.Open(0));
    EXPECT_EQ(S(counter.LastError()), "No device configuration found!");
    EXPECT_FALSE(fake.IsOpen(0));
}

} // namespace
} // namespace korvinet::device
