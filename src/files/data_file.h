#pragma once

#include "device/reading.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace korvinet::device {
class TCounter;
} // namespace korvinet::device

namespace korvinet::platform {
class Regional;
} // namespace korvinet::platform

namespace korvinet::files {

// Told now and then how much of a long save or open is done (0 to 1); false
// stops it.
using DataFileProgress = std::function<bool(double done)>;
// Takes each point read, in file order, instead of DataFileContents::points.
using DataPointSink = std::function<void(double x, double y)>;

// Messages of the data file commands, exactly as the user sees them.
inline const QString kDataFileNotSaved = QStringLiteral("Error: The file could not be saved");
inline const QString kDataFileNotOpened = QStringLiteral("Error: The file could not be opened.");
inline const QString kDataFileNotRead = QStringLiteral("Error: The file could not be read");
inline const QString kOpenDataFileQuestion =
    QStringLiteral("Opening a data file will clear all data in the current graph.  Continue?");
// "Note: 3 lines in the data file were corrupt and ignored." (same words for 1).
QString CorruptLinesNote(int count);

// Everything the header block and the column-title line carry besides what the
// counter device session knows (model text, unit name, reading text).
struct DataFileHeader {
    QString averagingTime;   // the averaging entry as the list shows it: "45 seconds"
    QString title;           // GraphTitle of the settings
    QString notes;           // GraphNotes of the settings
    double dateSaved = 0.0;  // local date-time of saving, from the clock
    QString bottomAxisTitle; // caption of the chart's bottom-axis title ("Time")
    QString leftAxisTitle;   // caption of the chart's left-axis title
};

// A data file is six "#" header lines, the column titles and one line per
// point, each "date-time text, reading text" in the counter's current
// display unit, CR LF line ends, Windows-1252 (UTF-8 when the text holds
// characters Windows-1252 has not).
//
// The header block and the column titles (`model` is the counter's model
// text, `unitName` the display unit's name), each line ending in CR LF.
QString DataFileHeaderText(const QString& model, const QString& unitName,
                           const DataFileHeader& header, const platform::Regional& regional);

// The data lines "date-time text, reading text\r\n", for every writer of
// data files alike. Each day's date and each second's time of day is
// formatted once (once per line only for a time pattern showing
// milliseconds), and readings are printed as TCounter::FormatValueOf prints
// them in the unit.
class DataLineWriter {
public:
    // `regional` outlives the writer.
    DataLineWriter(int unitCode, const platform::Regional& regional);
    ~DataLineWriter();
    DataLineWriter(const DataLineWriter&) = delete;
    DataLineWriter& operator=(const DataLineWriter&) = delete;

    // Whether Windows-1252 holds the line's texts.
    bool Fits(double dateTime, double value);
    // The encoding of the lines appended from now on.
    void SetUtf8(bool utf8);
    void Append(double dateTime, double value, QByteArray& out);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Points read where they are kept (a graph series), one at a time.
struct DataFilePoints {
    std::size_t count = 0;
    std::function<double(std::size_t i)> x;
    std::function<double(std::size_t i)> y;
};
// The same for points read as the file is written, a megabyte at a time;
// false as well when progress says stop (the old file then stays as it was).
bool WriteDataFilePoints(const QString& fileName, const DataFilePoints& points,
                         const device::TCounter& counter, const DataFileHeader& header,
                         const platform::Regional& regional, const DataFileProgress& progress = {});

// What a data file holds, as far as it was read.
struct DataFileContents {
    QStringList headerLines;      // trimmed "#" lines in file order
    bool hasColumnTitles = false; // false: the file ended before a column-title line
    QString bottomAxisTitle;
    QString leftAxisTitle;
    int unitIndex = -1; // index of leftAxisTitle in the unit names, -1 if none
    // Strictly ascending time; each in the file's unit (unitIndex) when it
    // names one.
    std::vector<device::Reading> points;
    int corruptLines = 0;
    bool cancelled = false; // progress said stop: nothing read counts
};

// Reads a data file in two steps, so that the caller can leave a running
// measurement alone until the chosen file has actually been opened.
// Accepts Windows-1252 and UTF-8, CR LF and LF, the user's decimal separator
// and ".".
class DataFileReader {
public:
    explicit DataFileReader(const platform::Regional& regional) : regional_(regional) {}

    // False when the file cannot be opened for reading.
    bool Open(const QString& fileName);
    // Reads the opened file whole and closes it. False on a failure outside a
    // single data line (a blank line among the header lines, a read error);
    // then `contents` holds the header lines (and titles) read before it, and
    // no points. `unitNames` are the display-unit names in list order.
    bool Read(const QStringList& unitNames, DataFileContents* contents);
    // The same, handing the points to `add` (when given) as they are read,
    // and telling progress how far it got; false with contents->cancelled
    // when progress said stop.
    bool Read(const QStringList& unitNames, DataFileContents* contents, const DataPointSink& add,
              const DataFileProgress& progress);

private:
    const platform::Regional& regional_;
    QFile file_;
};

// What DataFileReader::Read does with the bytes of a file it has read.
bool ParseDataFile(const QByteArray& bytes, const QStringList& unitNames,
                   const platform::Regional& regional, DataFileContents* contents);
bool ParseDataFileBytes(QByteArrayView bytes, const QStringList& unitNames,
                        const platform::Regional& regional, DataFileContents* contents,
                        const DataPointSink& add, const DataFileProgress& progress);

// Blanks and control characters dropped at both ends.
QString TrimDataField(QStringView text);

} // namespace korvinet::files
