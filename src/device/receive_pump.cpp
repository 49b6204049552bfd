#include "device/receive_pump.h"

#include <QThread>
#include <algorithm>
#include <chrono>
#include <limits>
#include <vector>

namespace korvinet::device {

ReceivePump::ReceivePump(std::unique_ptr<Port> port, Options options)
    : port_(std::move(port)), options_(std::move(options)) {
    options_.readSize = std::max(options_.readSize, 1);
    options_.statusEvery = std::max(options_.statusEvery, 1);
    if (options_.qtThread) {
        qtThread_.reset(QThread::create([this] { Loop(); }));
        qtThread_->start();
    } else {
        thread_ = std::thread([this] { Loop(); });
    }
}

ReceivePump::~ReceivePump() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (options_.wake)
        options_.wake();
    if (qtThread_) {
        qtThread_->wait();
        // The thread's last release of the lock orders its work before
        // what follows, as the wait does, in a way a thread checker sees.
        const std::lock_guard lock(mutex_);
    } else {
        thread_.join();
    }
    port_.reset();
}

std::uint32_t ReceivePump::Queued() const {
    const std::uint64_t consumed = consumed_.load();
    const std::uint64_t waiting = received_.load() - consumed;
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(waiting, std::numeric_limits<std::uint32_t>::max()));
}

void ReceivePump::Discard(std::uint32_t count) {
    std::uint64_t consumed = consumed_.load();
    for (;;) {
        const std::uint64_t take = std::min<std::uint64_t>(count, received_.load() - consumed);
        if (consumed_.compare_exchange_weak(consumed, consumed + take))
            return;
    }
}

int ReceivePump::PurgeReceived() {
    return Call([this] {
        const int result = port_->FlushReceived();
        // Everything read so far was received before the flush: it goes
        // with it. Only this thread adds to received_, so nothing slips in.
        const std::uint64_t received = received_.load();
        std::uint64_t consumed = consumed_.load();
        while (consumed < received && !consumed_.compare_exchange_weak(consumed, received)) {
        }
        return result;
    });
}

int ReceivePump::Call(const std::function<int()>& command) {
    auto job = std::make_shared<Job>();
    job->command = command;
    std::unique_lock lock(mutex_);
    if (stop_)
        return kStopped;
    jobs_.push_back(job);
    wake_.notify_all();
    if (options_.wake)
        options_.wake();
    done_.wait(lock, [&] { return job->done; });
    return job->result;
}

void ReceivePump::RunJobs(std::unique_lock<std::mutex>& lock) {
    while (!jobs_.empty()) {
        auto job = jobs_.front();
        jobs_.pop_front();
        lock.unlock();
        const int result = job->command();
        lock.lock();
        job->result = result;
        job->done = true;
        done_.notify_all();
    }
}

void ReceivePump::ReadOnce(std::uint8_t* buffer) {
    const int n = port_->Read(buffer, options_.readSize);
    if (n > 0) {
        if (options_.onReceived)
            options_.onReceived(buffer, n);
        received_.fetch_add(static_cast<std::uint64_t>(n));
        transientErrors_ = 0;
    } else if (n == 0) {
        // Nothing arrived within the chip's latency: an idle line, not an end.
        transientErrors_ = 0;
    } else {
        if (port_->Classify(n) == Port::Error::Fatal ||
            ++transientErrors_ >= options_.maxTransientErrors) {
            lost_.store(true);
            return;
        }
        // Let a failing device settle instead of spinning on it.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    if (++reads_ >= options_.statusEvery) {
        reads_ = 0;
        const int status = port_->LineStatus();
        if (status >= 0 && (status & kOverrunBit)) {
            const std::uint64_t total = overruns_.fetch_add(1) + 1;
            if (options_.onOverrun)
                options_.onOverrun(total);
        }
    }
}

void ReceivePump::Loop() {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(options_.readSize));
    std::unique_lock lock(mutex_);
    for (;;) {
        RunJobs(lock);
        if (stop_)
            break;
        if (lost_.load()) {
            wake_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
            continue;
        }
        lock.unlock();
        ReadOnce(buffer.data());
        lock.lock();
    }
    // Callers still waiting get an answer instead of hanging.
    for (auto& job : jobs_) {
        job->result = kStopped;
        job->done = true;
    }
    jobs_.clear();
    done_.notify_all();
}

} // namespace korvinet::device
