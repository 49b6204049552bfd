#include "settings/settings_io.h"

#include <QtEndian>
#include <cstring>
#include <limits>
#include <variant>

namespace korvinet::settings {

namespace {

using Value = std::optional<StoredValue>;

constexpr std::uint32_t kDword = static_cast<std::uint32_t>(ValueType::Dword);
constexpr std::uint32_t kBinary = static_cast<std::uint32_t>(ValueType::Binary);
constexpr std::uint32_t kString = static_cast<std::uint32_t>(ValueType::String);
constexpr std::uint32_t kExpandString = static_cast<std::uint32_t>(ValueType::ExpandString);

// A value as it goes into the store.
struct Bytes {
    ValueType type;
    QByteArray data;
};

// A dword of up to 4 bytes, little-endian; a shorter one reads as if padded.
std::optional<std::uint32_t> DwordOf(const Value& value) {
    if (!value || value->type != kDword || value->data.size() > 4)
        return std::nullopt;
    unsigned char bytes[4] = {0, 0, 0, 0};
    std::memcpy(bytes, value->data.constData(), static_cast<std::size_t>(value->data.size()));
    return qFromLittleEndian<std::uint32_t>(bytes);
}

Bytes Dword(std::uint32_t value) {
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return {ValueType::Dword, bytes};
}

// The kinds of value, each read and written one way. Read gives false for a
// value that is missing, mistyped, of the wrong size or out of range.

struct Int {
    std::int32_t SettingsRecord::*field;
    std::int32_t low = std::numeric_limits<std::int32_t>::min();
    std::int32_t high = std::numeric_limits<std::int32_t>::max();

    bool Read(const Value& value, SettingsRecord& r) const {
        const auto raw = DwordOf(value);
        if (!raw)
            return false;
        r.*field = static_cast<std::int32_t>(*raw);
        return r.*field >= low && r.*field <= high;
    }
    Bytes Write(const SettingsRecord& r) const {
        return Dword(static_cast<std::uint32_t>(r.*field));
    }
};

// Any number but 0 is true.
struct Flag {
    bool SettingsRecord::*field;

    bool Read(const Value& value, SettingsRecord& r) const {
        const auto raw = DwordOf(value);
        if (!raw)
            return false;
        r.*field = *raw != 0;
        return true;
    }
    Bytes Write(const SettingsRecord& r) const { return Dword(r.*field ? 1u : 0u); }
};

// The 8 bytes of a double, little-endian.
struct Real {
    double SettingsRecord::*field;

    bool Read(const Value& value, SettingsRecord& r) const {
        if (!value || value->type != kBinary || value->data.size() != 8)
            return false;
        r.*field = qFromLittleEndian<double>(value->data.constData());
        return true;
    }
    Bytes Write(const SettingsRecord& r) const {
        QByteArray bytes(8, '\0');
        qToLittleEndian(r.*field, bytes.data());
        return {ValueType::Binary, bytes};
    }
};

// A number of hours kept as a signed dword of whole hours.
struct WholeHours {
    double SettingsRecord::*field;

    bool Read(const Value& value, SettingsRecord& r) const {
        const auto raw = DwordOf(value);
        if (!raw)
            return false;
        r.*field = static_cast<double>(static_cast<std::int32_t>(*raw));
        return true;
    }
    // Cut toward zero; beyond the 32-bit range clamped rather than left to
    // undefined conversion, and NaN as 0.
    Bytes Write(const SettingsRecord& r) const {
        const double hours = r.*field;
        std::int32_t whole = 0;
        if (hours >= 2147483647.0)
            whole = 2147483647;
        else if (hours <= -2147483648.0)
            whole = -2147483647 - 1;
        else if (hours == hours)
            whole = static_cast<std::int32_t>(hours);
        return Dword(static_cast<std::uint32_t>(whole));
    }
};

// UTF-8 with a terminating NUL. Reading is lenient: a missing or empty value
// is an empty text, either string type will do, and the text ends at the
// first NUL, if any.
struct Text {
    QString SettingsRecord::*field;

    bool Read(const Value& value, SettingsRecord& r) const {
        if (!value || value->data.isEmpty()) {
            (r.*field).clear();
            return true;
        }
        if (value->type != kString && value->type != kExpandString)
            return false;
        const qsizetype end = value->data.indexOf('\0');
        r.*field = QString::fromUtf8(end < 0 ? value->data : value->data.left(end));
        return true;
    }
    Bytes Write(const SettingsRecord& r) const {
        QByteArray bytes = (r.*field).toUtf8();
        bytes.append('\0');
        return {ValueType::String, bytes};
    }
};

struct Setting {
    const char* name;
    std::variant<Int, Flag, Real, WholeHours, Text> kind;
    // Added after the first nineteen: one that cannot be read takes its
    // default (the record's initialiser) and decides nothing about the rest.
    bool added = false;
};

using R = SettingsRecord;

// Every value in the store, in the order it is read and written.
constexpr Setting kSettings[] = {
    {"UnitsIndex", Int{&R::UnitsIndex}},
    {"AveragingTimeIndex", Int{&R::AveragingTimeIndex}},
    {"BeepEnabled", Flag{&R::BeepEnabled}},
    {"AlarmEnabled", Flag{&R::AlarmEnabled}},
    {"AlarmLevel", Real{&R::AlarmLevel}},
    {"AlarmBuzzer", Flag{&R::AlarmBuzzer}},
    {"GraphTitle", Text{&R::GraphTitle}},
    {"GraphNotes", Text{&R::GraphNotes}},
    {"YMaxAutoEnabled", Flag{&R::YMaxAutoEnabled}},
    {"YMaxValue", Real{&R::YMaxValue}},
    {"MaxSpan", WholeHours{&R::MaxSpan}},
    {"ftpHost", Text{&R::ftpHost}},
    {"ftpUsername", Text{&R::ftpUsername}},
    {"ftpPassword", Text{&R::ftpPassword}},
    {"ftpDirectory", Text{&R::ftpDirectory}},
    {"ftpFilename", Text{&R::ftpFilename}},
    {"ftpInterval", Int{&R::ftpInterval}},
    {"ftpFiletype", Int{&R::ftpFiletype}},
    {"ftpEnabled", Flag{&R::ftpEnabled}},
    {"RecordingKeepDays", Int{&R::RecordingKeepDays, 0}, true},
    {"ShowConfidenceBand", Flag{&R::ShowConfidenceBand}, true},
    {"AlarmRuleIndex", Int{&R::AlarmRuleIndex, 0, 1}, true},
    {"WarnCountsStopped", Flag{&R::WarnCountsStopped}, true},
    {"WarnCountsHealth", Flag{&R::WarnCountsHealth}, true},
    {"CounterChoices", Text{&R::CounterChoices}, true},
};

// The setting's value from the key into the record; false as for Read.
bool ReadInto(const Setting& s, const SettingsKey& key, SettingsRecord& r) {
    const Value value = key.Query(QLatin1String(s.name));
    return std::visit([&](const auto& kind) { return kind.Read(value, r); }, s.kind);
}

void TakeDefault(const Setting& s, SettingsRecord& r) {
    const SettingsRecord defaults;
    std::visit([&](const auto& kind) { r.*kind.field = defaults.*kind.field; }, s.kind);
}

} // namespace

bool ReadSettings(SettingsStore& store, SettingsRecord* r) {
    const std::unique_ptr<SettingsKey> key = store.OpenRead();
    bool ok = true;
    for (const Setting& s : kSettings) {
        if (s.added) {
            if (!key || !ReadInto(s, *key, *r))
                TakeDefault(s, *r);
        } else if (ok) {
            // Stops at the first failure; the caller restores the defaults.
            ok = key && ReadInto(s, *key, *r);
        }
    }
    if (key)
        key->Close();
    if (!ok)
        store.KeepDamagedCopy(); // the caller writes the defaults over it next
    return ok;
}

bool WriteSettings(SettingsStore& store, const SettingsRecord& r) {
    const std::unique_ptr<SettingsKey> key = store.OpenWrite();
    if (!key)
        return false;
    bool ok = true;
    for (const Setting& s : kSettings) {
        const Bytes bytes = std::visit([&](const auto& kind) { return kind.Write(r); }, s.kind);
        ok = key->Set(QLatin1String(s.name), bytes.type, bytes.data);
        if (!ok)
            break;
    }
    // The values written before a failure are kept, so the key is closed
    // (committed) in either case.
    const bool closed = key->Close();
    return ok && closed;
}

} // namespace korvinet::settings
