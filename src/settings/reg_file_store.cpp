#include "settings/reg_file_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryFile>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace korvinet {

namespace {

const QByteArray kHeader = "Windows Registry Editor Version 5.00";

StoredValue* FindValue(RegFileSettingsStore::Values& values, const QString& name) {
    for (auto& [key, value] : values)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return &value;
    return nullptr;
}

QByteArray QuoteText(const QByteArray& utf8) {
    QByteArray out = "\"";
    for (const char c : utf8) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

QByteArray HexList(const QByteArray& data) {
    QByteArray out;
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (i > 0)
            out += ',';
        out += QByteArray::number(static_cast<unsigned char>(data[i]), 16).rightJustified(2, '0');
    }
    return out;
}

// A string value can be written as quoted text when it is valid UTF-8 with
// no control characters and exactly one NUL, at its end.
bool PlainText(const QByteArray& data) {
    if (data.isEmpty() || data.back() != '\0')
        return false;
    const QByteArray body = data.left(data.size() - 1);
    for (const char c : body)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(body);
    Q_UNUSED(text);
    return !decoder.hasError();
}

// Reads a quoted text starting at pos (at the opening quote); leaves pos after
// the closing quote.
bool ParseQuoted(const QByteArray& line, qsizetype& pos, QByteArray* out) {
    if (pos >= line.size() || line[pos] != '"')
        return false;
    ++pos;
    out->clear();
    while (pos < line.size()) {
        const char c = line[pos++];
        if (c == '"')
            return true;
        if (c == '\\') {
            if (pos >= line.size())
                return false;
            out->append(line[pos++]);
        } else {
            out->append(c);
        }
    }
    return false;
}

bool ParseHexList(const QByteArray& text, QByteArray* out) {
    out->clear();
    const QByteArray list = text.trimmed();
    if (list.isEmpty())
        return true;
    for (const QByteArray& item : list.split(',')) {
        const QByteArray byte = item.trimmed();
        bool ok = false;
        const uint v = byte.toUInt(&ok, 16);
        if (!ok || byte.size() > 2 || v > 0xff)
            return false;
        out->append(static_cast<char>(v));
    }
    return true;
}

bool ParseData(const QByteArray& text, StoredValue* value) {
    if (text.startsWith('"')) {
        qsizetype pos = 0;
        QByteArray body;
        if (!ParseQuoted(text, pos, &body) || !text.mid(pos).trimmed().isEmpty())
            return false;
        value->type = static_cast<std::uint32_t>(ValueType::String);
        value->data = body + QByteArray(1, '\0');
        return true;
    }
    if (text.startsWith("dword:")) {
        const QByteArray digits = text.mid(6).trimmed();
        bool ok = false;
        const uint v = digits.toUInt(&ok, 16);
        if (!ok || digits.isEmpty() || digits.size() > 8)
            return false;
        value->type = static_cast<std::uint32_t>(ValueType::Dword);
        value->data = QByteArray(4, '\0');
        for (int i = 0; i < 4; ++i)
            value->data[i] = static_cast<char>((v >> (8 * i)) & 0xff);
        return true;
    }
    if (text.startsWith("hex:")) {
        value->type = static_cast<std::uint32_t>(ValueType::Binary);
        return ParseHexList(text.mid(4), &value->data);
    }
    if (text.startsWith("hex(")) {
        const qsizetype close = text.indexOf("):");
        if (close < 0)
            return false;
        bool ok = false;
        const uint type = text.mid(4, close - 4).toUInt(&ok, 16);
        if (!ok)
            return false;
        value->type = type;
        return ParseHexList(text.mid(close + 2), &value->data);
    }
    return false;
}

} // namespace

class RegFileSettingsStore::Key final : public SettingsKey {
public:
    Key(const RegFileSettingsStore& store, Values values, bool writable)
        : store_(store), values_(std::move(values)), writable_(writable) {}

    std::optional<StoredValue> Query(const QString& name) const override {
        for (const auto& [key, value] : values_)
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        return std::nullopt;
    }

    bool Set(const QString& name, ValueType type, const QByteArray& data) override {
        if (!writable_)
            return false;
        StoredValue value{static_cast<std::uint32_t>(type), data};
        if (StoredValue* old = FindValue(values_, name))
            *old = value;
        else
            values_.emplace_back(name, value);
        dirty_ = true;
        return true;
    }

    bool Close() override {
        if (!writable_ || !dirty_)
            return true;
        dirty_ = false;
        return store_.Save(values_);
    }

private:
    const RegFileSettingsStore& store_;
    Values values_;
    bool writable_;
    bool dirty_ = false;
};

RegFileSettingsStore::RegFileSettingsStore(QString path, QString keyPath)
    : path_(std::move(path)), keyPath_(std::move(keyPath)) {}

QString RegFileSettingsStore::DefaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quorsa/Tickplot.reg");
}

std::unique_ptr<SettingsKey> RegFileSettingsStore::OpenRead() {
    Values values;
    if (!Load(&values))
        return nullptr;
    return std::make_unique<Key>(*this, std::move(values), false);
}

std::unique_ptr<SettingsKey> RegFileSettingsStore::OpenWrite() {
    const QFileInfo info(path_);
    if (!QDir().mkpath(info.absolutePath()))
        return nullptr;
    Values values;
    if (!Load(&values))
        values.clear(); // missing or malformed: start afresh
    return std::make_unique<Key>(*this, std::move(values), true);
}

bool RegFileSettingsStore::Load(Values* values) const {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.readAll();
    bool found = false;
    return Parse(text, keyPath_, values, &found) && found;
}

bool RegFileSettingsStore::Save(const Values& values) const {
    const QFileInfo info(path_);
    QTemporaryFile temp(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                        QStringLiteral(".XXXXXX"));
    if (!temp.open())
        return false;
    temp.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray text = Format(values, keyPath_);
    if (temp.write(text) != text.size() || !temp.flush())
        return false;
#ifdef Q_OS_UNIX
    if (::fsync(temp.handle()) != 0)
        return false;
#endif
    temp.close();
    const QByteArray from = QFile::encodeName(temp.fileName());
    const QByteArray to = QFile::encodeName(info.absoluteFilePath());
    if (std::rename(from.constData(), to.constData()) != 0)
        return false; // the temporary file removes itself
    temp.setAutoRemove(false);
#ifdef Q_OS_UNIX
    // Make the rename itself survive a power cut.
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#endif
    return true;
}

bool RegFileSettingsStore::Parse(const QByteArray& text, const QString& keyPath, Values* values,
                                 bool* found) {
    values->clear();
    *found = false;
    QByteArray all = text;
    if (all.startsWith("\xEF\xBB\xBF"))
        all.remove(0, 3);
    all.replace("\r\n", "\n");

    // Join the continuation lines of long hex lists.
    QList<QByteArray> lines;
    QByteArray pending;
    for (const QByteArray& raw : all.split('\n')) {
        QByteArray line = pending.isEmpty() ? raw.trimmed() : pending + raw.trimmed();
        pending.clear();
        if (line.endsWith('\\')) {
            line.chop(1);
            pending = line;
            continue;
        }
        lines.append(line);
    }
    if (!pending.isEmpty())
        return false;

    bool header = false;
    bool inKey = false;
    for (const QByteArray& raw : lines) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (!header) {
            if (line != kHeader)
                return false;
            header = true;
            continue;
        }
        if (line.startsWith('[')) {
            if (!line.endsWith(']'))
                return false;
            const QString section = QString::fromUtf8(line.mid(1, line.size() - 2));
            inKey = section.compare(keyPath, Qt::CaseInsensitive) == 0;
            *found = *found || inKey;
            continue;
        }
        QString name;
        qsizetype pos = 0;
        if (line.startsWith('@')) {
            pos = 1;
        } else {
            QByteArray quoted;
            if (!ParseQuoted(line, pos, &quoted))
                return false;
            name = QString::fromUtf8(quoted);
        }
        if (pos >= line.size() || line[pos] != '=')
            return false;
        const QByteArray data = line.mid(pos + 1).trimmed();
        if (data == "-") { // a deletion in an import file: the value is absent
            if (inKey)
                std::erase_if(*values, [&](const auto& v) {
                    return v.first.compare(name, Qt::CaseInsensitive) == 0;
                });
            continue;
        }
        StoredValue value;
        if (!ParseData(data, &value))
            return false;
        if (!inKey)
            continue;
        if (StoredValue* old = FindValue(*values, name))
            *old = value;
        else
            values->emplace_back(name, value);
    }
    return header;
}

QByteArray RegFileSettingsStore::Format(const Values& values, const QString& keyPath) {
    QByteArray out = kHeader + "\n\n[" + keyPath.toUtf8() + "]\n";
    for (const auto& [name, value] : values) {
        out += QuoteText(name.toUtf8()) + '=';
        if (value.type == static_cast<std::uint32_t>(ValueType::Dword) && value.data.size() == 4) {
            std::uint32_t v = 0;
            for (int i = 3; i >= 0; --i)
                v = (v << 8) | static_cast<unsigned char>(value.data[i]);
            out += "dword:" + QByteArray::number(v, 16).rightJustified(8, '0');
        } else if (value.type == static_cast<std::uint32_t>(ValueType::String) &&
                   PlainText(value.data)) {
            out += QuoteText(value.data.left(value.data.size() - 1));
        } else if (value.type == static_cast<std::uint32_t>(ValueType::Binary)) {
            out += "hex:" + HexList(value.data);
        } else {
            out += "hex(" + QByteArray::number(value.type, 16) + "):" + HexList(value.data);
        }
        out += '\n';
    }
    return out;
}

} // namespace korvinet
