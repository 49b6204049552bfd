#include "platform/host_resolver.h"

#include <QThread>
#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace korvinet::platform {
namespace {

TEST(HostResolverTest, SystemResolverAnswersFromTheHostsFile) {
    SystemHostResolver resolver;
    const auto lookup = resolver.Start("localhost");
    for (int i = 0; i < 5000 && !lookup->Finished(); ++i) {
        QThread::msleep(1);
    }
    ASSERT_TRUE(lookup->Finished());
    ASSERT_TRUE(lookup->Address().has_value());
    EXPECT_EQ(*lookup->Address(), htonl(0x7F000001));

    // Lookups dropped while the resolver still works on them are freed once
    // they answer (the sanitizer build checks for leaks and stale memory).
    for (int i = 0; i < 20; ++i) {
        resolver.Start("localhost");
    }

    // An empty name has no address.
    const auto empty = resolver.Start("");
    for (int i = 0; i < 5000 && !empty->Finished(); ++i) {
        QThread::msleep(1);
    }
    EXPECT_FALSE(empty->Address().has_value());
}

} // namespace
} // namespace korvinet::platform
