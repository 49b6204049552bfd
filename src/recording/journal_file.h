#pragma once

#include "files/data_file.h"

#include <QString>
#include <optional>

namespace korvinet::platform {
class Regional;
} // namespace korvinet::platform

namespace korvinet::recording {

// Journal files looked at without reading them whole: a start must not wait
// for a day's file grown huge, nor hold it in memory.

// How a file under a journal file's name stands to the journal.
enum class JournalFileOrigin {
    // Begun by the journal: its header block (device, units, averaging time,
    // title, notes, date saved), column titles in the units named, and a
    // first reading taken when the header says it was saved, all in UTF-8.
    Own,
    // Empty, or the start of such a file cut short before its first reading
    // was whole (a power cut while it was being begun): nothing in it yet.
    Unfinished,
    // Anything else, another program's file for one: the journal never
    // writes to it, cuts it or removes it.
    Foreign,
};

struct JournalFileFront {
    JournalFileOrigin origin = JournalFileOrigin::Foreign;
    QString unit;    // the unit of an own file's readings
    QString columns; // an own file's column titles line, without its line end
};

// Reads the first 64 KiB of the file at most. A file that cannot be read is
// foreign.
JournalFileFront ReadJournalFileFront(const QString& path);

// When the last whole line of an own file with this front was taken, read
// from the file's last few KiB; none when that line does not read.
std::optional<double> LastDataFileTime(const QString& path, const JournalFileFront& front,
                                       const platform::Regional& regional);

// The same for a day's samples (journal_reader.h): the journal's own begin
// with their column line, an unfinished one is empty or cut short within it.
JournalFileOrigin ReadJournalSamplesOrigin(const QString& path);

// Whether the alarm list at `path` belongs to the data file whose column
// titles line is `columns` (empty while the data file is unfinished), so that
// the journal may write to it or remove it: it is missing or empty, or it
// begins with that line, as the journal begins the list.
bool AlarmListBelongs(const QString& path, const QString& columns);

// The points of a data file taken at or after `from`, with its header block
// and column titles: the header is read from the front, the lines from the
// end backwards as far as the first one taken before `from` (the lines of a
// data file ascend in time), so what is read and held grows with what is
// wanted, not with the file. An unfinished last line is left out;
// corruptLines counts the damaged lines after the last point before `from`.
// False when the file cannot be read or its first 64 KiB hold no column
// titles.
bool ReadDataFileFrom(const QString& path, double from, const platform::Regional& regional,
                      files::DataFileContents* contents);

} // namespace korvinet::recording
