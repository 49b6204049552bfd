#pragma once

// The process's memory as Linux reports it, for benchmarks that give it.
#include <QByteArray>
#include <QFile>
#include <QList>

namespace korvinet::bench {

// "VmHWM" (the peak) or "VmRSS" (now) of the process, in kB; 0 where the
// system does not say.
inline long MemoryKb(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field) + 1).trimmed().split(' ').value(0).toLong();
    return 0;
}

// Starts the peak over from what the process holds now.
inline void ResetPeakMemory() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace korvinet::bench
