#include "app/about_window.h"
#include "app/main_window.h"
#include "net/ftp_upload.h"
#include "net/http_client.h"
#include "net/update_check.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace korvinet::app {

void TFormMain::SetAboutWindow(TFormAbout* about) {
    aboutWindow_ = about;
    if (about)
        about->Attach(this, &deps_.ui);
}

void TFormMain::CheckForUpdatesClick() {
    // The check never throws: every failure arrives as its message. While the
    // client waits the window keeps running, so a second check started
    // meanwhile is refused by the client and reported as a failure.
    const net::UpdateCheckResult result =
        net::CheckForUpdates(*HttpClient, ProgramVersion, UpdateHostName);
    for (const QString& message : result.messages)
        deps_.ui.Message(message);
    if (!result.question.isEmpty() && deps_.ui.Confirm(result.question))
        deps_.ui.ShellOpen(result.openUrl);
}

void TFormMain::FTPEditSettings() {
    Options.ftpHost = FTPHost->text();
    Options.ftpUsername = FTPUsername->text();
    Options.ftpPassword = FTPPassword->text();
    Options.ftpDirectory = FTPDirectory->text();
    Options.ftpFilename = FTPFilename->text();
    // A text that is not a whole number of minutes keeps the last good one.
    bool isNumber = false;
    const int interval = FTPInterval->text().trimmed().toInt(&isNumber);
    if (isNumber)
        Options.ftpInterval = interval;
    Options.ftpEnabled = FTPEnabled->isChecked();
    Options.ftpFiletype = FTPFiletype->currentIndex();
}

void TFormMain::FTPSendNowClick() {
    const auto write = [this](const QString& fileName, int formatCode) {
        FtpTempFileName = fileName;
        return FtpFileWriter ? FtpFileWriter(fileName, formatCode)
                             : SaveChartAs(fileName, formatCode);
    };
    // The attempt blocks the window while the server answers, so each status
    // is painted at once rather than when the attempt is over.
    const auto status = [this](const QString& text) {
        FTPStatusLbl->setText(text);
        FTPStatusLbl->repaint();
    };

    net::FtpUploadSettings settings;
    settings.ftpHost = Options.ftpHost;
    settings.ftpUsername = Options.ftpUsername;
    settings.ftpPassword = Options.ftpPassword;
    settings.ftpDirectory = Options.ftpDirectory;
    settings.ftpFilename = Options.ftpFilename;
    settings.ftpFiletype = Options.ftpFiletype;

    net::FtpUploader uploader(deps_.clock, deps_.regional, write);
    uploader.SendNow(settings, status);
    // The uploader has deleted the temporary file by now.
    FtpTempFileName.clear();
}

} // namespace korvinet::app
