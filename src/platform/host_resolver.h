#pragma once

#include <QByteArray>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace korvinet::platform {

// One host-name lookup under way. The HTTP client polls Finished() between
// dispatches of pending events, so a slow name server never freezes the window.
class HostLookup {
public:
    virtual ~HostLookup() = default;
    // True once the lookup has answered, with or without an address.
    virtual bool Finished() = 0;
    // The first IPv4 address of the answer in network byte order; none when
    // the lookup failed or has not finished.
    virtual std::optional<std::uint32_t> Address() = 0;
};

class HostResolver {
public:
    virtual ~HostResolver() = default;
    // Starts looking up an IPv4 address for the name. Never blocks. Dropping
    // the lookup before it has finished abandons it.
    virtual std::unique_ptr<HostLookup> Start(const QByteArray& hostName) = 0;
};

// Asynchronous lookups through the C library's resolver (getaddrinfo_a).
class SystemHostResolver final : public HostResolver {
public:
    SystemHostResolver();
    SystemHostResolver(const SystemHostResolver&) = delete;
    SystemHostResolver& operator=(const SystemHostResolver&) = delete;
    // Waits for abandoned lookups that the resolver could not cancel.
    ~SystemHostResolver() override;

    std::unique_ptr<HostLookup> Start(const QByteArray& hostName) override;

    struct Request;

private:
    friend class SystemHostLookup;
    // A request the resolver is still working on must stay in memory until
    // it answers; abandoned ones wait here and are freed later.
    void Adopt(std::unique_ptr<Request> request);
    void FreeAnswered();

    std::vector<std::unique_ptr<Request>> abandoned_;
};

} // namespace korvinet::platform
