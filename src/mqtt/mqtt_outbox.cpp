#include "mqtt/mqtt_outbox.h"

#include "platform/datetime.h"
#include "platform/file_replace.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <algorithm>

namespace korvinet::mqtt {

namespace {

const QString kStateFile = QStringLiteral("outbox.state");

std::optional<std::uint64_t> ParseSeq(const QString& text) {
    bool ok = false;
    const qulonglong value = text.trimmed().toULongLong(&ok);
    return ok ? std::optional<std::uint64_t>(value) : std::nullopt;
}

} // namespace

DiskOutbox::DiskOutbox(QString folder, int segmentReadings)
    : folder_(std::move(folder)), segmentReadings_(std::max(1, segmentReadings)) {}

DiskOutbox::~DiskOutbox() {
    QString ignored;
    Flush(&ignored);
}

QString DiskOutbox::SegmentPath(std::uint64_t first) const {
    return folder_ + QStringLiteral("/segment-%1.jsonl").arg(first, 20, 10, QLatin1Char('0'));
}

QByteArray DiskOutbox::Encode(const MqttReading& r) {
    QJsonObject o;
    o.insert(QStringLiteral("seq"), QString::number(r.seq));
    o.insert(QStringLiteral("time"), platform::IsoLocalTimeText(r.time, true));
    o.insert(QStringLiteral("value"), r.value);
    o.insert(QStringLiteral("unit"), r.unitCode);
    o.insert(QStringLiteral("cpm"), r.cpm);
    o.insert(QStringLiteral("counts"), static_cast<qint64>(r.counts));
    o.insert(QStringLiteral("interval_ms"), static_cast<qint64>(r.intervalMs));
    o.insert(QStringLiteral("alarm"), r.alarm);
    if (!r.fault.isEmpty())
        o.insert(QStringLiteral("fault"), r.fault);
    if (r.ciLow)
        o.insert(QStringLiteral("ci_low"), *r.ciLow);
    if (r.ciHigh)
        o.insert(QStringLiteral("ci_high"), *r.ciHigh);
    if (!r.health.isEmpty())
        o.insert(QStringLiteral("health"), r.health);
    if (r.healthStatistic)
        o.insert(QStringLiteral("health_statistic"), *r.healthStatistic);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<MqttReading> DiskOutbox::Decode(const QByteArray& line) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    MqttReading r;
    const auto seq = ParseSeq(o.value(QStringLiteral("seq")).toString());
    r.time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    if (!seq || *seq == 0 || !r.time.isValid() || !o.value(QStringLiteral("value")).isDouble())
        return std::nullopt;
    // Back to local time, as the station hands readings to the publisher.
    r.time = r.time.toLocalTime();
    r.seq = *seq;
    r.value = o.value(QStringLiteral("value")).toDouble();
    r.unitCode = static_cast<std::uint8_t>(o.value(QStringLiteral("unit")).toInt(2));
    r.cpm = o.value(QStringLiteral("cpm")).toDouble();
    r.counts = static_cast<std::uint32_t>(o.value(QStringLiteral("counts")).toInteger());
    r.intervalMs = static_cast<std::uint32_t>(o.value(QStringLiteral("interval_ms")).toInteger());
    r.alarm = o.value(QStringLiteral("alarm")).toBool();
    r.fault = o.value(QStringLiteral("fault")).toString();
    if (o.contains(QStringLiteral("ci_low")))
        r.ciLow = o.value(QStringLiteral("ci_low")).toDouble();
    if (o.contains(QStringLiteral("ci_high")))
        r.ciHigh = o.value(QStringLiteral("ci_high")).toDouble();
    r.health = o.value(QStringLiteral("health")).toString();
    if (o.contains(QStringLiteral("health_statistic")))
        r.healthStatistic = o.value(QStringLiteral("health_statistic")).toDouble();
    return r;
}

std::vector<MqttReading> DiskOutbox::ReadSegment(const QString& path, qint64* validBytes) {
    std::vector<MqttReading> readings;
    *validBytes = 0;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return readings;
    const QByteArray bytes = file.readAll();
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', at);
        if (end < 0)
            break; // a line the process did not finish
        const auto reading = Decode(bytes.mid(at, end - at));
        if (!reading || (!readings.empty() && reading->seq != readings.back().seq + 1))
            break;
        readings.push_back(*reading);
        at = end + 1;
    }
    *validBytes = at;
    return readings;
}

bool DiskOutbox::Open(QString* error) {
    if (!QDir().mkpath(folder_)) {
        *error = QStringLiteral("cannot make the outbox folder %1").arg(folder_);
        return false;
    }
    // The journal folder's lock keeps every other station out of here.
    platform::RemoveLeftoverReplacements(folder_ + QLatin1Char('/') + kStateFile);
    QFile state(folder_ + QLatin1Char('/') + kStateFile);
    if (state.open(QIODevice::ReadOnly)) {
        const QString text = QString::fromUtf8(state.readAll()).trimmed();
        if (text.startsWith(QLatin1String("acked ")))
            ackedSeq_ = ParseSeq(text.mid(6)).value_or(0);
    }
    writtenAckedSeq_ = ackedSeq_;
    lastSeq_ = ackedSeq_;

    static const QRegularExpression kName(QStringLiteral("^segment-(\\d{20})\\.jsonl$"));
    const QStringList names =
        QDir(folder_).entryList({QStringLiteral("segment-*.jsonl")}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        const QRegularExpressionMatch m = kName.match(name);
        const auto first = m.hasMatch() ? ParseSeq(m.captured(1)) : std::nullopt;
        if (first && *first > 0)
            segments_.push_back({*first, folder_ + QLatin1Char('/') + name, {}});
    }

    // Only the newest segment is read now: the others are complete, and the
    // publisher reads them when it gets there.
    while (!segments_.empty()) {
        qint64 valid = 0;
        active_ = ReadSegment(segments_.back().path, &valid);
        if (!active_.empty() && active_.front().seq == segments_.back().first) {
            QFile torn(segments_.back().path);
            if (torn.size() != valid && !torn.resize(valid)) {
                *error =
                    QStringLiteral("cannot repair %1: %2").arg(torn.fileName(), torn.errorString());
                return false;
            }
            break;
        }
        // Nothing usable (the process died writing its first line): as if
        // the segment had never been started.
        QFile::remove(segments_.back().path);
        segments_.pop_back();
        active_.clear();
    }
    if (!active_.empty())
        lastSeq_ = std::max(lastSeq_, active_.back().seq);
    if (!segments_.empty() && !activeFile_.Open(segments_.back().path)) {
        *error = QStringLiteral("cannot open %1: %2").arg(activeFile_.Path(), activeFile_.Error());
        return false;
    }
    DropAcknowledgedSegments();
    sinceStateWrite_.start();
    return true;
}

bool DiskOutbox::StartSegment(std::uint64_t first, QString* error) {
    const QString path = SegmentPath(first);
    if (!activeFile_.Open(path) || (activeFile_.Size() > 0 && !activeFile_.Clear())) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, activeFile_.Error());
        activeFile_.Close();
        return false;
    }
    // One that could not be written to before is started again.
    if (segments_.empty() || segments_.back().first != first)
        segments_.push_back({first, path, {}});
    active_.clear();
    return true;
}

bool DiskOutbox::Hold(const MqttReading& reading) {
    if (reading.seq != lastSeq_ + 1)
        return false;
    held_.push_back(reading);
    lastSeq_ = reading.seq;
    if (held_.size() > kMostHeld)
        held_.pop_front();
    return true;
}

bool DiskOutbox::Add(const MqttReading& reading, QString* error) {
    if (!Hold(reading)) {
        *error = QStringLiteral("reading %1 out of order after %2").arg(reading.seq).arg(lastSeq_);
        return false;
    }
    return WriteHeld(error);
}

bool DiskOutbox::WriteHeld(QString* error) {
    while (!held_.empty()) {
        // Held readings the broker has had are gone from the front: what
        // follows a gap starts a segment of its own, as a segment's lines
        // run without one.
        const std::uint64_t first = held_.front().seq;
        const bool follows =
            !segments_.empty() && activeFile_.IsOpen() &&
            static_cast<int>(active_.size()) < segmentReadings_ &&
            (active_.empty() ? segments_.back().first == first : active_.back().seq + 1 == first);
        if (!follows && !StartSegment(first, error))
            return false;
        const auto count =
            std::min(held_.size(), static_cast<std::size_t>(segmentReadings_) - active_.size());
        QByteArray lines;
        for (std::size_t i = 0; i < count; ++i)
            lines += Encode(held_[i]) + '\n';
        // A partial line would hide every later one: Append takes it back.
        if (!activeFile_.Append(lines)) {
            *error =
                QStringLiteral("cannot write %1: %2").arg(activeFile_.Path(), activeFile_.Error());
            return false;
        }
        active_.insert(active_.end(), held_.begin(), held_.begin() + count);
        held_.erase(held_.begin(), held_.begin() + count);
    }
    return true;
}

std::optional<MqttReading> DiskOutbox::NewestWritten() const {
    return active_.empty() ? std::nullopt : std::optional<MqttReading>(active_.back());
}

void DiskOutbox::DropAcknowledgedSegments() {
    bool dropped = false;
    // A segment ends where the next begins; the newest is never dropped.
    while (segments_.size() > 1 && segments_[1].first - 1 <= ackedSeq_) {
        QFile::remove(segments_.front().path);
        if (cachedFirst_ == segments_.front().first) {
            cachedFirst_ = 0;
            cached_.clear();
        }
        segments_.erase(segments_.begin());
        dropped = true;
    }
    if (dropped)
        platform::SyncFolder(folder_);
}

void DiskOutbox::Acknowledge(std::uint64_t seq) {
    if (seq <= ackedSeq_)
        return;
    ackedSeq_ = seq;
    while (!held_.empty() && held_.front().seq <= seq)
        held_.pop_front();
    const std::size_t before = segments_.size();
    // The state is written before a segment goes, so that a restart never
    // looks for readings in a segment that is gone.
    if (segments_.size() > 1 && segments_[1].first - 1 <= ackedSeq_) {
        QString ignored;
        if (!WriteState(&ignored))
            return;
    }
    DropAcknowledgedSegments();
    if (segments_.size() == before && sinceStateWrite_.elapsed() >= kStateWriteIntervalMs) {
        QString ignored;
        WriteState(&ignored);
    }
}

bool DiskOutbox::WriteState(QString* error) {
    sinceStateWrite_.restart();
    if (ackedSeq_ == writtenAckedSeq_)
        return true;
    const QString path = folder_ + QLatin1Char('/') + kStateFile;
    if (!platform::ReplaceFileContents(path,
                                       QStringLiteral("acked %1\n").arg(ackedSeq_).toUtf8())) {
        *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    writtenAckedSeq_ = ackedSeq_;
    return true;
}

bool DiskOutbox::Flush(QString* error) {
    return WriteHeld(error) && WriteState(error);
}

DiskOutbox::Dropped DiskOutbox::DropOlderThan(const QDateTime& cutoff) {
    Dropped dropped;
    // The newest segment is being written and never goes; a segment goes
    // when its newest reading is older than the cutoff.
    while (segments_.size() > 1) {
        Segment& oldest = segments_.front();
        if (!oldest.newest.isValid()) {
            qint64 valid = 0;
            const std::vector<MqttReading> readings = ReadSegment(oldest.path, &valid);
            // Unreadable: its age is unknown, and what follows it is kept.
            if (readings.empty())
                break;
            oldest.newest = readings.back().time;
        }
        if (oldest.newest >= cutoff)
            break;
        const std::uint64_t through = segments_[1].first - 1;
        if (through > ackedSeq_) {
            dropped.count += through - ackedSeq_;
            ackedSeq_ = through;
        }
        dropped.newest = oldest.newest;
        QString ignored;
        if (!WriteState(&ignored))
            break;
        DropAcknowledgedSegments();
    }
    return dropped;
}

std::vector<MqttReading> DiskOutbox::ReadingsAfter(std::uint64_t afterSeq, int maxCount) {
    std::vector<MqttReading> out;
    for (std::size_t i = 0; i < segments_.size() && static_cast<int>(out.size()) < maxCount; ++i) {
        const bool newest = i + 1 == segments_.size();
        if (!newest && segments_[i + 1].first - 1 <= afterSeq)
            continue;
        const std::vector<MqttReading>* readings = &active_;
        if (!newest) {
            if (cachedFirst_ != segments_[i].first) {
                qint64 valid = 0;
                cached_ = ReadSegment(segments_[i].path, &valid);
                cachedFirst_ = segments_[i].first;
            }
            readings = &cached_;
        }
        for (const MqttReading& r : *readings) {
            if (r.seq <= afterSeq)
                continue;
            if (static_cast<int>(out.size()) >= maxCount)
                break;
            // A segment that could not be read in full ends the batch here
            // rather than leave a gap: the publisher asks again later.
            if (!out.empty() && r.seq != out.back().seq + 1)
                return out;
            out.push_back(r);
        }
        if (!newest && !out.empty() && out.back().seq != segments_[i + 1].first - 1)
            return out;
    }
    for (const MqttReading& r : held_) {
        if (static_cast<int>(out.size()) >= maxCount)
            break;
        if (r.seq <= afterSeq)
            continue;
        if (!out.empty() && r.seq != out.back().seq + 1)
            break;
        out.push_back(r);
    }
    return out;
}

} // namespace korvinet::mqtt
