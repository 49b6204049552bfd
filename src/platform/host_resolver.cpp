#include "platform/host_resolver.h"

#include <algorithm>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace korvinet::platform {

struct SystemHostResolver::Request {
    QByteArray name;
    addrinfo hints{};
    gaicb block{};
    bool started = false;

    bool Answered() const {
        return !started || gai_error(const_cast<gaicb*>(&block)) != EAI_INPROGRESS;
    }

    ~Request() {
        if (started && block.ar_result != nullptr) {
            freeaddrinfo(block.ar_result);
        }
    }
};

class SystemHostLookup final : public HostLookup {
public:
    SystemHostLookup(SystemHostResolver& owner,
                     std::unique_ptr<SystemHostResolver::Request> request)
        : owner_(owner), request_(std::move(request)) {}

    ~SystemHostLookup() override {
        if (request_->Answered()) {
            return;
        }
        // A request taken off the queue keeps reporting "in progress" but is
        // out of the resolver's hands; one already being worked on is not.
        if (gai_cancel(&request_->block) == EAI_NOTCANCELED) {
            owner_.Adopt(std::move(request_));
        }
    }

    bool Finished() override { return request_->Answered(); }

    std::optional<std::uint32_t> Address() override {
        if (!request_->started || gai_error(&request_->block) != 0) {
            return std::nullopt;
        }
        for (const addrinfo* ai = request_->block.ar_result; ai != nullptr; ai = ai->ai_next) {
            if (ai->ai_family == AF_INET && ai->ai_addr != nullptr) {
                return reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
            }
        }
        return std::nullopt;
    }

private:
    SystemHostResolver& owner_;
    std::unique_ptr<SystemHostResolver::Request> request_;
};

SystemHostResolver::SystemHostResolver() = default;

SystemHostResolver::~SystemHostResolver() {
    for (auto& request : abandoned_) {
        while (!request->Answered()) {
            const gaicb* list[] = {&request->block};
            gai_suspend(list, 1, nullptr);
        }
    }
}

std::unique_ptr<HostLookup> SystemHostResolver::Start(const QByteArray& hostName) {
    FreeAnswered();
    auto request = std::make_unique<Request>();
    request->name = hostName;
    request->hints.ai_family = AF_INET;
    request->hints.ai_socktype = SOCK_STREAM;
    request->block.ar_name = request->name.constData();
    request->block.ar_request = &request->hints;
    gaicb* list[] = {&request->block};
    request->started = getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) == 0;
    return std::make_unique<SystemHostLookup>(*this, std::move(request));
}

void SystemHostResolver::Adopt(std::unique_ptr<Request> request) {
    abandoned_.push_back(std::move(request));
}

void SystemHostResolver::FreeAnswered() {
    std::erase_if(abandoned_, [](const std::unique_ptr<Request>& r) { return r->Answered(); });
}

} // namespace korvinet::platform
