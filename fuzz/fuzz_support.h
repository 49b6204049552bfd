#pragma once

#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

// A property every input must keep; a breach aborts, so libFuzzer keeps the
// input as a crash.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "FUZZ_CHECK failed: %s at %s:%d\n", #condition, __FILE__,         \
                         __LINE__);                                                                \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace korvinet::fuzz {

// A file in memory with a path, for readers that open files by name: each
// input reaches them without a disk write.
class MemoryFile {
public:
    MemoryFile() : fd_(::memfd_create("korvinet-fuzz", 0)) {
        FUZZ_CHECK(fd_ >= 0);
        path_ = QStringLiteral("/proc/self/fd/%1").arg(fd_);
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    const QString& Path() const { return path_; }

    void Fill(const void* data, std::size_t size) {
        FUZZ_CHECK(::ftruncate(fd_, 0) == 0);
        FUZZ_CHECK(::pwrite(fd_, data, size, 0) == static_cast<ssize_t>(size));
    }

private:
    int fd_;
    QString path_;
};

} // namespace korvinet::fuzz
