#include "files/data_file.h"

#include "device/counter.h"
#include "files/cp1252.h"
#include "files/file_output.h"
#include "platform/regional.h"

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

QByteArray FormatDataFile(const std::vector<GraphPoint>& points, const TCounter& counter,
                          const DataFileHeader& header, const Regional& regional) {
    QString text;
    text.reserve(400 + static_cast<qsizetype>(points.size()) * 40);
    text += QLatin1String("# Device: ") + counter.Info().Model + kLineEnd;
    text += QLatin1String("# Units: ") + counter.UnitName() + kLineEnd;
    text += QLatin1String("# Averaging Time: ") + header.averagingTime + QLatin1String(" sec") +
            kLineEnd;
    text += QLatin1String("# Title: ") + header.title + kLineEnd;
    text += QLatin1String("# Notes: ") + header.notes + kLineEnd;
    text += QLatin1String("# Date Saved: ") + regional.DateTimeText(header.dateSaved) + kLineEnd;
    text += header.bottomAxisTitle + kFieldSeparator + header.leftAxisTitle + kLineEnd;
    for (const GraphPoint& p : points) {
        text += regional.DateTimeText(p.x);
        text += kFieldSeparator;
        text += counter.FormatValue(p.y);
        text += kLineEnd;
    }
    return EncodeWindows1252(text);
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

    double lastAccepted = 0.0;
    QString timeText;
    QString valueText;
    while (nextLine(&line)) {
        SplitAtLastComma(line, &timeText, &valueText);
        double x = 0.0;
        double y = 0.0;
        if (!regional_.ParseDateTime(timeText, &x) || !regional_.ParseNumber(valueText, &y) ||
            (lastAccepted > 0.0 && x <= lastAccepted)) {
            ++contents->corruptLines;
            continue;
        }
        lastAccepted = x;
        contents->points.push_back(GraphPoint{x, y, regional_.LongTimeText(x), kDefaultPointColor});
    }
    return true;
}

} // namespace korvinet
