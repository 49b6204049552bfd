#include "device/text_line_counter.h"

#include "device/serial_kinds.h"
#include "platform/clock.h"

#include <QList>

namespace korvinet::device {

namespace {

// A whole number as the kit prints it: digits only, at most `limit` (its
// counts per second are a 16-bit counter; its CPM in INST mode is 60 times
// that).
std::optional<std::uint32_t> Count(QByteArrayView field, std::uint64_t limit = 65535) {
    if (field.isEmpty() || field.size() > 9)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : field) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value <= limit ? std::optional(static_cast<std::uint32_t>(value)) : std::nullopt;
}

// The dose as the kit prints it: digits, a point, two digits.
bool Dose(QByteArrayView field) {
    const qsizetype point = field.indexOf('.');
    return point > 0 && Count(field.first(point)) && field.size() - point == 3 &&
           Count(field.sliced(point + 1));
}

} // namespace

std::optional<std::uint32_t> TextLineDecoder::ReadLine(QByteArrayView line) {
    QList<QByteArrayView> fields;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == ',') {
            fields.append(line.sliced(start, i - start).trimmed());
            start = i + 1;
        }
    }
    if (fields.size() != 7 || fields[0] != "CPS" || fields[2] != "CPM" || fields[4] != "uSv/hr")
        return std::nullopt;
    if (!Count(fields[3], 65535ull * 60) || !Dose(fields[5]))
        return std::nullopt;
    if (fields[6] != "SLOW" && fields[6] != "FAST" && fields[6] != "INST")
        return std::nullopt;
    return Count(fields[1]);
}

void TextLineDecoder::Feed(const char* data, int size) {
    for (int i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\n' || c == '\r') {
            EndLine();
        } else if (line_.size() >= kMaxLine) {
            overlong_ = true;
        } else {
            line_ += c;
        }
    }
}

void TextLineDecoder::EndLine() {
    const bool first = !synced_;
    synced_ = true;
    if (line_.isEmpty() && !overlong_)
        return; // the other half of CR LF
    const std::optional<std::uint32_t> cps =
        overlong_ ? std::nullopt : ReadLine(QByteArrayView(line_));
    line_.clear();
    overlong_ = false;
    if (cps) {
        taken_.counts += *cps;
        ++taken_.lines;
        ++linesRead_;
    } else if (!first) {
        ++skipped_;
    }
}

TextLineDecoder::Taken TextLineDecoder::Take() {
    const Taken taken = taken_;
    taken_ = {};
    return taken;
}

void TextLineDecoder::Restart() {
    line_.clear();
    overlong_ = false;
    synced_ = false;
    taken_ = {};
}

TextLineCounter::TextLineCounter(SerialPortEntry port, int baud, const platform::Clock& clock)
    : port_(std::move(port)), baud_(baud > 0 ? baud : kBaud), clock_(clock) {}

CounterDevice::OpenResult TextLineCounter::Open(QString* error) {
    const auto feed = [this](const std::uint8_t* data, int size) {
        std::lock_guard lock(mutex_);
        decoder_.Feed(reinterpret_cast<const char*>(data), size);
    };
    if (!link_.Open(port_.path, baud_, feed, error))
        return OpenResult::NotOpened;
    facts_ = SerialCounterFacts(port_, kTextLineKind);
    if (!Restart()) {
        link_.Close();
        *error = SerialPortLostText(port_);
        return OpenResult::Closed;
    }
    return OpenResult::Opened;
}

bool TextLineCounter::Restart() {
    if (!link_.Purge())
        return false;
    std::lock_guard lock(mutex_);
    decoder_.Restart();
    lastLineTick_ = clock_.TickCount();
    return true;
}

bool TextLineCounter::Sample(CounterSample* sample, QString* why) {
    if (link_.Lost()) {
        *why = SerialPortLostText(port_);
        return false;
    }
    TextLineDecoder::Taken taken;
    {
        std::lock_guard lock(mutex_);
        taken = decoder_.Take();
    }
    const std::uint32_t now = clock_.TickCount();
    if (taken.lines > 0) {
        lastLineTick_ = now;
    } else if (now - lastLineTick_ >= kSilenceMs) {
        *why = QStringLiteral("No line from the counter on %1 for %2 seconds")
                   .arg(port_.path)
                   .arg((now - lastLineTick_) / 1000);
        return false;
    }
    sample->counts = taken.counts;
    sample->ms = taken.lines * kLineMs;
    return true;
}

bool TextLineCounter::Close() {
    link_.Close();
    return true;
}

CounterLinkStatus TextLineCounter::LinkStatus() const {
    std::lock_guard lock(mutex_);
    return {link_.Received(), decoder_.LinesRead(), decoder_.LinesSkipped()};
}

} // namespace korvinet::device
