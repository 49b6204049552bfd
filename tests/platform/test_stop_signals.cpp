#include "platform/stop_signals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <csignal>
#include <gtest/gtest.h>
#include <vector>

namespace korvinet::platform {
namespace {

// Signals reach the handler by number from the event loop, not from the
// signal handler; one route at a time; the earlier handling comes back.
TEST(StopSignalRoute, HandsSignalsToTheEventLoopAndGivesThemBack) {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction before = {};
    ASSERT_EQ(::sigaction(SIGHUP, &ignore, &before), 0);
    std::vector<int> seen;
    {
        StopSignalRoute route;
        QString why;
        ASSERT_TRUE(route.Route(
            {SIGHUP, SIGINT}, [&](int s) { seen.push_back(s); }, &why));
        StopSignalRoute second;
        EXPECT_FALSE(second.Route(
            {SIGTERM}, [](int) {}, &why));
        ::raise(SIGHUP);
        ::raise(SIGINT);
        EXPECT_TRUE(seen.empty());
        QElapsedTimer waited;
        waited.start();
        while (seen.size() < 2 && waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        EXPECT_EQ(seen, (std::vector<int>{SIGHUP, SIGINT}));
    }
    struct sigaction now = {};
    ASSERT_EQ(::sigaction(SIGHUP, &before, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
}

} // namespace
} // namespace korvinet::platform
