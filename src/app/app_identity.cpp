#include "app/app_identity.h"
#include "platform/version.h"

#include "net/update_check.h"

#include <QCoreApplication>

namespace korvinet::app {

void NameApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("Korvinet"));
    QCoreApplication::setApplicationVersion(platform::OwnVersionText());
}

} // namespace korvinet::app
