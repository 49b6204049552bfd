#include "settings/reg_file_store.h"

#include "platform/file_replace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <QStringDecoder>

namespace korvinet::settings {

namespace {

using Document = RegFileSettingsStore::Document;
using Kind = Document::Kind;

const QByteArray kHeader = "Windows Registry Editor Version 5.00";
constexpr std::uint32_t kString = static_cast<std::uint32_t>(ValueType::String);
constexpr std::uint32_t kExpandString = static_cast<std::uint32_t>(ValueType::ExpandString);
constexpr std::uint32_t kBinary = static_cast<std::uint32_t>(ValueType::Binary);
constexpr std::uint32_t kDword = static_cast<std::uint32_t>(ValueType::Dword);

// Value names compare without regard to case, as the registry's do.
bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool IsBlank(const QByteArray& text) {
    return text.trimmed().isEmpty();
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
    static const char kDigits[] = "0123456789abcdef";
    QByteArray out;
    out.reserve(data.size() * 3);
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (i > 0)
            out += ',';
        const auto byte = static_cast<unsigned char>(data[i]);
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0xf];
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// "00,f0, 3f": bytes of one or two hex digits, separated by commas.
bool ParseHexList(QByteArrayView text, QByteArray* out) {
    out->clear();
    qsizetype pos = 0;
    const auto skipSpace = [&] {
        while (pos < text.size() && IsSpace(text[pos]))
            ++pos;
    };
    skipSpace();
    if (pos == text.size())
        return true;
    out->reserve(text.size() / 3 + 1);
    while (true) {
        int value = 0;
        int digits = 0;
        // A longer run of digits is no byte; stop at the third before it
        // overflows the value.
        for (int d = 0; digits <= 2 && pos < text.size() && (d = HexDigit(text[pos])) >= 0;
             ++pos, ++digits)
            value = value * 16 + d;
        if (digits < 1 || digits > 2)
            return false;
        out->append(static_cast<char>(value));
        skipSpace();
        if (pos == text.size())
            return true;
        if (text[pos] != ',')
            return false;
        ++pos;
        skipSpace();
    }
}

// Strict UTF-8; a leading byte-order mark is a character like any other.
bool DecodeUtf8(const QByteArray& bytes, QString* text) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    *text = decoder.decode(bytes);
    return !decoder.hasError();
}

// A string as the registry editor writes it in a hex list: UTF-16LE ending in
// a NUL character. Returns the text in UTF-8 (the NULs kept as NUL bytes);
// false for bytes of any other shape, which stay as they are.
bool FromUtf16Hex(const QByteArray& raw, QByteArray* utf8) {
    const qsizetype n = raw.size();
    if (n < 2 || n % 2 != 0 || raw[n - 2] != '\0' || raw[n - 1] != '\0')
        return false;
    QString text(n / 2, Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < n / 2; ++i)
        out[i] = QChar(static_cast<char16_t>(static_cast<unsigned char>(raw[2 * i]) |
                                             static_cast<unsigned char>(raw[2 * i + 1]) << 8));
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (out[i].isHighSurrogate() && i + 1 < text.size() && out[i + 1].isLowSurrogate())
            ++i;
        else if (out[i].isSurrogate())
            return false;
    }
    *utf8 = text.toUtf8();
    return true;
}

// The inverse of FromUtf16Hex, for UTF-8 text that ends in a NUL byte.
bool ToUtf16Hex(const QByteArray& utf8, QByteArray* raw) {
    QString text;
    if (utf8.isEmpty() || utf8.back() != '\0' || !DecodeUtf8(utf8, &text))
        return false;
    raw->resize(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        (*raw)[2 * i] = static_cast<char>(unit & 0xff);
        (*raw)[2 * i + 1] = static_cast<char>(unit >> 8);
    }
    return true;
}

// A string that can stand between quotes on one line and read back the same:
// one NUL, at its end.
bool Quotable(const QByteArray& data) {
    if (data.isEmpty() || data.back() != '\0')
        return false;
    for (qsizetype i = 0; i + 1 < data.size(); ++i)
        if (data[i] == '\0' || data[i] == '\n' || data[i] == '\r')
            return false;
    return true;
}

// Reads a quoted text starting at pos (at the opening quote); leaves pos after
// the closing quote.
bool ParseQuoted(QByteArrayView line, qsizetype& pos, QByteArray* out) {
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

bool ParseData(QByteArrayView text, StoredValue* value) {
    if (text.startsWith('"')) {
        qsizetype pos = 0;
        QByteArray body;
        if (!ParseQuoted(text, pos, &body) || !text.sliced(pos).trimmed().isEmpty() ||
            body.contains('\0'))
            return false;
        value->type = kString;
        value->data = body + QByteArray(1, '\0');
        return true;
    }
    if (text.startsWith("dword:")) {
        const QByteArrayView digits = text.sliced(6).trimmed();
        bool ok = false;
        const uint v = digits.toUInt(&ok, 16);
        if (!ok || digits.isEmpty() || digits.size() > 8)
            return false;
        value->type = kDword;
        value->data = QByteArray(4, '\0');
        for (int i = 0; i < 4; ++i)
            value->data[i] = static_cast<char>((v >> (8 * i)) & 0xff);
        return true;
    }
    if (text.startsWith("hex:")) {
        value->type = kBinary;
        return ParseHexList(text.sliced(4), &value->data);
    }
    if (text.startsWith("hex(")) {
        const qsizetype close = text.indexOf("):");
        if (close < 0)
            return false;
        bool ok = false;
        const uint type = text.sliced(4, close - 4).toUInt(&ok, 16);
        if (!ok || !ParseHexList(text.sliced(close + 2), &value->data))
            return false;
        value->type = type;
        QByteArray utf8;
        if ((type == kString || type == kExpandString) && FromUtf16Hex(value->data, &utf8))
            value->data = utf8;
        return true;
    }
    return false;
}

QByteArray ValueLine(const QString& name, const StoredValue& value) {
    QByteArray out = QuoteText(name.toUtf8()) + '=';
    QByteArray utf16;
    if (value.type == kDword && value.data.size() == 4) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | static_cast<unsigned char>(value.data[i]);
        out += "dword:" + QByteArray::number(v, 16).rightJustified(8, '0');
    } else if (value.type == kString && Quotable(value.data)) {
        out += QuoteText(value.data.left(value.data.size() - 1));
    } else if ((value.type == kString || value.type == kExpandString) &&
               ToUtf16Hex(value.data, &utf16)) {
        out += "hex(" + QByteArray::number(value.type, 16) + "):" + HexList(utf16);
    } else if (value.type == kBinary) {
        out += "hex:" + HexList(value.data);
    } else {
        out += "hex(" + QByteArray::number(value.type, 16) + "):" + HexList(value.data);
    }
    return out;
}

// The file's text in UTF-8 with LF line ends: files of the registry editor
// come in UTF-16LE with a byte-order mark, hand-made ones often in UTF-8 with
// one, and either may end lines in CR LF.
QByteArray NormalizedText(const QByteArray& bytes) {
    QByteArray text;
    if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder decoder(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
        text = QString(decoder.decode(QByteArrayView(bytes).sliced(2))).toUtf8();
    } else {
        text = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    }
    if (!text.contains('\r'))
        return text;
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] != '\r' || i + 1 >= text.size() || text[i + 1] != '\n')
            out += text[i];
    return out;
}

Document::Item OtherItem(QByteArray text, bool inKey) {
    Document::Item item;
    item.text = std::move(text);
    item.inKey = inKey;
    return item;
}

// A value set by the program, at the end of our key's section.
Document::Item SetValueItem(const QString& name, const StoredValue& value) {
    Document::Item item;
    item.kind = Kind::Value;
    item.inKey = true;
    item.edited = true;
    item.name = name;
    item.value = value;
    return item;
}

} // namespace

// --- the document ----------------------------------------------------------

Document Document::Empty(const QString& keyPath) {
    Document document;
    document.isStore = true;
    document.hasKey = true;
    document.items = {OtherItem(kHeader, false), OtherItem(QByteArray(), false),
                      OtherItem('[' + keyPath.toUtf8() + ']', true)};
    return document;
}

RegFileSettingsStore::Values Document::KeyValues() const {
    // Replayed in file order; a deleted value leaves a gap that is dropped at
    // the end, so that every line costs the same however many there are.
    std::vector<std::pair<QString, std::optional<StoredValue>>> replay;
    QHash<QString, std::size_t> index;
    for (const Item& item : items) {
        if (!item.inKey || item.kind == Kind::Other)
            continue;
        const QString key = item.name.toCaseFolded();
        const auto found = index.constFind(key);
        std::optional<StoredValue> value;
        if (item.kind == Kind::Value)
            value = item.value;
        if (found != index.cend()) {
            replay[*found].second = std::move(value);
        } else if (value) {
            index.insert(key, replay.size());
            replay.emplace_back(item.name, std::move(value));
        }
    }
    Values values;
    values.reserve(replay.size());
    for (auto& [name, value] : replay)
        if (value)
            values.emplace_back(std::move(name), std::move(*value));
    return values;
}

void Document::Set(const QString& name, const StoredValue& value, const QString& keyPath) {
    for (auto item = items.rbegin(); item != items.rend(); ++item) {
        if (!item->inKey || item->kind == Kind::Other || !SameName(item->name, name))
            continue;
        if (item->kind == Kind::Value) {
            item->value = value;
            item->edited = true;
            return;
        }
        break; // deleted: a new line after the deletion brings it back
    }
    if (!isStore)
        *this = Empty(keyPath);
    if (!hasKey) {
        if (!items.empty() && !IsBlank(items.back().text))
            items.push_back(OtherItem(QByteArray(), false));
        items.push_back(OtherItem('[' + keyPath.toUtf8() + ']', true));
        hasKey = true;
    }
    // After the last line of our key that is not blank.
    auto at = items.end();
    for (auto item = items.begin(); item != items.end(); ++item)
        if (item->inKey && (item->kind != Kind::Other || !IsBlank(item->text)))
            at = item + 1;
    items.insert(at, SetValueItem(name, value));
}

// --- the file format -------------------------------------------------------

Document RegFileSettingsStore::Parse(const QByteArray& bytes, const QString& keyPath) {
    Document document;
    if (bytes.size() > kMaxFileSize)
        return document;
    const QByteArray text = NormalizedText(bytes);

    document.items.reserve(text.count('\n') + 1);
    bool inKey = false;
    qsizetype pos = 0;
    while (pos < text.size()) {
        // One line, with the lines it continues onto: a line ending in a
        // backslash goes on in the next (long hex lists are written so), and
        // the last line of the file in an empty one.
        const qsizetype start = pos;
        QByteArray line;
        bool endsInBackslash = false;
        while (true) {
            qsizetype end = text.indexOf('\n', pos);
            if (end < 0)
                end = text.size();
            const QByteArrayView segment = QByteArrayView(text).sliced(pos, end - pos).trimmed();
            line += segment;
            pos = end + 1;
            // Only the line just read can continue: after an empty one, a
            // backslash left from before is part of the text.
            endsInBackslash = segment.endsWith('\\');
            if (!endsInBackslash)
                break;
            line.chop(1);
            if (pos >= text.size())
                break;
        }
        Document::Item item =
            OtherItem(text.sliced(start, std::min(pos, text.size()) - start), inKey);
        if (item.text.endsWith('\n'))
            item.text.chop(1);
        if (endsInBackslash)
            item.text += '\n'; // written with that empty line, so nothing added later joins it

        if (!document.isStore) {
            // Only comments and blank lines may come before the header.
            if (line == kHeader)
                document.isStore = true;
            else if (!line.isEmpty() && !line.startsWith(';'))
                return Document();
        } else if (line.startsWith('[')) {
            // A broken section header leaves our key too: what follows it may
            // belong anywhere.
            inKey = line.endsWith(']') &&
                    SameName(QString::fromUtf8(line.mid(1, line.size() - 2)), keyPath);
            document.hasKey = document.hasKey || inKey;
            item.inKey = inKey;
        } else if (inKey && !line.isEmpty() && !line.startsWith(';')) {
            qsizetype at = 0;
            QByteArray quoted;
            bool named = true;
            if (line.startsWith('@'))
                at = 1;
            else
                named = ParseQuoted(line, at, &quoted);
            if (named && at < line.size() && line[at] == '=') {
                const QByteArrayView data = QByteArrayView(line).sliced(at + 1).trimmed();
                if (data == "-") {
                    item.kind = Kind::Deletion;
                    item.name = QString::fromUtf8(quoted);
                } else if (ParseData(data, &item.value)) {
                    item.kind = Kind::Value;
                    item.name = QString::fromUtf8(quoted);
                }
            }
        }
        document.items.push_back(std::move(item));
    }
    if (!document.isStore)
        return Document();
    return document;
}

QByteArray RegFileSettingsStore::Format(const Document& document) {
    QByteArray out;
    for (const Document::Item& item : document.items) {
        if (item.kind == Kind::Value && item.edited)
            out += ValueLine(item.name, item.value);
        else
            out += item.text;
        out += '\n';
    }
    return out;
}

QByteArray RegFileSettingsStore::Format(const Values& values, const QString& keyPath) {
    Document document = Document::Empty(keyPath);
    for (const auto& [name, value] : values)
        document.items.push_back(SetValueItem(name, value));
    return Format(document);
}

// --- the store -------------------------------------------------------------

class RegFileSettingsStore::Key final : public SettingsKey {
public:
    // Writable when `store` is given: Close() saves the document there.
    Key(const RegFileSettingsStore* store, Document document, QString keyPath)
        : store_(store), keyPath_(std::move(keyPath)) {
        for (const Document::Item& item : document.items) {
            if (!item.inKey || item.kind == Kind::Other)
                continue;
            if (item.kind == Kind::Value)
                values_.insert(item.name.toCaseFolded(), item.value);
            else
                values_.remove(item.name.toCaseFolded());
        }
        if (store_)
            document_ = std::move(document);
    }

    std::optional<StoredValue> Query(const QString& name) const override {
        const auto found = values_.constFind(name.toCaseFolded());
        if (found == values_.cend())
            return std::nullopt;
        return *found;
    }

    bool Set(const QString& name, ValueType type, const QByteArray& data) override {
        if (!store_)
            return false;
        const StoredValue value{static_cast<std::uint32_t>(type), data};
        document_.Set(name, value, keyPath_);
        values_.insert(name.toCaseFolded(), value);
        dirty_ = true;
        return true;
    }

    bool Close() override {
        if (!store_ || !dirty_)
            return true;
        dirty_ = false;
        return store_->Save(document_);
    }

private:
    const RegFileSettingsStore* store_;
    Document document_;
    QString keyPath_;
    QHash<QString, StoredValue> values_;
    bool dirty_ = false;
};

RegFileSettingsStore::RegFileSettingsStore(QString path, QString keyPath)
    : path_(std::move(path)), keyPath_(std::move(keyPath)) {}

QString RegFileSettingsStore::DefaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quorsa/Tickplot.reg");
}

std::unique_ptr<SettingsKey> RegFileSettingsStore::ReadKey(const QByteArray& bytes,
                                                           const QString& keyPath) {
    Document document = Parse(bytes, keyPath);
    if (!document.isStore || !document.hasKey)
        return nullptr;
    return std::make_unique<Key>(nullptr, std::move(document), keyPath);
}

std::unique_ptr<SettingsKey> RegFileSettingsStore::OpenRead() {
    Document document = Load();
    if (!document.isStore || !document.hasKey)
        return nullptr;
    return std::make_unique<Key>(nullptr, std::move(document), keyPath_);
}

std::unique_ptr<SettingsKey> RegFileSettingsStore::OpenWrite() {
    const QFileInfo info(path_);
    if (!QDir().mkpath(info.absolutePath()))
        return nullptr;
    Document document = Load();
    if (!document.isStore)
        document = Document::Empty(keyPath_); // missing or damaged beyond reading: start afresh
    return std::make_unique<Key>(this, std::move(document), keyPath_);
}

bool RegFileSettingsStore::KeepDamagedCopy() {
    QFile file(path_);
    if (!file.exists() || file.size() == 0)
        return true;
    bool kept = false;
    if (file.size() > kMaxFileSize) {
        // Too large to be read, and replaced whole anyway: moved aside as it
        // is, unless it may not be replaced at all.
        kept = file.permissions().testFlag(QFileDevice::WriteOwner) &&
               (!QFile::exists(DamagedCopyPath()) || QFile::remove(DamagedCopyPath())) &&
               file.rename(DamagedCopyPath());
    } else if (file.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = file.readAll();
        platform::ReplaceOptions options;
        options.ownerOnly = true;
        kept = file.error() == QFileDevice::NoError &&
               platform::ReplaceFileContents(DamagedCopyPath(), bytes, options);
    }
    keepFailed_ = keepFailed_ || !kept;
    return kept;
}

Document RegFileSettingsStore::Load() const {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize)
        return Document();
    const QByteArray bytes = file.read(kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return Document();
    return Parse(bytes, keyPath_);
}

bool RegFileSettingsStore::Save(const Document& document) const {
    if (keepFailed_)
        return false;
    platform::ReplaceOptions options;
    options.ownerOnly = true;
    options.refuseReadOnlyFile = true;
    return platform::ReplaceFileContents(path_, Format(document), options);
}

} // namespace korvinet::settings
