#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

namespace korvinet {
class Clock;
class Regional;
} // namespace korvinet

namespace korvinet::net {

// The entries of the file-type list, in order; entry + 1 is the format code
// handed to SaveChartAs (1 JPEG, 2 BMP, 3 data file; no entry, -1, gives 0).
QStringList FtpFileTypeNames();
int FtpFormatCode(std::int32_t fileType);

// The upload timer's period; the timer itself is never started.
inline constexpr int kFtpTimerIntervalMs = 600000;

// What one upload needs from the settings record (same field names).
struct FtpUploadSettings {
    QString ftpHost; // host name or dotted address, optionally ":" and a port
    QString ftpUsername;
    QString ftpPassword;
    QString ftpDirectory; // changed to before storing, also when empty
    QString ftpFilename;  // name on the server, used as it is
    std::int32_t ftpFiletype = 1;
};

// One upload attempt at a time: writes the chosen file into a fresh temporary
// file (prefix "quo", made with exclusive creation and owner-only access),
// logs in, changes directory, stores the file as a binary transfer and
// reports each step as a status text. The temporary file is always deleted.
// The attempt blocks the calling thread while the server answers.
class FtpUploader {
public:
    // Writes the file for a format code and says whether it worked; the main
    // window's SaveChartAs.
    using SaveChartAsFunction = std::function<bool(const QString& fileName, int formatCode)>;
    // Receives every status text as the attempt proceeds (FTPStatusLbl).
    using StatusFunction = std::function<void(const QString& status)>;
    // The folder for the temporary file; an empty answer is a failure.
    using TempFolderFunction = std::function<QString()>;

    // The temporary folder defaults to the user's (QDir::tempPath()).
    FtpUploader(const Clock& clock, const Regional& regional, SaveChartAsFunction saveChartAs,
                TempFolderFunction tempFolder = {});

    // Runs one attempt and returns the last status text.
    QString SendNow(const FtpUploadSettings& settings, const StatusFunction& status = {});

    // The temporary file of the attempt under way; empty between attempts.
    const QString& TempFileName() const { return tempFileName_; }

private:
    const Clock& clock_;
    const Regional& regional_;
    SaveChartAsFunction saveChartAs_;
    TempFolderFunction tempFolder_;
    QString tempFileName_;
};

} // namespace korvinet::net
