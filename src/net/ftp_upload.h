#pragma once

#include <QString>
#include <cstdint>
#include <functional>

namespace korvinet::platform {
class Clock;
class Regional;
} // namespace korvinet::platform

namespace korvinet::net {} // namespace korvinet::net

namespace korvinet::net {

// The upload timer's period; the timer itself is never started.
inline constexpr int kFtpTimerIntervalMs = 600000;

// What one upload needs from the settings record (same field names).
struct FtpUploadSettings {
    QString ftpHost; // host name or dotted address, optionally ":" and a port
    QString ftpUsername;
    QString ftpPassword;
    QString ftpDirectory;         // changed to before storing, also when empty
    QString ftpFilename;          // name on the server, used as it is
    std::int32_t ftpFiletype = 1; // entry of the file-type list: 0 JPEG, 1 BMP, 2 data file
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
    FtpUploader(const platform::Clock& clock, const platform::Regional& regional,
                SaveChartAsFunction saveChartAs, TempFolderFunction tempFolder = {});

    // Runs one attempt and returns the last status text.
    QString SendNow(const FtpUploadSettings& settings, const StatusFunction& status = {});

private:
    const platform::Clock& clock_;
    const platform::Regional& regional_;
    SaveChartAsFunction saveChartAs_;
    TempFolderFunction tempFolder_;
    QString tempFileName_;
};

} // namespace korvinet::net
