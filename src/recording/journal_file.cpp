#include "recording/journal_file.h"

#include "recording/journal_reader.h"

#include <QFile>
#include <QStringDecoder>
#include <algorithm>
#include <vector>

namespace korvinet::recording {

namespace {

// Far more than a header block and a line, far less than a day's file.
constexpr qint64 kFrontBytes = 64 * 1024;
// What is read at a time from the end of a file.
constexpr qint64 kPieceBytes = 64 * 1024;
// What of a piece is read to learn when its first line was taken.
constexpr qsizetype kProbeBytes = 4096;

// The header lines the journal begins a file with (DataFileHeaderText).
const char* const kHeaderLabels[] = {
    "# Device: ", "# Units: ", "# Averaging Time: ", "# Title: ", "# Notes: ", "# Date Saved: "};
constexpr qsizetype kHeaderLines = std::size(kHeaderLabels);

// The text before and after the last comma of a line, trimmed.
QString BeforeLastComma(const QString& line) {
    return files::TrimDataField(
        QStringView(line).left(std::max<qsizetype>(line.lastIndexOf(','), 0)));
}
QString AfterLastComma(const QString& line) {
    return files::TrimDataField(QStringView(line).mid(line.lastIndexOf(',') + 1));
}

// The time of the first point that reads among the whole lines of `piece`;
// false when none does.
bool FirstTime(const QByteArray& header, QByteArrayView piece, const platform::Regional& regional,
               double* time) {
    const qsizetype end = piece.first(std::min(piece.size(), kProbeBytes)).lastIndexOf('\n');
    if (end < 0)
        return false;
    files::DataFileContents probe;
    if (!files::ParseDataFile(header + piece.first(end + 1).toByteArray(), {}, regional, &probe) ||
        probe.points.empty())
        return false;
    *time = probe.points.front().time;
    return true;
}

} // namespace

JournalFileFront ReadJournalFileFront(const QString& path) {
    JournalFileFront front;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return front;
    const QByteArray bytes = file.read(kFrontBytes);
    // Read up to its end, or only as far as the front goes.
    const bool all = bytes.size() == file.size();
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes); // a character cut at the end is no error yet
    if (utf8.hasError())
        return front;
    const QStringList lines = text.split(QLatin1Char('\n'));
    QString units;
    QString saved;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (i + 1 == lines.size()) {
            // What follows the last line end: the journal stopped while
            // beginning the file, if it began the way the journal begins.
            const bool unfinished = i >= kHeaderLines ||
                                    line.startsWith(QLatin1String(kHeaderLabels[i])) ||
                                    QLatin1String(kHeaderLabels[i]).startsWith(line);
            if (all && unfinished)
                front.origin = JournalFileOrigin::Unfinished;
            return front;
        }
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (i < kHeaderLines) {
            const QLatin1String label(kHeaderLabels[i]);
            if (!line.startsWith(label))
                return front;
            if (i == 1)
                units = files::TrimDataField(QStringView(line).mid(label.size()));
            if (i == kHeaderLines - 1)
                saved = files::TrimDataField(QStringView(line).mid(label.size()));
        } else if (i == kHeaderLines) {
            if (line.startsWith(QLatin1Char('#')) || AfterLastComma(line) != units)
                return front;
            front.columns = line;
        } else {
            // The first reading went out with the header, dated as saved.
            if (BeforeLastComma(line) == saved) {
                front.origin = JournalFileOrigin::Own;
                front.unit = units;
            } else {
                front.columns.clear();
            }
            return front;
        }
    }
    return front;
}

std::optional<double> LastDataFileTime(const QString& path, const JournalFileFront& front,
                                       const platform::Regional& regional) {
    QFile file(path);
    if (front.origin != JournalFileOrigin::Own || !file.open(QIODevice::ReadOnly) ||
        !file.seek(std::max<qint64>(0, file.size() - kProbeBytes)))
        return std::nullopt;
    const QByteArray tail = file.read(kProbeBytes);
    const qsizetype end = tail.lastIndexOf('\n');
    const qsizetype start = tail.lastIndexOf('\n', end - 1);
    files::DataFileContents line;
    if (start < 0 ||
        !files::ParseDataFile(front.columns.toUtf8() + tail.sliced(start, end - start + 1), {},
                              regional, &line) ||
        line.points.size() != 1)
        return std::nullopt;
    return line.points.front().time;
}

JournalFileOrigin ReadJournalSamplesOrigin(const QString& path) {
    const QByteArrayView header(kJournalSamplesHeader);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return JournalFileOrigin::Foreign;
    const QByteArray front = file.read(header.size());
    if (front.size() == header.size() && front == header)
        return JournalFileOrigin::Own;
    return front.size() == file.size() && header.startsWith(front) ? JournalFileOrigin::Unfinished
                                                                   : JournalFileOrigin::Foreign;
}

bool AlarmListBelongs(const QString& path, const QString& columns) {
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (file.size() == 0)
        return true;
    const QByteArray line = columns.toUtf8() + "\r\n";
    return !columns.isEmpty() && file.read(line.size()) == line;
}

bool ReadDataFileFrom(const QString& path, double from, const platform::Regional& regional,
                      files::DataFileContents* contents) {
    *contents = files::DataFileContents{};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The header block ends with the column titles, the first line that is
    // no "#" line.
    const QByteArray front = file.read(kFrontBytes);
    qint64 dataStart = -1;
    for (qsizetype at = 0; at < front.size() && dataStart < 0;) {
        const qsizetype end = front.indexOf('\n', at);
        if (end < 0)
            return false;
        if (!front.mid(at, end - at).trimmed().startsWith('#'))
            dataStart = end + 1;
        at = end + 1;
    }
    if (dataStart < 0)
        return false;
    const QByteArray header = front.left(dataStart);

    // Pieces from the end backwards, until one begins before `from`.
    std::vector<QByteArray> pieces;
    qint64 begin = file.size();
    while (begin > dataStart) {
        const qint64 at = std::max(dataStart, begin - kPieceBytes);
        if (!file.seek(at))
            return false;
        pieces.push_back(file.read(begin - at));
        if (pieces.back().size() != begin - at)
            return false;
        begin = at;
        // Unless it begins the data, a piece begins within a line.
        const QByteArray& piece = pieces.back();
        const qsizetype firstLine = at == dataStart ? 0 : piece.indexOf('\n') + 1;
        double first = 0.0;
        if (firstLine > 0 || at == dataStart)
            if (FirstTime(header, QByteArrayView(piece).sliced(firstLine), regional, &first) &&
                first < from)
                break;
    }
    QByteArray bytes = header;
    for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece)
        bytes += *piece;
    pieces.clear();
    if (begin > dataStart) { // the line the first piece begins within
        const qsizetype lineEnd = bytes.indexOf('\n', header.size());
        bytes.remove(header.size(), (lineEnd < 0 ? bytes.size() : lineEnd + 1) - header.size());
    }
    bytes.truncate(bytes.lastIndexOf('\n') + 1);

    // Only the points from `from` on, and the damaged lines among them.
    int corruptBefore = 0;
    const bool read = files::ParseDataFileBytes(bytes, {}, regional, contents,
                                                [&](double x, double y) {
                                                    if (x < from) {
                                                        corruptBefore = contents->corruptLines;
                                                        return;
                                                    }
                                                    device::Reading point;
                                                    point.time = x;
                                                    point.value = y;
                                                    contents->points.push_back(point);
                                                },
                                                {});
    contents->corruptLines -= corruptBefore;
    return read;
}

} // namespace korvinet::recording
