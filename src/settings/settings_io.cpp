#include "settings/settings_io.h"

#include <QtEndian>
#include <cstring>

namespace korvinet {

namespace {

constexpr std::uint32_t kDword = static_cast<std::uint32_t>(ValueType::Dword);
constexpr std::uint32_t kBinary = static_cast<std::uint32_t>(ValueType::Binary);
constexpr std::uint32_t kString = static_cast<std::uint32_t>(ValueType::String);
constexpr std::uint32_t kExpandString = static_cast<std::uint32_t>(ValueType::ExpandString);

// Reads through one open key (or none: every read then fails, as the first
// read after a failed open does).
class Reader {
public:
    explicit Reader(const SettingsKey* key) : key_(key) {}

    bool Dword(const char* name, std::uint32_t* out) const {
        const auto value = Find(name);
        if (!value || value->type != kDword || value->data.size() > 4)
            return false;
        unsigned char bytes[4] = {0, 0, 0, 0};
        std::memcpy(bytes, value->data.constData(), static_cast<std::size_t>(value->data.size()));
        *out = qFromLittleEndian<std::uint32_t>(bytes);
        return true;
    }
    bool Int(const char* name, std::int32_t* out) const {
        std::uint32_t raw = 0;
        if (!Dword(name, &raw))
            return false;
        *out = static_cast<std::int32_t>(raw);
        return true;
    }
    bool Bool(const char* name, bool* out) const {
        std::uint32_t raw = 0;
        if (!Dword(name, &raw))
            return false;
        *out = raw != 0;
        return true;
    }
    bool WholeHours(const char* name, double* out) const {
        std::uint32_t raw = 0;
        if (!Dword(name, &raw))
            return false;
        *out = static_cast<double>(static_cast<std::int32_t>(raw));
        return true;
    }
    bool Double(const char* name, double* out) const {
        const auto value = Find(name);
        if (!value || value->type != kBinary || value->data.size() != 8)
            return false;
        *out = qFromLittleEndian<double>(value->data.constData());
        return true;
    }
    bool Text(const char* name, QString* out) const {
        if (!key_)
            return false;
        const auto value = key_->Query(QLatin1String(name));
        if (!value || value->data.isEmpty()) {
            out->clear();
            return true;
        }
        if (value->type != kString && value->type != kExpandString)
            return false;
        const qsizetype end = value->data.indexOf('\0');
        *out = QString::fromUtf8(end < 0 ? value->data : value->data.left(end));
        return true;
    }

private:
    std::optional<StoredValue> Find(const char* name) const {
        if (!key_)
            return std::nullopt;
        return key_->Query(QLatin1String(name));
    }

    const SettingsKey* key_;
};

QByteArray DwordBytes(std::uint32_t value) {
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray DoubleBytes(double value) {
    QByteArray bytes(8, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray TextBytes(const QString& text) {
    QByteArray bytes = text.toUtf8();
    bytes.append('\0');
    return bytes;
}

} // namespace

bool ReadSettings(SettingsStore& store, SettingsRecord* r) {
    const std::unique_ptr<SettingsKey> key = store.OpenRead();
    const Reader in(key.get());
    const bool ok =
        in.Int("UnitsIndex", &r->UnitsIndex) &&
        in.Int("AveragingTimeIndex", &r->AveragingTimeIndex) &&
        in.Bool("BeepEnabled", &r->BeepEnabled) && in.Bool("AlarmEnabled", &r->AlarmEnabled) &&
        in.Double("AlarmLevel", &r->AlarmLevel) && in.Bool("AlarmBuzzer", &r->AlarmBuzzer) &&
        in.Text("GraphTitle", &r->GraphTitle) && in.Text("GraphNotes", &r->GraphNotes) &&
        in.Bool("YMaxAutoEnabled", &r->YMaxAutoEnabled) && in.Double("YMaxValue", &r->YMaxValue) &&
        in.WholeHours("MaxSpan", &r->MaxSpan) && in.Text("ftpHost", &r->ftpHost) &&
        in.Text("ftpUsername", &r->ftpUsername) && in.Text("ftpPassword", &r->ftpPassword) &&
        in.Text("ftpDirectory", &r->ftpDirectory) && in.Text("ftpFilename", &r->ftpFilename) &&
        in.Int("ftpInterval", &r->ftpInterval) && in.Int("ftpFiletype", &r->ftpFiletype) &&
        in.Bool("ftpEnabled", &r->ftpEnabled);
    const SettingsRecord defaults;
    if (!in.Int("RecordingKeepDays", &r->RecordingKeepDays) || r->RecordingKeepDays < 0)
        r->RecordingKeepDays = defaults.RecordingKeepDays;
    if (!in.Bool("ShowConfidenceBand", &r->ShowConfidenceBand))
        r->ShowConfidenceBand = defaults.ShowConfidenceBand;
    if (!in.Int("AlarmRuleIndex", &r->AlarmRuleIndex) || r->AlarmRuleIndex < 0 ||
        r->AlarmRuleIndex > 1)
        r->AlarmRuleIndex = defaults.AlarmRuleIndex;
    if (!in.Bool("WarnCountsStopped", &r->WarnCountsStopped))
        r->WarnCountsStopped = defaults.WarnCountsStopped;
    if (!in.Bool("WarnCountsHealth", &r->WarnCountsHealth))
        r->WarnCountsHealth = defaults.WarnCountsHealth;
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
    const auto dword = [&](const char* name, std::uint32_t value) {
        return key->Set(QLatin1String(name), ValueType::Dword, DwordBytes(value));
    };
    const auto flag = [&](const char* name, bool value) { return dword(name, value ? 1u : 0u); };
    const auto number = [&](const char* name, std::int32_t value) {
        return dword(name, static_cast<std::uint32_t>(value));
    };
    const auto real = [&](const char* name, double value) {
        return key->Set(QLatin1String(name), ValueType::Binary, DoubleBytes(value));
    };
    const auto text = [&](const char* name, const QString& value) {
        return key->Set(QLatin1String(name), ValueType::String, TextBytes(value));
    };
    // Whole hours cut toward zero; a span beyond the 32-bit range cannot be
    // kept in a dword, so it is clamped rather than left to undefined
    // conversion.
    const double span = r.MaxSpan;
    std::int32_t hours = 0;
    if (span >= 2147483647.0)
        hours = 2147483647;
    else if (span <= -2147483648.0)
        hours = -2147483647 - 1;
    else if (span == span) // NaN stays 0
        hours = static_cast<std::int32_t>(span);

    const bool ok = number("UnitsIndex", r.UnitsIndex) &&
                    number("AveragingTimeIndex", r.AveragingTimeIndex) &&
                    flag("BeepEnabled", r.BeepEnabled) && flag("AlarmEnabled", r.AlarmEnabled) &&
                    real("AlarmLevel", r.AlarmLevel) && flag("AlarmBuzzer", r.AlarmBuzzer) &&
                    text("GraphTitle", r.GraphTitle) && text("GraphNotes", r.GraphNotes) &&
                    flag("YMaxAutoEnabled", r.YMaxAutoEnabled) && real("YMaxValue", r.YMaxValue) &&
                    number("MaxSpan", hours) && text("ftpHost", r.ftpHost) &&
                    text("ftpUsername", r.ftpUsername) && text("ftpPassword", r.ftpPassword) &&
                    text("ftpDirectory", r.ftpDirectory) && text("ftpFilename", r.ftpFilename) &&
                    number("ftpInterval", r.ftpInterval) && number("ftpFiletype", r.ftpFiletype) &&
                    flag("ftpEnabled", r.ftpEnabled);
    const bool added = ok && number("RecordingKeepDays", r.RecordingKeepDays) &&
                       flag("ShowConfidenceBand", r.ShowConfidenceBand) &&
                       number("AlarmRuleIndex", r.AlarmRuleIndex) &&
                       flag("WarnCountsStopped", r.WarnCountsStopped) &&
                       flag("WarnCountsHealth", r.WarnCountsHealth);
    // The values written before a failure are kept, so the key is closed
    // (committed) in either case.
    const bool closed = key->Close();
    return added && closed;
}

} // namespace korvinet
