#include "files/data_file.h"

#include "device/counter.h"
#include "files/cp1252.h"
#include "files/file_output.h"
#include "platform/datetime.h"
#include "platform/regional.h"
#include "platform/time_of_day.h"

#include <QDate>
#include <QHash>
#include <QTime>
#include <cmath>
#include <limits>

namespace korvinet {

namespace {

const QLatin1String kLineEnd("\r\n");
const QLatin1String kFieldSeparator(", ");

bool IsTrimmed(QChar c) {
    return c.unicode() <= 0x20 || c.unicode() == 0x7F;
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

// Date-time text for a whole file at a time. A graph holds up to 57,600
// points on two or three days; converting each through a local QDateTime asks
// the system's time-zone data every time, which makes a save or an open take
// seconds. This gives the same texts as Regional (short date, blank, long time,
// the date alone at midnight) from the date and the time of day directly, and
// formats or parses each date only when it changes.
class DateTimeTexts {
public:
    explicit DateTimeTexts(const Regional& regional) : regional_(regional) {}

    QString Text(double dateTime) {
        qint64 day = 0;
        int ms = 0;
        Split(dateTime, &day, &ms);
        if (day != formattedDay_) {
            formattedDay_ = day;
            formattedDate_ = regional_.Locale().toString(QDate::fromJulianDay(day),
                                                         regional_.ShortDatePattern());
        }
        if (ms < 1000) // midnight, to the second
            return formattedDate_;
        return formattedDate_ + QLatin1Char(' ') + TimeText(ms);
    }

    QString LongTimeText(double dateTime) {
        qint64 day = 0;
        int ms = 0;
        Split(dateTime, &day, &ms);
        return TimeText(ms);
    }

    // Accepts "date time" and a bare date, divided where the regional
    // patterns say, as Regional::ParseDateTime does.
    bool Parse(const QString& text, double* dateTime) {
        const QStringView t = QStringView(text).trimmed();
        for (const qsizetype split : regional_.DateTimeSplits(t)) {
            const QDate date = ParseDate(split < 0 ? t : t.left(split));
            if (!date.isValid())
                continue;
            int ms = 0;
            if (split >= 0) {
                const QStringView timeText = t.mid(split + 1).trimmed();
                ms = -1;
                for (const QString& pattern : regional_.TimeReadPatterns()) {
                    ms = ParseTimeOfDay(timeText, regional_.Locale(), pattern);
                    if (ms >= 0)
                        break;
                }
                if (ms < 0)
                    continue;
            }
            *dateTime = static_cast<double>(date.toJulianDay() - EpochJulianDay()) + ms / kMsPerDay;
            return true;
        }
        return false;
    }

private:
    static qint64 EpochJulianDay() {
        static const qint64 epoch = QDate(1899, 12, 30).toJulianDay();
        return epoch;
    }

    // The date's Julian day and the milliseconds of the day, rounded as
    // QtFromDateTime rounds them.
    static void Split(double dateTime, qint64* julianDay, int* ms) {
        double whole = std::floor(dateTime);
        auto rest = static_cast<qint64>(std::llround((dateTime - whole) * kMsPerDay));
        if (rest >= static_cast<qint64>(kMsPerDay)) {
            whole += 1.0;
            rest = 0;
        }
        *julianDay = EpochJulianDay() + static_cast<qint64>(whole);
        *ms = static_cast<int>(rest);
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

    QString TimeText(int ms) const {
        return regional_.Locale().toString(QTime::fromMSecsSinceStartOfDay(ms),
                                           regional_.LongTimePattern());
    }

    const Regional& regional_;
    qint64 formattedDay_ = std::numeric_limits<qint64>::min();
    QString formattedDate_;
    QHash<QString, QDate> parsedDates_;
    QString lastDateText_;
    QDate lastDate_;
};

} // namespace

QString CorruptLinesNote(int count) {
    return QStringLiteral("Note: %1 lines in the data file were corrupt and ignored.").arg(count);
}

QString TrimDataField(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsTrimmed(text[begin]))
        ++begin;
    while (end > begin && IsTrimmed(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin).toString();
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

QString DataFileLineText(double dateTime, const QString& readingText, const Regional& regional) {
    return DateTimeTexts(regional).Text(dateTime) + kFieldSeparator + readingText + kLineEnd;
}

QByteArray FormatDataFile(const std::vector<GraphPoint>& points, const TCounter& counter,
                          const DataFileHeader& header, const Regional& regional) {
    QString text;
    text.reserve(400 + static_cast<qsizetype>(points.size()) * 40);
    text += DataFileHeaderText(counter.Info().Model, counter.UnitName(), header, regional);
    DateTimeTexts times(regional);
    for (const GraphPoint& p : points) {
        text += times.Text(p.x);
        text += kFieldSeparator;
        text += counter.FormatValue(p.y);
        text += kLineEnd;
    }
    // Windows-1252 whenever it can hold the text. Date-times under some
    // regional settings (Japanese, Chinese, ...) or a title in another script
    // cannot be held; such a file is written in UTF-8, which we read back,
    // rather than with its characters lost to "?".
    bool exact = false;
    QByteArray bytes = EncodeWindows1252(text, &exact);
    return exact ? bytes : text.toUtf8();
}

bool WriteDataFile(const QString& fileName, const std::vector<GraphPoint>& points,
                   const TCounter& counter, const DataFileHeader& header,
                   const Regional& regional) {
    return WriteWholeFile(fileName, FormatDataFile(points, counter, header, regional));
}

bool DataFileReader::Open(const QString& fileName) {
    file_.close();
    if (fileName.isEmpty())
        return false;
    file_.setFileName(fileName);
    return file_.open(QIODevice::ReadOnly);
}

bool DataFileReader::Read(const QStringList& unitNames, DataFileContents* contents) {
    *contents = DataFileContents{};
    if (!file_.isOpen())
        return false;
    const QByteArray bytes = file_.readAll();
    const bool readOk = file_.error() == QFileDevice::NoError;
    file_.close();
    if (!readOk)
        return false;
    return ParseDataFile(bytes, unitNames, regional_, contents);
}

bool ParseDataFile(const QByteArray& bytes, const QStringList& unitNames, const Regional& regional,
                   DataFileContents* contents) {
    *contents = DataFileContents{};
    const QString text = DecodeWindows1252OrUtf8(bytes);
    const QStringView all(text);
    qsizetype pos = 0;
    // Next line without its LF (a CR left over is trimmed with the rest);
    // false at the end of the text. A final line end starts no further line.
    auto nextLine = [&](QStringView* line) {
        if (pos >= all.size())
            return false;
        qsizetype lf = all.indexOf(QLatin1Char('\n'), pos);
        if (lf < 0)
            lf = all.size();
        *line = all.sliced(pos, lf - pos);
        pos = lf + 1;
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
    QString timeText;
    QString valueText;
    while (nextLine(&line)) {
        SplitAtLastComma(line, &timeText, &valueText);
        double x = 0.0;
        double y = 0.0;
        // Compared with the last accepted point itself, not with a zero
        // meaning "none yet": dates before 1900 are zero or less.
        if (!times.Parse(timeText, &x) || !regional.ParseNumber(valueText, &y) ||
            (!contents->points.empty() && x <= contents->points.back().x)) {
            ++contents->corruptLines;
            continue;
        }
        contents->points.push_back(GraphPoint{x, y, times.LongTimeText(x), kDefaultPointColor});
    }
    return true;
}

} // namespace korvinet
