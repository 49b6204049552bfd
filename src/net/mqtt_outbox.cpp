#include "net/mqtt_outbox.h"

#include <algorithm>

namespace korvinet::net {

void MemoryOutbox::DropThrough(std::uint64_t seq) {
    while (!readings_.empty() && readings_.front().seq <= seq) {
        readings_.pop_front();
    }
}

std::vector<MqttReading> MemoryOutbox::ReadingsAfter(std::uint64_t afterSeq, int maxCount) {
    auto it = std::upper_bound(
        readings_.begin(), readings_.end(), afterSeq,
        [](std::uint64_t seq, const MqttReading& reading) { return seq < reading.seq; });
    std::vector<MqttReading> out;
    for (; it != readings_.end() && static_cast<int>(out.size()) < maxCount; ++it) {
        out.push_back(*it);
    }
    return out;
}

} // namespace korvinet::net
