#pragma once

#include <QString>
#include <functional>
#include <initializer_list>
#include <memory>

class QSocketNotifier;

namespace korvinet::platform {

// The signals that ask a program to end (SIGTERM from a desktop session's
// logout or systemd, SIGINT from Ctrl+C, SIGHUP from a closed terminal),
// handled in the event loop: a signal handler may do next to nothing
// safely, so it only writes the signal's number into a socket pair, and the
// other end calls `onSignal` from the event loop, where saving and closing
// files is safe. Each signal delivered is handed on once, a second one while
// the first is being handled included.
//
// One route at a time per process (the handler has nowhere else to write);
// the signals' earlier handling comes back on destruction.
class StopSignalRoute {
public:
    using Handler = std::function<void(int signal)>;

    StopSignalRoute();
    ~StopSignalRoute();
    StopSignalRoute(const StopSignalRoute&) = delete;
    StopSignalRoute& operator=(const StopSignalRoute&) = delete;

    // Needs the application object. False, with the reason in *error, when
    // the socket pair or a handler cannot be set up, or another route is
    // active.
    [[nodiscard]] bool Route(std::initializer_list<int> which, Handler onSignal, QString* error);

private:
    struct Installed;
    std::unique_ptr<Installed> installed_;
    std::unique_ptr<QSocketNotifier> notifier_;
    Handler onSignal_;
};

} // namespace korvinet::platform
