#pragma once

#include "net/mqtt_outbox.h"

#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace korvinet::station {

// The station's readings waiting for the broker, kept on disk so that none is
// lost while the broker is away, across a restart of the station or a power
// cut. The folder (<journal>/mqtt/<SERIAL>/) holds append-only segments of
// JSON lines, "segment-<first seq>.jsonl", each reading synced to disk as it
// is added, and "outbox.state" with the last seq the broker acknowledged,
// replaced atomically. A segment whose readings are all acknowledged is
// deleted once a newer one has started.
//
// The acknowledged seq is written at most once a second (and at Flush), so a
// crash may send a few readings twice; a consumer sees a seq twice, never a
// gap. The seq of the next reading continues after the highest one kept
// here, so it increases across restarts.
class DiskOutbox final : public net::PendingSource {
public:
    static constexpr int kSegmentReadings = 1000;
    static constexpr int kStateWriteIntervalMs = 1000;

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
    // disk. False with a reason when it could not be kept.
    [[nodiscard]] bool Add(const net::MqttReading& reading, QString* error);
    // The broker has every reading up to seq.
    void Acknowledge(std::uint64_t seq);
    // Writes the acknowledged seq now (at a clean stop).
    bool Flush(QString* error);

    std::vector<net::MqttReading> ReadingsAfter(std::uint64_t afterSeq, int maxCount) override;

    int SegmentCount() const { return static_cast<int>(segments_.size()); }
    const QString& Folder() const { return folder_; }

    // One reading as a line of the segments (without the line end), and back.
    static QByteArray Encode(const net::MqttReading& reading);
    static std::optional<net::MqttReading> Decode(const QByteArray& line);

private:
    struct Segment {
        std::uint64_t first = 0;
        QString path;
    };

    QString SegmentPath(std::uint64_t first) const;
    // The readings of a segment file, up to the first line that does not
    // decode; *validBytes is where that line starts.
    static std::vector<net::MqttReading> ReadSegment(const QString& path, qint64* validBytes);
    bool StartSegment(std::uint64_t first, QString* error);
    void DropAcknowledgedSegments();
    bool WriteState(QString* error);

    QString folder_;
    int segmentReadings_;
    std::vector<Segment> segments_;        // oldest first; the last one is appended to
    std::vector<net::MqttReading> active_; // the readings of the last segment
    QFile activeFile_;
    // The older segment read last, for a publisher working through a backlog.
    std::uint64_t cachedFirst_ = 0;
    std::vector<net::MqttReading> cached_;
    std::uint64_t lastSeq_ = 0;
    std::uint64_t ackedSeq_ = 0;
    std::uint64_t writtenAckedSeq_ = 0;
    QElapsedTimer sinceStateWrite_;
};

} // namespace korvinet::station
