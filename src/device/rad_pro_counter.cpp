#include "device/rad_pro_counter.h"

#include "device/serial_kinds.h"
#include "platform/clock.h"

#include <QList>
#include <charconv>

namespace korvinet::device {

namespace {

// A recognition asks once and briefly: a port that is no Rad Pro counter
// may be anything.
constexpr int kRecogniseMs = 500;
// The data log comes a few records at a time as the firmware finds time to
// send them; it is whole at its line end.
constexpr int kDatalogIdleMs = 3000;
// The longest interval between two records of one session the log is read
// across: an interval is known only from the record before it, so the read
// starts this long before the first interval wanted.
constexpr std::int64_t kLookBackS = 3600;
// A dead time no Geiger-Müller tube has: the device's measured upper bound
// is that large until it has seen pulses close together.
constexpr double kMaxDeadTime = 0.001;

template <typename T> std::optional<T> Number(QByteArrayView text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value);
    if (text.isEmpty() || ec != std::errc() || at != end)
        return std::nullopt;
    return value;
}

QList<QByteArrayView> Split(QByteArrayView text, char separator) {
    QList<QByteArrayView> parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == separator) {
            parts.append(text.sliced(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

QByteArray Request(QByteArrayView what) {
    return QByteArrayLiteral("GET ") + what.toByteArray() + QByteArrayLiteral("\r\n");
}

} // namespace

std::optional<QByteArrayView> RadProCounter::Value(QByteArrayView line) {
    line = SerialExchange::Line(line);
    if (line == "OK")
        return QByteArrayView();
    if (!line.startsWith("OK "))
        return std::nullopt;
    return line.sliced(3);
}

std::optional<RadProCounter::Identity> RadProCounter::ReadIdentity(QByteArrayView value) {
    const QList<QByteArrayView> parts = Split(value, ';');
    if (parts.size() != 3 || parts[0].trimmed().isEmpty() || parts[2].trimmed().isEmpty())
        return std::nullopt;
    for (const QByteArrayView part : parts)
        for (const char c : part)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e)
                return std::nullopt;
    return Identity{QString::fromLatin1(parts[0].trimmed()),
                    QString::fromLatin1(parts[1].trimmed()),
                    QString::fromLatin1(parts[2].trimmed())};
}

QString RadProCounter::Model(const QString& hardware) {
    const qsizetype bracket = hardware.indexOf(QLatin1String(" ("));
    return bracket > 0 ? hardware.first(bracket) : hardware;
}

bool RadProCounter::ReadDatalog(QByteArrayView value, std::int64_t sinceMs,
                                std::vector<MemoryRecord>* records) {
    const QList<QByteArrayView> entries = Split(value, ';');
    const QList<QByteArrayView> header = Split(entries.front(), ',');
    const qsizetype timeAt = header.indexOf("time");
    const qsizetype countAt = header.indexOf("tubePulseCount");
    if (timeAt < 0 || countAt < 0)
        return false;
    struct Entry {
        std::int64_t time;
        std::uint32_t count;
    };
    Entry previous{0, 0};
    bool inSession = false; // a record before this one in its session
    for (qsizetype i = 1; i < entries.size(); ++i) {
        if (entries[i].isEmpty()) {
            inSession = false;
            continue;
        }
        const QList<QByteArrayView> fields = Split(entries[i], ',');
        if (fields.size() != header.size())
            return false;
        const std::optional<std::uint32_t> time = Number<std::uint32_t>(fields[timeAt]);
        const std::optional<std::uint32_t> count = Number<std::uint32_t>(fields[countAt]);
        if (!time || !count)
            return false;
        const Entry entry{*time, *count};
        // A clock set back or far forward within a session breaks it too:
        // the counts between are of no known interval.
        if (inSession && entry.time > previous.time && entry.time - previous.time <= kLookBackS) {
            MemoryRecord record;
            record.endMs = entry.time * 1000;
            record.ms = static_cast<std::uint32_t>((entry.time - previous.time) * 1000);
            record.counts = entry.count - previous.count; // across the 2^32 wrap
            if (record.endMs > sinceMs)
                records->push_back(record);
        }
        previous = entry;
        inSession = true;
    }
    return true;
}

std::optional<QString> RadProCounter::Recognise(const SerialPortEntry& port) {
    SerialExchange exchange;
    QString error;
    if (!exchange.Open(port.path, kBaud, {}, &error))
        return std::nullopt;
    QByteArray reply;
    std::optional<QString> name;
    if (exchange.Ask(Request("deviceId"), SerialExchange::LineLength, kRecogniseMs, &reply) ==
        SerialExchange::Answer::Replied)
        if (const std::optional<QByteArrayView> value = Value(reply))
            if (const std::optional<Identity> identity = ReadIdentity(*value))
                name = QStringLiteral("Rad Pro ") + Model(identity->hardware);
    exchange.Close();
    return name;
}

RadProCounter::RadProCounter(SerialPortEntry port, int baud, const platform::Clock& clock)
    : port_(std::move(port)), baud_(baud > 0 ? baud : kBaud), clock_(clock) {}

std::optional<QByteArray> RadProCounter::Get(QByteArrayView what, int idleMs, QString* why) {
    QByteArray reply;
    switch (exchange_.Ask(Request(what), SerialExchange::LineLength, idleMs, &reply)) {
    case SerialExchange::Answer::Lost:
        *why = SerialPortLostText(port_);
        return std::nullopt;
    case SerialExchange::Answer::Silent:
        *why = QStringLiteral("The counter on %1 did not answer GET %2")
                   .arg(port_.path, QString::fromLatin1(what));
        return std::nullopt;
    case SerialExchange::Answer::Replied:
        break;
    }
    ++replies_;
    if (const std::optional<QByteArrayView> value = Value(reply))
        return value->toByteArray();
    if (SerialExchange::Line(reply) == "ERROR")
        why->clear();
    else
        *why = QStringLiteral("The counter on %1 answered GET %2 with what does not read")
                   .arg(port_.path, QString::fromLatin1(what));
    return std::nullopt;
}

std::optional<double> RadProCounter::GetNumber(QByteArrayView what, QString* why) {
    const std::optional<QByteArray> value = Get(what, kReplyMs, why);
    if (!value)
        return std::nullopt;
    const std::optional<double> number = Number<double>(*value);
    if (!number)
        *why = QStringLiteral("The counter on %1 answered GET %2 with what does not read")
                   .arg(port_.path, QString::fromLatin1(what));
    return number;
}

CounterDevice::OpenResult RadProCounter::Open(QString* error) {
    if (!exchange_.Open(port_.path, baud_, {}, error))
        return OpenResult::NotOpened;
    const auto fail = [&](const QString& why) {
        exchange_.Close();
        *error = why;
        return OpenResult::Closed;
    };
    QString why;
    const std::optional<QByteArray> id = Get("deviceId", kReplyMs, &why);
    const std::optional<Identity> identity = id ? ReadIdentity(*id) : std::nullopt;
    if (!identity)
        return fail(why.isEmpty()
                        ? QStringLiteral("No Rad Pro counter answers on %1").arg(port_.path)
                        : why);
    facts_ = SerialCounterFacts(port_, kRadProKind);
    facts_.model = identity->hardware;
    if (!identity->software.isEmpty())
        facts_.model += QStringLiteral(", ") + identity->software;
    facts_.model += QStringLiteral(", device ") + identity->deviceId;
    // The port's identity stays the counter's, as the list found it: the
    // one it is looked for by when it is plugged in again.

    // Releases before 2.0 call the sensitivity the conversion factor.
    std::optional<double> sensitivity = GetNumber("tubeSensitivity", &why);
    if (!sensitivity && why.isEmpty())
        sensitivity = GetNumber("tubeConversionFactor", &why);
    if (!sensitivity && !why.isEmpty())
        return fail(why);
    const std::optional<double> compensation = GetNumber("tubeDeadTimeCompensation", &why);
    if (!compensation && !why.isEmpty())
        return fail(why);
    double deadTime = compensation.value_or(0.0);
    if (deadTime <= 0.0) {
        const std::optional<double> measured = GetNumber("tubeDeadTime", &why);
        if (!measured && !why.isEmpty())
            return fail(why);
        const double bound = measured.value_or(0.0);
        deadTime = bound > 0.0 && bound <= kMaxDeadTime ? bound : 0.0;
    }
    calibration_.reset();
    if (sensitivity && *sensitivity > 0.0)
        calibration_ = CounterCalibration{*sensitivity * 10.0, deadTime, QStringLiteral("Rad Pro")};

    // The device's clock against ours, halfway through the question.
    const std::int64_t before = ComputerUtcMs(clock_);
    const std::optional<double> deviceTime = GetNumber("deviceTime", &why);
    if (!deviceTime)
        return fail(why.isEmpty()
                        ? QStringLiteral("The counter on %1 tells no time").arg(port_.path)
                        : why);
    const std::int64_t after = ComputerUtcMs(clock_);
    clockOffsetMs_ = static_cast<std::int64_t>(*deviceTime) * 1000 + 500 - (before + after) / 2;

    if (!Restart())
        return fail(SerialPortLostText(port_));
    return OpenResult::Opened;
}

bool RadProCounter::ReadCount(std::uint32_t* count, QString* why) {
    const std::optional<QByteArray> value = Get("tubePulseCount", kReplyMs, why);
    const std::optional<std::uint32_t> number =
        value ? Number<std::uint32_t>(*value) : std::nullopt;
    if (!number) {
        if (why->isEmpty() || value)
            *why = QStringLiteral("The counter on %1 gave no pulse count").arg(port_.path);
        return false;
    }
    *count = *number;
    return true;
}

bool RadProCounter::Restart() {
    QString why;
    if (!ReadCount(&lastCount_, &why))
        return false;
    lastTick_ = clock_.TickCount();
    return true;
}

bool RadProCounter::Sample(CounterSample* sample, QString* why) {
    std::uint32_t count = 0;
    if (!ReadCount(&count, why))
        return false;
    const std::uint32_t tick = clock_.TickCount();
    sample->counts = count - lastCount_; // the lifetime count overflows to 0
    sample->ms = tick - lastTick_;
    lastCount_ = count;
    lastTick_ = tick;
    return true;
}

bool RadProCounter::ReadSince(std::int64_t sinceMs, std::vector<MemoryRecord>* records,
                              QString* why) {
    records->clear();
    const std::int64_t from = std::max<std::int64_t>(0, sinceMs / 1000 - kLookBackS);
    const std::optional<QByteArray> value =
        Get(QByteArrayLiteral("datalog ") + QByteArray::number(from), kDatalogIdleMs, why);
    if (!value) {
        if (why->isEmpty())
            *why = QStringLiteral("The counter on %1 keeps no data log").arg(port_.path);
        return false;
    }
    if (!ReadDatalog(*value, sinceMs, records)) {
        *why = QStringLiteral("The data log of the counter on %1 does not read").arg(port_.path);
        return false;
    }
    return true;
}

bool RadProCounter::Close() {
    exchange_.Close();
    return true;
}

} // namespace korvinet::device
