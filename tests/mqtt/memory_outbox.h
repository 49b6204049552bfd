#pragma once

#include "mqtt/mqtt_outbox.h"

#include <algorithm>
#include <deque>

namespace korvinet::testing {

// Readings kept in memory until acknowledged: a pending source for
// publisher tests, without a disk behind it.
class MemoryOutbox final : public mqtt::PendingSource {
public:
    // Readings are added in increasing seq order.
    void Add(const mqtt::MqttReading& reading) { readings_.push_back(reading); }
    // Forgets the readings up to and including seq (acknowledged by the broker).
    void DropThrough(std::uint64_t seq) {
        while (!readings_.empty() && readings_.front().seq <= seq)
            readings_.pop_front();
    }
    std::size_t Size() const { return readings_.size(); }

    std::vector<mqtt::MqttReading> ReadingsAfter(std::uint64_t afterSeq, int maxCount) override {
        auto it = std::upper_bound(
            readings_.begin(), readings_.end(), afterSeq,
            [](std::uint64_t seq, const mqtt::MqttReading& reading) { return seq < reading.seq; });
        std::vector<mqtt::MqttReading> out;
        for (; it != readings_.end() && static_cast<int>(out.size()) < maxCount; ++it)
            out.push_back(*it);
        return out;
    }

private:
    std::deque<mqtt::MqttReading> readings_;
};

} // namespace korvinet::testing
