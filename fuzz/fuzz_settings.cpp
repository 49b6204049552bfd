// The settings file as a user may have edited it: parsed, loaded the way the
// window loads its options at start, and written back the way it saves them
// at exit. What is saved must read back unchanged, or every start would drift
// further from what the user set.
#include "settings/reg_file_store.h"
#include "settings/settings_io.h"

#include "fuzz_support.h"

#include <cstring>

namespace korvinet {
namespace {

using Values = RegFileSettingsStore::Values;

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

bool SameRecord(const SettingsRecord& a, const SettingsRecord& b) {
    SettingsRecord bWithAsNumbers = b;
    bWithAsNumbers.AlarmLevel = a.AlarmLevel;
    bWithAsNumbers.YMaxValue = a.YMaxValue;
    bWithAsNumbers.MaxSpan = a.MaxSpan;
    // NaN, stored as eight bytes of a double, must come back as the same bits.
    return a == bWithAsNumbers && SameBits(a.AlarmLevel, b.AlarmLevel) &&
           SameBits(a.YMaxValue, b.YMaxValue) && SameBits(a.MaxSpan, b.MaxSpan);
}

// Takes what WriteSettings writes and turns it into the file text.
class CaptureStore final : public SettingsStore {
public:
    QByteArray text;

    std::unique_ptr<SettingsKey> OpenRead() override { return nullptr; }
    std::unique_ptr<SettingsKey> OpenWrite() override { return std::make_unique<Key>(this); }

private:
    class Key final : public SettingsKey {
    public:
        explicit Key(CaptureStore* store) : store_(store) {}
        std::optional<StoredValue> Query(const QString&) const override { return std::nullopt; }
        bool Set(const QString& name, ValueType type, const QByteArray& data) override {
            values_.emplace_back(name, StoredValue{static_cast<std::uint32_t>(type), data});
            return true;
        }
        bool Close() override {
            store_->text = RegFileSettingsStore::Format(values_, RegFileSettingsStore::kKeyPath);
            return true;
        }

    private:
        CaptureStore* store_;
        Values values_;
    };
};

} // namespace
} // namespace korvinet

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvinet;
    static fuzz::MemoryFile file;
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString& keyPath = RegFileSettingsStore::kKeyPath;

    // What the parser reads comes back from its own formatting: the whole
    // file as kept, and our key's values written alone. Checked on inputs of
    // fuzzing size; the committed large stores are there for the time a
    // start takes, which the load below measures alone.
    constexpr std::size_t kRoundTripLimit = 64 * 1024;
    const RegFileSettingsStore::Document document = size <= kRoundTripLimit
                                                        ? RegFileSettingsStore::Parse(text, keyPath)
                                                        : RegFileSettingsStore::Document{};
    if (document.isStore) {
        const Values values = document.KeyValues();
        const RegFileSettingsStore::Document kept =
            RegFileSettingsStore::Parse(RegFileSettingsStore::Format(document), keyPath);
        FUZZ_CHECK(kept.isStore);
        FUZZ_CHECK(SameValues(values, kept.KeyValues()));
        const RegFileSettingsStore::Document alone =
            RegFileSettingsStore::Parse(RegFileSettingsStore::Format(values, keyPath), keyPath);
        FUZZ_CHECK(alone.isStore);
        FUZZ_CHECK(SameValues(values, alone.KeyValues()));
    }

    // Start: the options from the file, or the defaults when it is no store.
    file.Fill(data, size);
    RegFileSettingsStore store(file.Path());
    SettingsRecord loaded;
    if (!ReadSettings(store, &loaded)) {
        loaded = SettingsRecord{};
    }
    // Exit and the next start.
    CaptureStore saved;
    FUZZ_CHECK(WriteSettings(saved, loaded));
    file.Fill(saved.text.constData(), std::size_t(saved.text.size()));
    SettingsRecord reloaded;
    FUZZ_CHECK(ReadSettings(store, &reloaded));
    FUZZ_CHECK(SameRecord(loaded, reloaded));
    return 0;
}
