#pragma once

#include "settings/settings_store.h"

#include <QString>
#include <utility>
#include <vector>

namespace korvinet {

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
// The file is replaced as a whole (written to a temporary file, flushed to
// disk, renamed over the old one), so a crash leaves either the old or the
// new store, never half of one. It is readable only by its owner, since it
// holds the FTP password. A file that does not parse counts as no store at
// all: reading fails and the next write replaces it.
class RegFileSettingsStore final : public SettingsStore {
public:
    static inline const QString kKeyPath =
        QStringLiteral("HKEY_CURRENT_USER\\Software\\Quorsa\\Tickplot");

    explicit RegFileSettingsStore(QString path, QString keyPath = kKeyPath);

    // <user config folder>/Quorsa/Tickplot.reg
    static QString DefaultPath();

    const QString& Path() const { return path_; }

    std::unique_ptr<SettingsKey> OpenRead() override;
    std::unique_ptr<SettingsKey> OpenWrite() override;

    using Values = std::vector<std::pair<QString, StoredValue>>;

    // The file format, exposed for tests. Parse returns false for a malformed
    // text; found tells whether the key's section was present.
    static bool Parse(const QByteArray& text, const QString& keyPath, Values* values, bool* found);
    static QByteArray Format(const Values& values, const QString& keyPath);

private:
    // False when the file is missing, unreadable or malformed.
    bool Load(Values* values) const;
    bool Save(const Values& values) const;

    class Key;

    QString path_;
    QString keyPath_;
};

} // namespace korvinet
