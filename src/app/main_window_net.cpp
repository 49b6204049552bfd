#include "app/main_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

namespace korvinet {

void TFormMain::CheckForUpdatesClick() {}

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

void TFormMain::FTPSendNowClick() {}

} // namespace korvinet
