#pragma once

#include "mqtt/mqtt_payload.h"
#include "platform/durable_file.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>
#include <optional>

#include <cstdint>
#include <deque>
#include <vector>

namespace korvinet::mqtt {

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

// The station's readings waiting for the broker, kept on disk so that none is
// lost while the broker is away, across a restart of the station or a power
// cut. The folder (<journal>/mqtt/<SERIAL>/) holds append-only segments of
// JSON lines, "segment-<first seq>.jsonl", each reading synced to disk as it
// is added, and "outbox.state" with the last seq the broker acknowledged,
// replaced atomically. A segment whose readings are all acknowledged is
// deleted once a newer one has started. Readings the disk refuses are held
// in memory meanwhile; those the broker had before they could be written
// leave a gap in the seqs on disk, where a new segment starts.
//
// The acknowledged seq is written at most once a second (and at Flush), so a
// crash may send a few readings twice; a consumer sees a seq twice, never a
// gap. The seq of the next reading continues after the highest one kept
// here, so it increases across restarts.
class DiskOutbox final : public PendingSource {
public:
    static constexpr int kSegmentReadings = 1000;
    static constexpr int kStateWriteIntervalMs = 1000;
    // Readings held in memory at most while the disk takes none (a full
    // disk): over three days at the default sampling. Older ones go; the
    // journal may still have them.
    static constexpr std::size_t kMostHeld = 100000;

    explicit DiskOutbox(QString folder, int segmentReadings = kSegmentReadings);
    ~DiskOutbox() override;
    DiskOutbox(const DiskOutbox&) = delete;
    DiskOutbox& operator=(const DiskOutbox&) = delete;

    // Creates the folder, reads the state and the newest segment and cuts off
    // a line half written when the process died. False with a one-line reason.
    [[nodiscard]] bool Open(QString* error);

    // The highest seq kept or acknowledged; 0 for a new outbox.
    std::uint64_t LastSeq() const { return lastSeq_; }
    std::uint64_t AcknowledgedSeq() const { return ackedSeq_; }

    // Appends the reading, which must carry LastSeq() + 1, and syncs it to
    // disk, after any held ones. False with a reason when it could not be
    // written (a full disk): it is held in memory meanwhile, served to the
    // publisher all the same, and written with the first Add() that can,
    // unless the broker has had it by then.
    [[nodiscard]] bool Add(const MqttReading& reading, QString* error);
    // The same without writing: for many readings at once, which
    // WriteHeld() then writes with one sync a segment. False when the seq
    // does not follow.
    [[nodiscard]] bool Hold(const MqttReading& reading);
    bool WriteHeld(QString* error);
    // The newest reading written; none in a new outbox.
    std::optional<MqttReading> NewestWritten() const;
    // The broker has every reading up to seq.
    void Acknowledge(std::uint64_t seq);
    // Writes what is held and the acknowledged seq now (at a clean stop).
    bool Flush(QString* error);

    // Gives up the readings taken before the cutoff that the broker never
    // acknowledged, so that an outbox cannot fill the disk while a broker
    // stays away: whole segments, oldest first, once their newest reading
    // is older. The journal still holds them. Says what went.
    struct Dropped {
        std::uint64_t count = 0;
        QDateTime newest; // the time of the newest reading given up
    };
    Dropped DropOlderThan(const QDateTime& cutoff);

    std::vector<MqttReading> ReadingsAfter(std::uint64_t afterSeq, int maxCount) override;

    int SegmentCount() const { return static_cast<int>(segments_.size()); }
    const QString& Folder() const { return folder_; }

    // One reading as a line of the segments (without the line end), and back.
    static QByteArray Encode(const MqttReading& reading);
    static std::optional<MqttReading> Decode(const QByteArray& line);

private:
    struct Segment {
        std::uint64_t first = 0;
        QString path;
        QDateTime newest; // its newest reading's time, once read
    };

    QString SegmentPath(std::uint64_t first) const;
    // The readings of a segment file, up to the first line that does not
    // decode; *validBytes is where that line starts.
    static std::vector<MqttReading> ReadSegment(const QString& path, qint64* validBytes);
    bool StartSegment(std::uint64_t first, QString* error);
    void DropAcknowledgedSegments();
    bool WriteState(QString* error);

    QString folder_;
    int segmentReadings_;
    std::vector<Segment> segments_;   // oldest first; the last one is appended to
    std::vector<MqttReading> active_; // the readings of the last segment
    std::deque<MqttReading> held_;    // after them, not written yet
    platform::LineFile activeFile_;
    // The older segment read last, for a publisher working through a backlog.
    std::uint64_t cachedFirst_ = 0;
    std::vector<MqttReading> cached_;
    std::uint64_t lastSeq_ = 0;
    std::uint64_t ackedSeq_ = 0;
    std::uint64_t writtenAckedSeq_ = 0;
    QElapsedTimer sinceStateWrite_;
};

} // namespace korvinet::mqtt
