#include "device/gmc_counter.h"

#include "device/serial_kinds.h"
#include "platform/clock.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace korvinet::device {

namespace {

// <GETVER>> has no stated length (14 bytes in RFC1201, more for "GMC-600+"):
// it is whole once the counter has said nothing more for this long.
constexpr int kVersionQuietMs = 80;
constexpr int kReplyMs = 1000;

QByteArray Command(const char* name) {
    return QByteArray("<") + name + ">>";
}

// Stops the heartbeat a previous program may have left on, so what comes
// next is a reply.
bool Quieten(SerialExchange& exchange) {
    return exchange.Send(Command("HEARTBEAT0")) && exchange.Settle(150);
}

std::optional<QString> AskVersion(SerialExchange& exchange) {
    if (!Quieten(exchange))
        return std::nullopt;
    QByteArray reply;
    if (exchange.AskUntilQuiet(Command("GETVER"), 7, kVersionQuietMs, 500, &reply) !=
        SerialExchange::Answer::Replied)
        return std::nullopt;
    return GmcReplies::Model(reply);
}

} // namespace

std::optional<QString> GmcReplies::Model(QByteArrayView version) {
    if (!version.startsWith("GMC-"))
        return std::nullopt;
    const qsizetype re = version.indexOf("Re");
    const QByteArrayView model =
        version.first(re > 4 ? re : std::min<qsizetype>(7, version.size()));
    for (const char c : model)
        if (c < ' ' || c > '~')
            return std::nullopt;
    return QString::fromLatin1(model.trimmed());
}

GmcVersion GmcReplies::VersionOf(const QString& model) {
    bool number = false;
    const int series = model.mid(4, 3).toInt(&number);
    return number && series >= 500 ? GmcVersion::Rfc1801 : GmcVersion::Rfc1201;
}

std::uint32_t GmcReplies::HeartbeatCount(GmcVersion version, QByteArrayView word) {
    std::uint32_t value = 0;
    for (const char c : word)
        value = value << 8 | static_cast<std::uint8_t>(c);
    return version == GmcVersion::Rfc1201 ? value & 0x3fff : value;
}

std::optional<double> GmcReplies::Sensitivity(GmcVersion version, QByteArrayView config) {
    for (const qsizetype at : {8, 14, 20}) {
        if (config.size() < at + 6)
            return std::nullopt;
        const auto byte = [&](qsizetype i) { return static_cast<std::uint8_t>(config[at + i]); };
        const int cpm = byte(0) << 8 | byte(1);
        std::uint32_t bits = 0;
        for (int i = 0; i < 4; ++i)
            bits = version == GmcVersion::Rfc1801 ? bits << 8 | byte(2 + i)
                                                  : bits | std::uint32_t(byte(2 + i)) << (8 * i);
        const float microsievert = std::bit_cast<float>(bits);
        if (cpm > 0 && std::isfinite(microsievert) && microsievert > 0.0f) {
            const double sensitivity = cpm / static_cast<double>(microsievert);
            if (sensitivity >= 1.0 && sensitivity <= 1e5)
                return sensitivity;
        }
    }
    return std::nullopt;
}

std::optional<QString> GmcCounter::Recognise(const SerialPortEntry& port) {
    for (const int baud : {kBaud, kOtherBaud}) {
        SerialExchange exchange;
        QString error;
        if (!exchange.Open(port.path, baud, {}, &error))
            return std::nullopt;
        const std::optional<QString> model = AskVersion(exchange);
        exchange.Close();
        if (model)
            return QStringLiteral("GQ ") + *model;
    }
    return std::nullopt;
}

GmcCounter::GmcCounter(SerialPortEntry port, int baud, const platform::Clock& clock)
    : port_(std::move(port)), baud_(baud), clock_(clock) {}

void GmcCounter::Heard(const char* data, int size) {
    std::lock_guard lock(mutex_);
    const int width = GmcReplies::HeartbeatBytes(version_);
    for (int i = 0; i < size; ++i) {
        word_ += data[i];
        if (word_.size() == width) {
            counts_ += GmcReplies::HeartbeatCount(version_, word_);
            ++beats_;
            ++beatsRead_;
            word_.clear();
        }
    }
}

SerialExchange::Answer GmcCounter::AskBytes(QByteArrayView command, qsizetype bytes, int idleMs,
                                            QByteArray* reply) {
    const SerialExchange::Answer answer = exchange_.Ask(
        command, [bytes](QByteArrayView received) { return received.size() >= bytes ? bytes : 0; },
        idleMs, reply);
    return answer;
}

CounterDevice::OpenResult GmcCounter::Open(QString* error) {
    std::optional<QString> model;
    const auto stream = [this](const char* data, int size) { Heard(data, size); };
    for (const int baud : {baud_ > 0 ? baud_ : kBaud, baud_ > 0 ? 0 : kOtherBaud}) {
        if (baud == 0)
            break;
        if (!exchange_.Open(port_.path, baud, stream, error))
            return OpenResult::NotOpened;
        model = AskVersion(exchange_);
        if (model)
            break;
        exchange_.Close();
    }
    const auto fail = [&](const QString& why) {
        exchange_.Close();
        *error = why;
        return OpenResult::Closed;
    };
    if (!model) {
        *error = QStringLiteral("No GQ GMC counter answers on %1").arg(port_.path);
        return OpenResult::Closed;
    }
    {
        std::lock_guard lock(mutex_); // the heartbeat's width, read as bytes arrive
        version_ = GmcReplies::VersionOf(*model);
    }
    facts_ = SerialCounterFacts(port_, kGmcKind);
    facts_.model = QStringLiteral("GQ ") + *model;

    QByteArray reply;
    const auto silent = [&](const char* what) {
        return exchange_.Lost() ? SerialPortLostText(port_)
                                : QStringLiteral("The counter on %1 did not answer <%2>>")
                                      .arg(port_.path, QLatin1String(what));
    };
    if (AskBytes(Command("GETSERIAL"), 7, kReplyMs, &reply) != SerialExchange::Answer::Replied)
        return fail(silent("GETSERIAL"));
    // Its serial number is binary, and told with the model; the port's
    // identity, as the list found it, stays the one it is looked for by
    // when it is plugged in again.
    facts_.model += QStringLiteral(", serial ") + QString::fromLatin1(reply.toHex().toUpper());

    const qsizetype configBytes = version_ == GmcVersion::Rfc1201 ? 256 : 512;
    if (AskBytes(Command("GETCFG"), configBytes, kReplyMs, &reply) !=
        SerialExchange::Answer::Replied)
        return fail(silent("GETCFG"));
    calibration_.reset();
    if (const std::optional<double> sensitivity = GmcReplies::Sensitivity(version_, reply))
        calibration_ = CounterCalibration{*sensitivity * 10.0, 0.0, QStringLiteral("GMC")};

    if (!Restart())
        return fail(SerialPortLostText(port_));
    return OpenResult::Opened;
}

bool GmcCounter::Heartbeat(bool on) {
    if (!on)
        return Quieten(exchange_);
    {
        std::lock_guard lock(mutex_);
        word_.clear();
        counts_ = beats_ = 0;
        lastBeatTick_ = clock_.TickCount();
    }
    return exchange_.Send(Command("HEARTBEAT1"));
}

bool GmcCounter::Restart() {
    // Off and on again: the heartbeat's words then start with the first byte.
    return Heartbeat(false) && Heartbeat(true);
}

bool GmcCounter::Sample(CounterSample* sample, QString* why) {
    if (exchange_.Lost()) {
        *why = SerialPortLostText(port_);
        return false;
    }
    std::lock_guard lock(mutex_);
    const std::uint32_t now = clock_.TickCount();
    if (beats_ > 0) {
        lastBeatTick_ = now;
    } else if (now - lastBeatTick_ >= kSilenceMs) {
        *why = QStringLiteral("No count from the counter on %1 for %2 seconds")
                   .arg(port_.path)
                   .arg((now - lastBeatTick_) / 1000);
        return false;
    }
    sample->counts = counts_;
    sample->ms = beats_ * 1000;
    counts_ = beats_ = 0;
    return true;
}

bool GmcCounter::Close() {
    (void)exchange_.Send(Command("HEARTBEAT0"));
    exchange_.Close();
    return true;
}

CounterLinkStatus GmcCounter::LinkStatus() const {
    std::lock_guard lock(mutex_);
    return {exchange_.Received(), beatsRead_, 0};
}

} // namespace korvinet::device
