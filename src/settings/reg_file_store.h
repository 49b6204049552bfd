#pragma once

#include "settings/settings_store.h"

#include <QString>
#include <utility>
#include <vector>

namespace korvinet::settings {

// The settings store as one human-readable text file in the registry export
// format, so that a user can read, edit, back up or move it:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Quorsa\Tickplot]
//   "UnitsIndex"=dword:00000002
//   "AlarmLevel"=hex:00,00,00,00,00,00,f0,3f
//   "GraphTitle"="Radiation vs. Time"
//
// Files exported by the registry editor itself (UTF-16 with a byte-order
// mark, strings as UTF-16 hex lists) are read as well. Whatever the file
// holds besides the key's readable values (comments, other keys, lines that
// do not parse, values of an unknown kind) is kept as it is and written back
// with it. The file is replaced as a whole (written to a temporary file,
// flushed to disk, renamed over the old one), so a crash leaves either the
// old or the new store, never half of one. It is readable only by its owner,
// since it holds the FTP password, and a file its owner may not write is
// never replaced.
class RegFileSettingsStore final : public SettingsStore {
public:
    static inline const QString kKeyPath =
        QStringLiteral("HKEY_CURRENT_USER\\Software\\Quorsa\\Tickplot");
    // A larger file counts as damaged: no settings file grows that long, and
    // reading it would hold up the start.
    static constexpr qsizetype kMaxFileSize = 8 * 1024 * 1024;

    explicit RegFileSettingsStore(QString path, QString keyPath = kKeyPath);

    // <user config folder>/Quorsa/Tickplot.reg
    static QString DefaultPath();

    const QString& Path() const { return path_; }
    // Where a file whose values could not be loaded is kept before the
    // defaults replace it.
    QString DamagedCopyPath() const { return path_ + QStringLiteral(".bad"); }

    std::unique_ptr<SettingsKey> OpenRead() override;
    std::unique_ptr<SettingsKey> OpenWrite() override;
    bool KeepDamagedCopy() override;

    using Values = std::vector<std::pair<QString, StoredValue>>;

    // A store file as read, line by line, so that it can be written back with
    // everything it held. Our key's values are those of the key's sections,
    // later lines winning over earlier ones.
    struct Document {
        enum class Kind {
            Other,    // written back as read and not loaded
            Value,    // a value of our key
            Deletion, // "name"=- in our key: the value is absent
        };
        struct Item {
            Kind kind = Kind::Other;
            bool inKey = false;  // within one of our key's sections (or its header)
            bool edited = false; // a value set since reading: written from `value`
            QByteArray text;     // the line as read; continued lines joined by LF
            QString name;
            StoredValue value;
        };

        bool isStore = false; // false: no registry export at all, nothing kept
        bool hasKey = false;
        std::vector<Item> items;

        // A file holding our key's section and nothing else.
        static Document Empty(const QString& keyPath);
        Values KeyValues() const;
        // Changes the value that decides `name` now, or adds one at the end
        // of our key's last section (adding the section when there is none).
        void Set(const QString& name, const StoredValue& value, const QString& keyPath);
    };

    // The file format on bytes in memory; the file is read and written whole
    // through these.
    static Document Parse(const QByteArray& bytes, const QString& keyPath);
    static QByteArray Format(const Document& document);
    // A file holding only `values` under the key.
    static QByteArray Format(const Values& values, const QString& keyPath);
    // The key as OpenRead reads it from a file with these bytes: null when
    // they are no store or lack the key.
    static std::unique_ptr<SettingsKey> ReadKey(const QByteArray& bytes, const QString& keyPath);

private:
    Document Load() const; // a missing, unreadable or too large file is no store
    bool Save(const Document& document) const;

    class Key;

    QString path_;
    QString keyPath_;
    bool keepFailed_ = false; // a damaged file could not be kept aside
};

} // namespace korvinet::settings
