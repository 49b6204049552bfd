// The settings file as a user may have edited it: parsed, loaded the way the
// window loads its options at start, and written back the way it saves them
// at exit. What is saved must read back unchanged, or every start would drift
// further from what the user set.
#include "settings/reg_file_store.h"
#include "settings/settings_io.h"

#include "fuzz_support.h"

#include <cstring>

namespace korvinet::fuzz {
namespace {

using Values = settings::RegFileSettingsStore::Values;

bool SameValues(const Values& a, const Values& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].first != b[i].first || a[i].second.type != b[i].second.type ||
            a[i].second.data != b[i].second.data) {
            return false;
        }
    }
    return true;
}

bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameRecord(const settings::SettingsRecord& a, const settings::SettingsRecord& b) {
    settings::SettingsRecord bWithAsNumbers = b;
    bWithAsNumbers.AlarmLevel = a.AlarmLevel;
    bWithAsNumbers.YMaxValue = a.YMaxValue;
    bWithAsNumbers.MaxSpan = a.MaxSpan;
    // NaN, stored as eight bytes of a double, must come back as the same bits.
    return a == bWithAsNumbers && SameBits(a.AlarmLevel, b.AlarmLevel) &&
           SameBits(a.YMaxValue, b.YMaxValue) && SameBits(a.MaxSpan, b.MaxSpan);
}

// Takes what WriteSettings writes and turns it into the file text.
class CaptureStore final : public settings::SettingsStore {
public:
    QByteArray text;

    std::unique_ptr<settings::SettingsKey> OpenRead() override { return nullptr; }
    std::unique_ptr<settings::SettingsKey> OpenWrite() override {
        return std::make_unique<Key>(this);
    }

private:
    class Key final : public settings::SettingsKey {
    public:
        explicit Key(CaptureStore* store) : store_(store) {}
        std::optional<settings::StoredValue> Query(const QString&) const override {
            return std::nullopt;
        }
        bool Set(const QString& name, settings::ValueType type, const QByteArray& data) override {
            values_.emplace_back(name,
                                 settings::StoredValue{static_cast<std::uint32_t>(type), data});
            return true;
        }
        bool Close() override {
            store_->text = settings::RegFileSettingsStore::Format(
                values_, settings::RegFileSettingsStore::kKeyPath);
            return true;
        }

    private:
        CaptureStore* store_;
        Values values_;
    };
};

} // namespace
} // namespace korvinet::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvinet;
    using namespace korvinet::fuzz;
    static fuzz::MemoryFile file;
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString& keyPath = settings::RegFileSettingsStore::kKeyPath;

    // What the parser reads comes back from its own formatting: the whole
    // file as kept, and our key's values written alone. Checked on inputs of
    // fuzzing size; the committed large stores are there for the time a
    // start takes, which the load below measures alone.
    constexpr std::size_t kRoundTripLimit = 64 * 1024;
    const settings::RegFileSettingsStore::Document document =
        size <= kRoundTripLimit ? settings::RegFileSettingsStore::Parse(text, keyPath)
                                : settings::RegFileSettingsStore::Document{};
    if (document.isStore) {
        const Values values = document.KeyValues();
        const settings::RegFileSettingsStore::Document kept = settings::RegFileSettingsStore::Parse(
            settings::RegFileSettingsStore::Format(document), keyPath);
        FUZZ_CHECK(kept.isStore);
        FUZZ_CHECK(SameValues(values, kept.KeyValues()));
        const settings::RegFileSettingsStore::Document alone =
            settings::RegFileSettingsStore::Parse(
                settings::RegFileSettingsStore::Format(values, keyPath), keyPath);
        FUZZ_CHECK(alone.isStore);
        FUZZ_CHECK(SameValues(values, alone.KeyValues()));
    }

    // Start: the options from the file, or the defaults when it is no store.
    file.Fill(data, size);
    settings::RegFileSettingsStore store(file.Path());
    settings::SettingsRecord loaded;
    if (!settings::ReadSettings(store, &loaded)) {
        loaded = settings::SettingsRecord{};
    }
    // Exit and the next start.
    CaptureStore saved;
    FUZZ_CHECK(settings::WriteSettings(saved, loaded));
    file.Fill(saved.text.constData(), std::size_t(saved.text.size()));
    settings::SettingsRecord reloaded;
    FUZZ_CHECK(settings::ReadSettings(store, &reloaded));
    FUZZ_CHECK(SameRecord(loaded, reloaded));
    return 0;
}
