#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

namespace korvinet::settings {

// Value types of the per-user key-value store, numbered as the Windows
// registry numbers them so that any backend keeps the same meaning.
enum class ValueType : std::uint32_t {
    String = 1,       // text, stored with its terminating NUL
    ExpandString = 2, // text that may name environment variables (never expanded)
    Binary = 3,       // raw bytes
    Dword = 4,        // 32-bit little-endian integer
};

struct StoredValue {
    std::uint32_t type = 0; // a ValueType, or any other number a foreign writer used
    QByteArray data;
};

// One open key. Values written through it are kept when Close() succeeds;
// a backend may write at once (registry) or on Close() (a file).
class SettingsKey {
public:
    virtual ~SettingsKey() = default;
    // The value's type and bytes; nothing when the value does not exist.
    virtual std::optional<StoredValue> Query(const QString& name) const = 0;
    virtual bool Set(const QString& name, ValueType type, const QByteArray& data) = 0;
    virtual bool Close() = 0;
};

// The per-user store of the program's options, one key with typed values.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The key for reading; null when it does not exist or cannot be read.
    virtual std::unique_ptr<SettingsKey> OpenRead() = 0;
    // The key for reading and writing, created when missing; null on failure.
    virtual std::unique_ptr<SettingsKey> OpenWrite() = 0;
    // Called when the stored values could not be loaded, before defaults are
    // written over them: keeps what the store holds where the user can still
    // find it. False when that copy could not be made; the store then refuses
    // to be overwritten rather than lose it.
    virtual bool KeepDamagedCopy() { return true; }
};

} // namespace korvinet::settings
