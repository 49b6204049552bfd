#include "net/socket_errors.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace korvinet::net {
namespace {

TEST(SocketErrorsTest, PlatformErrorsReadAsWindowsSocketsErrors) {
    struct Case {
        int errnoValue;
        const char* text;
    };
    const Case cases[] = {
        {ECONNREFUSED, "10061:Connection refused"},
        {ECONNRESET, "10054:Connection reset by peer"},
        {ETIMEDOUT, "10060:Connection timed out"},
        {EHOSTUNREACH, "10065:No Route to Host"},
        {ENETUNREACH, "10051:Network is unreachable"},
        {EWOULDBLOCK, "10035:Operation would block"},
        {EINTR, "10004:Interrupted system call"},
        {EADDRNOTAVAIL, "10049:Can't assign requested address"},
        {ENOMEM, "Unknown Error No. 12"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SocketErrorTextFromErrno(c.errnoValue), QString::fromLatin1(c.text));
    }
}

TEST(SocketErrorsTest, TableCoversFiftyNumbers) {
    int known = 0;
    for (int code = 10000; code < 11100; ++code) {
        if (!SocketErrorText(code).startsWith(QStringLiteral("Unknown Error No. "))) {
            ++known;
        }
    }
    EXPECT_EQ(known, 50);
    EXPECT_EQ(SocketErrorText(11001), QStringLiteral("11001:Host not found"));
    EXPECT_EQ(SocketErrorText(11004),
              QStringLiteral("11004:Valid name, no data record of requested type"));
    EXPECT_EQ(SocketErrorText(10005), QStringLiteral("Unknown Error No. 10005"));
}

} // namespace
} // namespace korvinet::net
