#include "files/data_file.h"

#include "device/counter.h"
#include "files/cp1252.h"
#include "files/file_output.h"
#include "platform/datetime.h"
#include "platform/regional.h"
#include "platform/time_of_day.h"

#include "device/display_units.h"
#include "platform/file_replace.h"

#include <QDate>
#include <QHash>
#include <QStringDecoder>
#include <QTime>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>

namespace korvinet::files {

using platform::Regional;

namespace {

const QLatin1String kLineEnd("\r\n");
const QLatin1String kFieldSeparator(", ");

bool IsTrimmed(QChar c) {
    return c.unicode() <= 0x20 || c.unicode() == 0x7F;
}

QStringView TrimmedView(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsTrimmed(text[begin]))
        ++begin;
    while (end > begin && IsTrimmed(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

// Splits at the last comma: the text before it and after it, both trimmed.
// Without a comma the first part is empty and the second the whole text.
void SplitAtLastComma(QStringView line, QString* first, QString* second) {
    const qsizetype comma = line.lastIndexOf(QLatin1Char(','));
    if (comma < 0) {
        first->clear();
        *second = TrimDataField(line);
        return;
    }
    *first = TrimDataField(line.left(comma));
    *second = TrimDataField(line.mid(comma + 1));
}

void SplitAtLastComma(QStringView line, QStringView* first, QStringView* second) {
    const qsizetype comma = line.lastIndexOf(QLatin1Char(','));
    if (comma < 0) {
        *first = QStringView();
        *second = TrimmedView(line);
        return;
    }
    *first = TrimmedView(line.left(comma));
    *second = TrimmedView(line.mid(comma + 1));
}

// A reading as the program writes it ("-0.012", "15") read without QLocale:
// optional minus, digits without a needless leading zero, and a fraction
// after ".". Every locale reads such a text as this decimal number (or
// refuses it, "." being its group separator, and the C locale decides), so
// the value is the same; anything else is left to Regional::ParseNumber.
// False: not such a text.
bool ParsePlainNumber(QStringView text, double* value) {
    char buffer[64];
    const qsizetype n = text.size();
    if (n == 0 || n >= static_cast<qsizetype>(sizeof buffer))
        return false;
    qsizetype i = 0;
    if (text[0] == QLatin1Char('-'))
        buffer[i++] = '-';
    const qsizetype digitsStart = i;
    while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
        buffer[i] = static_cast<char>(text[i].unicode());
        ++i;
    }
    const qsizetype intDigits = i - digitsStart;
    if (intDigits == 0 || (intDigits > 1 && text[digitsStart] == QLatin1Char('0')))
        return false;
    if (i < n) {
        if (text[i] != QLatin1Char('.'))
            return false;
        buffer[i++] = '.';
        const qsizetype fractionStart = i;
        while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
            buffer[i] = static_cast<char>(text[i].unicode());
            ++i;
        }
        if (i == fractionStart || i < n)
            return false;
    }
    const auto result = std::from_chars(buffer, buffer + i, *value);
    return result.ec == std::errc() && result.ptr == buffer + i && std::isfinite(*value);
}

// Date-time text for a whole file at a time. A graph holds up to 57,600
// points on two or three days; converting each through a local QDateTime asks
// the system's time-zone data every time, which makes a save or an open take
// seconds. This gives the same texts as Regional (short date, blank, long time,
// the date alone at midnight) from the date and the time of day directly, and
// parses each date only when it changes.
class DateTimeTexts {
public:
    explicit DateTimeTexts(const Regional& regional) : regional_(regional) {}

    QString DateText(qint64 julianDay) const {
        return regional_.Locale().toString(QDate::fromJulianDay(julianDay),
                                           regional_.ShortDatePattern());
    }
    QString TimeOfDayText(int ms) const { return TimeText(ms); }

    // Accepts "date time" and a bare date, divided where the regional
    // patterns say, as Regional::ParseDateTime does.
    bool Parse(QStringView text, double* dateTime) {
        const QStringView t = text.trimmed();
        for (const qsizetype split : regional_.DateTimeSplits(t)) {
            const QDate date = ParseDate(split < 0 ? t : t.left(split));
            if (!date.isValid())
                continue;
            int ms = 0;
            if (split >= 0) {
                ms = ParseTime(t.mid(split + 1).trimmed());
                if (ms < 0)
                    continue;
            }
            *dateTime = static_cast<double>(date.toJulianDay() - EpochJulianDay()) +
                        ms / platform::kMsPerDay;
            return true;
        }
        return false;
    }

private:
    static qint64 EpochJulianDay() {
        static const qint64 epoch = QDate(1899, 12, 30).toJulianDay();
        return epoch;
    }

    // A file's lines mostly share their date; the few texts tried lately,
    // readable or not, are remembered so that each is read only once.
    QDate ParseDate(QStringView text) {
        if (text == lastDateText_)
            return lastDate_;
        lastDateText_ = text.toString();
        const auto known = parsedDates_.constFind(lastDateText_);
        if (known != parsedDates_.constEnd()) {
            lastDate_ = known.value();
        } else {
            if (parsedDates_.size() >= 64)
                parsedDates_.clear();
            lastDate_ = regional_.Locale().toDate(lastDateText_, regional_.ShortDatePattern());
            parsedDates_.insert(lastDateText_, lastDate_);
        }
        return lastDate_;
    }

    // A file holds at most 86,400 different times of day to the second:
    // each is read once.
    int ParseTime(QStringView text) {
        const std::u16string_view key(reinterpret_cast<const char16_t*>(text.utf16()),
                                      static_cast<std::size_t>(text.size()));
        const auto known = parsedTimes_.find(key);
        if (known != parsedTimes_.end())
            return known->second;
        if (parsedTimes_.size() >= 200000)
            parsedTimes_.clear();
        int ms = -1;
        for (const QString& pattern : regional_.TimeReadPatterns()) {
            ms = platform::ParseTimeOfDay(text, regional_.Locale(), pattern);
            if (ms >= 0)
                break;
        }
        parsedTimes_.emplace(std::u16string(key), ms);
        return ms;
    }

    QString TimeText(int ms) const {
        return regional_.Locale().toString(QTime::fromMSecsSinceStartOfDay(ms),
                                           regional_.LongTimePattern());
    }

    const Regional& regional_;
    QHash<QString, QDate> parsedDates_;
    // Looked up by the text in the line itself, without a copy.
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::u16string_view text) const {
            return std::hash<std::u16string_view>()(text);
        }
    };
    std::unordered_map<std::u16string, int, TextHash, std::equal_to<>> parsedTimes_;
    QString lastDateText_;
    QDate lastDate_;
};

} // namespace

QString CorruptLinesNote(int count) {
    return QStringLiteral("Note: %1 lines in the data file were corrupt and ignored.").arg(count);
}

QString TrimDataField(QStringView text) {
    return TrimmedView(text).toString();
}

QString DataFileHeaderText(const QString& model, const QString& unitName,
                           const DataFileHeader& header, const Regional& regional) {
    QString text;
    text += QLatin1String("# Device: ") + model + kLineEnd;
    text += QLatin1String("# Units: ") + unitName + kLineEnd;
    text += QLatin1String("# Averaging Time: ") + header.averagingTime + QLatin1String(" sec") +
            kLineEnd;
    text += QLatin1String("# Title: ") + header.title + kLineEnd;
    text += QLatin1String("# Notes: ") + header.notes + kLineEnd;
    text += QLatin1String("# Date Saved: ") + regional.DateTimeText(header.dateSaved) + kLineEnd;
    text += header.bottomAxisTitle + kFieldSeparator + header.leftAxisTitle + kLineEnd;
    return text;
}

namespace {

// The texts of one date-time or reading, encoded once the file's encoding is
// known.
struct Text {
    bool made = false;
    bool exact = false;
    QByteArray bytes;
    QString text;
};

} // namespace

struct DataLineWriter::State {
    State(int code, const Regional& regional)
        : unitCode(code), texts(regional),
          perSecond(!regional.LongTimePattern().contains(QLatin1Char('z'))),
          unit(device::FindDisplayUnit(unitCode)) {
        if (perSecond)
            seconds.resize(86400);
    }

    QByteArray Encode(const QString& text) const {
        return utf8 ? text.toUtf8() : EncodeWindows1252(text);
    }

    void Make(Text& t, QString text) const {
        EncodeWindows1252(text, &t.exact);
        t.text = std::move(text);
        t.made = true;
        t.bytes.clear();
    }

    void Split(double x) {
        const platform::DayAndMs split = platform::SplitDateTime(x);
        ms = split.ms;
        if (!day.made || split.day != dayNumber) {
            dayNumber = split.day;
            Make(day, texts.DateText(split.Date().toJulianDay()));
        }
    }

    const QByteArray& Bytes(Text& t) const {
        if (t.bytes.isEmpty() && !t.text.isEmpty())
            t.bytes = Encode(t.text);
        return t.bytes;
    }

    Text& Second() {
        Text& t = perSecond ? seconds[static_cast<std::size_t>(ms / 1000)] : single;
        if (!t.made || !perSecond)
            Make(t, texts.TimeOfDayText(ms));
        return t;
    }

    QString ValueText(double y) const {
        return device::TCounter::FormatValueOf(y, static_cast<std::int8_t>(unitCode));
    }

    // The reading as "%.*f" prints it, or -1 where FormatValueOf says more
    // than digits (no unit, overrange, not finite).
    int FastValue(double y, char (&buffer)[400]) const {
        if (!unit || y == device::TCounter::kOverrange || !std::isfinite(y))
            return -1;
        const auto r = std::to_chars(buffer, buffer + sizeof buffer, y, std::chars_format::fixed,
                                     unit->decimals);
        return r.ec == std::errc() ? static_cast<int>(r.ptr - buffer) : -1;
    }

    const int unitCode;
    DateTimeTexts texts;
    const bool perSecond;
    const device::DisplayUnit* unit;
    bool utf8 = false;
    qint64 dayNumber = 0;
    int ms = 0;
    Text day;
    Text single;
    std::vector<Text> seconds;
};

DataLineWriter::DataLineWriter(int unitCode, const Regional& regional)
    : state_(std::make_unique<State>(unitCode, regional)) {}

DataLineWriter::~DataLineWriter() = default;

bool DataLineWriter::Fits(double dateTime, double value) {
    State& s = *state_;
    s.Split(dateTime);
    if (!s.day.exact)
        return false;
    if (s.ms >= 1000 && !s.Second().exact)
        return false;
    char buffer[400];
    if (s.FastValue(value, buffer) >= 0)
        return true;
    bool exact = false;
    EncodeWindows1252(s.ValueText(value), &exact);
    return exact;
}

void DataLineWriter::SetUtf8(bool utf8) {
    state_->utf8 = utf8;
}

void DataLineWriter::Append(double dateTime, double value, QByteArray& out) {
    State& s = *state_;
    s.Split(dateTime);
    out += s.Bytes(s.day);
    // Midnight, to the second, is the date alone.
    if (s.ms >= 1000) {
        out += ' ';
        out += s.Bytes(s.Second());
    }
    out += ", ";
    char buffer[400];
    const int n = s.FastValue(value, buffer);
    if (n >= 0)
        out.append(buffer, n);
    else
        out += s.Encode(s.ValueText(value));
    out += "\r\n";
}

namespace {

// Writes the file through `sink` in pieces of about a megabyte: Windows-1252
// when the header and every point fit it, otherwise UTF-8 (decided before
// the first byte goes out). False when the sink fails or progress says stop.
template <class XAt, class YAt>
bool ProduceDataFile(std::size_t count, XAt xAt, YAt yAt, const device::TCounter& counter,
                     const DataFileHeader& header, const Regional& regional,
                     const DataFileProgress& progress, const platform::ContentSink& sink) {
    const QString headerText =
        DataFileHeaderText(counter.Info().Model, counter.UnitName(), header, regional);
    bool exact = false;
    QByteArray piece = EncodeWindows1252(headerText, &exact);
    DataLineWriter lines(counter.UnitCode(), regional);
    for (std::size_t i = 0; exact && i < count; ++i)
        exact = lines.Fits(xAt(i), yAt(i));
    // Windows-1252 whenever it can hold the text. Date-times under some
    // regional settings (Japanese, Chinese, ...) or a title in another script
    // cannot be held; such a file is written in UTF-8, which we read back,
    // rather than with its characters lost to "?".
    if (!exact)
        piece = headerText.toUtf8();
    lines.SetUtf8(!exact);
    constexpr qsizetype kPiece = 1 << 20;
    piece.reserve(kPiece + 512);
    for (std::size_t i = 0; i < count; ++i) {
        lines.Append(xAt(i), yAt(i), piece);
        if (piece.size() >= kPiece) {
            if (!sink(piece))
                return false;
            piece.clear();
            if (progress && !progress(static_cast<double>(i + 1) / static_cast<double>(count)))
                return false;
        }
    }
    return sink(piece);
}

bool WriteWith(const QString& fileName, const platform::ContentProducer& produce) {
    platform::ReplaceOptions options;
    // A user may keep data files in a folder only they may not add to, such
    // as a shared one; there the file is written as it always was.
    options.writeInPlaceIfFolderIsReadOnly = true;
    return platform::ReplaceFileContentsWith(fileName, produce, options);
}

} // namespace

bool WriteDataFilePoints(const QString& fileName, const DataFilePoints& points,
                         const device::TCounter& counter, const DataFileHeader& header,
                         const Regional& regional, const DataFileProgress& progress) {
    return WriteWith(fileName, [&](const platform::ContentSink& sink) {
        return ProduceDataFile(points.count, points.x, points.y, counter, header, regional,
                               progress, sink);
    });
}

bool DataFileReader::Open(const QString& fileName) {
    file_.close();
    if (fileName.isEmpty())
        return false;
    file_.setFileName(fileName);
    return file_.open(QIODevice::ReadOnly);
}

bool DataFileReader::Read(const QStringList& unitNames, DataFileContents* contents) {
    return Read(unitNames, contents, {}, {});
}

bool DataFileReader::Read(const QStringList& unitNames, DataFileContents* contents,
                          const DataPointSink& add, const DataFileProgress& progress) {
    *contents = DataFileContents{};
    if (!file_.isOpen())
        return false;
    // The file's bytes mapped where the system allows it, read whole
    // otherwise (a pipe, a special file): one copy at most.
    QByteArray copy;
    QByteArrayView bytes;
    const qint64 size = file_.size();
    uchar* mapped = size > 0 ? file_.map(0, size) : nullptr;
    if (mapped) {
        bytes = QByteArrayView(reinterpret_cast<const char*>(mapped), size);
    } else {
        copy = file_.readAll();
        if (file_.error() != QFileDevice::NoError) {
            file_.close();
            return false;
        }
        bytes = copy;
    }
    const bool ok = ParseDataFileBytes(bytes, unitNames, regional_, contents, add, progress);
    if (mapped)
        file_.unmap(mapped);
    file_.close();
    return ok;
}

bool ParseDataFile(const QByteArray& bytes, const QStringList& unitNames, const Regional& regional,
                   DataFileContents* contents) {
    return ParseDataFileBytes(bytes, unitNames, regional, contents, {}, {});
}

namespace {

device::Reading PointOf(double time, double value, int unitIndex) {
    device::Reading r;
    r.time = time;
    r.value = value;
    if (unitIndex >= 0)
        r.unitCode = static_cast<std::uint8_t>(unitIndex);
    return r;
}

} // namespace

bool ParseDataFileBytes(QByteArrayView bytes, const QStringList& unitNames,
                        const Regional& regional, DataFileContents* contents,
                        const DataPointSink& add, const DataFileProgress& progress) {
    *contents = DataFileContents{};
    // The encoding of the whole, as DecodeWindows1252OrUtf8 decides it; each
    // line is then decoded alone, which gives the same text as a line ends
    // at a byte that is never part of a longer character.
    enum class Encoding { Latin1, Utf8, Windows1252 };
    Encoding encoding = Encoding::Latin1;
    const char* data = bytes.data();
    qsizetype size = bytes.size();
    if (bytes.startsWith(QByteArrayView("\xEF\xBB\xBF"))) {
        encoding = Encoding::Utf8;
        data += 3;
        size -= 3;
    } else {
        bool ascii = true;
        for (qsizetype i = 0; i < size; ++i) {
            if (static_cast<unsigned char>(data[i]) >= 0x80) {
                ascii = false;
                break;
            }
        }
        if (!ascii) {
            QStringDecoder utf8(QStringDecoder::Utf8);
            constexpr qsizetype kChunk = 1 << 20;
            for (qsizetype at = 0; at < size && !utf8.hasError(); at += kChunk) {
                const QString part =
                    utf8.decode(QByteArrayView(data + at, std::min(kChunk, size - at)));
                Q_UNUSED(part);
            }
            // A character cut off at the very end is an error as well.
            const QString rest = utf8.decode(QByteArrayView());
            Q_UNUSED(rest);
            encoding = utf8.hasError() ? Encoding::Windows1252 : Encoding::Utf8;
        }
    }
    QString lineText;
    auto decode = [encoding, &lineText](const char* p, qsizetype n) {
        switch (encoding) {
        case Encoding::Latin1: {
            // Into the same buffer line after line: no allocation per line.
            lineText.resize(n);
            QChar* out = lineText.data();
            for (qsizetype i = 0; i < n; ++i)
                out[i] = QLatin1Char(p[i]);
            return;
        }
        case Encoding::Utf8:
            lineText = QString::fromUtf8(p, n);
            return;
        case Encoding::Windows1252:
            break;
        }
        lineText = DecodeWindows1252(QByteArray::fromRawData(p, n));
    };

    qsizetype pos = 0;
    // Next line without its LF (a CR left over is trimmed with the rest);
    // false at the end of the text. A final line end starts no further line.
    auto nextLine = [&](QStringView* line) {
        if (pos >= size)
            return false;
        const void* lf = std::memchr(data + pos, '\n', static_cast<std::size_t>(size - pos));
        const qsizetype end = lf ? static_cast<const char*>(lf) - data : size;
        decode(data + pos, end - pos);
        *line = lineText;
        pos = end + 1;
        return true;
    };

    QStringView line;
    QString trimmed;
    // Header lines up to the column titles.
    for (;;) {
        if (!nextLine(&line))
            return true; // no column titles: an empty graph
        trimmed = TrimDataField(line);
        if (trimmed.isEmpty())
            return false;
        if (trimmed.front() != QLatin1Char('#'))
            break;
        contents->headerLines.append(trimmed);
    }

    contents->hasColumnTitles = true;
    SplitAtLastComma(trimmed, &contents->bottomAxisTitle, &contents->leftAxisTitle);
    for (qsizetype i = 0; i < unitNames.size(); ++i) {
        if (unitNames[i].compare(contents->leftAxisTitle, Qt::CaseInsensitive) == 0) {
            contents->unitIndex = static_cast<int>(i);
            break;
        }
    }

    DateTimeTexts times(regional);
    QStringView timeText;
    QStringView valueText;
    bool any = false;
    double lastX = 0.0;
    std::size_t lines = 0;
    while (nextLine(&line)) {
        if (progress && (++lines & 0xFFFF) == 0 &&
            !progress(static_cast<double>(pos) / static_cast<double>(size))) {
            contents->cancelled = true;
            return false;
        }
        SplitAtLastComma(line, &timeText, &valueText);
        double x = 0.0;
        double y = 0.0;
        // Compared with the last accepted point itself, not with a zero
        // meaning "none yet": dates before 1900 are zero or less.
        if (!times.Parse(timeText, &x) ||
            !(ParsePlainNumber(valueText, &y) || regional.ParseNumber(valueText.toString(), &y)) ||
            (any && x <= lastX)) {
            ++contents->corruptLines;
            continue;
        }
        any = true;
        lastX = x;
        if (add)
            add(x, y);
        else
            contents->points.push_back(PointOf(x, y, contents->unitIndex));
    }
    return true;
}

} // namespace korvinet::files
