#include "platform/stop_signals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace korvinet::platform {

#ifdef _WIN32

struct StopSignalRoute::Installed {};

StopSignalRoute::StopSignalRoute() = default;
StopSignalRoute::~StopSignalRoute() = default;

bool StopSignalRoute::Route(std::initializer_list<int>, Handler, QString* error) {
    *error = QStringLiteral("signals are not routed on this system");
    return false;
}

#else

namespace {

// Where the handler writes: the one thing it shares with the rest.
volatile sig_atomic_t writeEnd = -1;

void OnSignal(int signal) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(writeEnd, &number, 1);
    errno = saved;
}

} // namespace

struct StopSignalRoute::Installed {
    int fds[2] = {-1, -1};
    std::vector<std::pair<int, struct sigaction>> previous;

    ~Installed() {
        for (auto it = previous.rbegin(); it != previous.rend(); ++it)
            ::sigaction(it->first, &it->second, nullptr);
        if (fds[1] >= 0 && writeEnd == fds[1])
            writeEnd = -1;
        for (const int fd : fds)
            if (fd >= 0)
                ::close(fd);
    }
};

StopSignalRoute::StopSignalRoute() = default;

StopSignalRoute::~StopSignalRoute() {
    notifier_.reset();
    installed_.reset();
}

bool StopSignalRoute::Route(std::initializer_list<int> which, Handler onSignal, QString* error) {
    if (installed_ || writeEnd >= 0) {
        *error = QStringLiteral("the signals are routed already");
        return false;
    }
    auto installed = std::make_unique<Installed>();
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, installed->fds) != 0) {
        *error = QStringLiteral("cannot set up the signal handlers: ") + qt_error_string(errno);
        return false;
    }
    writeEnd = installed->fds[1];
    for (const int signal : which) {
        struct sigaction action = {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        struct sigaction previous = {};
        if (::sigaction(signal, &action, &previous) != 0) {
            *error = QStringLiteral("cannot set up the signal handlers: ") + qt_error_string(errno);
            return false; // `installed` puts back those set so far
        }
        installed->previous.emplace_back(signal, previous);
    }
    onSignal_ = std::move(onSignal);
    notifier_ = std::make_unique<QSocketNotifier>(installed->fds[0], QSocketNotifier::Read);
    const int readEnd = installed->fds[0];
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, readEnd] {
        unsigned char numbers[16];
        const ssize_t n = ::read(readEnd, numbers, sizeof numbers);
        // The handler may end the program's run: it gets its own copy, and
        // nothing of this object is touched after it has been called.
        const Handler handler = onSignal_;
        for (ssize_t i = 0; i < n; ++i)
            handler(numbers[i]);
    });
    installed_ = std::move(installed);
    return true;
}

#endif

} // namespace korvinet::platform
