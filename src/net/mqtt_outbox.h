#pragma once

#include "net/mqtt_payload.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace korvinet::net {

// Where the publisher takes the readings it still has to deliver. The station
// answers from its recording journal, so readings taken while the broker is
// away (or the station was stopped) go out after it returns; the publisher
// itself keeps no more than the ones in flight.
class PendingSource {
public:
    virtual ~PendingSource() = default;
    // Up to maxCount readings whose seq is above afterSeq, in increasing seq
    // order; fewer (or none) when there are no more yet.
    virtual std::vector<MqttReading> ReadingsAfter(std::uint64_t afterSeq, int maxCount) = 0;
};

// Readings kept in memory until acknowledged: for a publisher without a
// journal behind it. Nothing survives the process.
class MemoryOutbox final : public PendingSource {
public:
    // Readings are added in increasing seq order.
    void Add(const MqttReading& reading) { readings_.push_back(reading); }
    // Forgets the readings up to and including seq (acknowledged by the broker).
    void DropThrough(std::uint64_t seq);
    std::size_t Size() const { return readings_.size(); }

    std::vector<MqttReading> ReadingsAfter(std::uint64_t afterSeq, int maxCount) override;

private:
    std::deque<MqttReading> readings_;
};

} // namespace korvinet::net
