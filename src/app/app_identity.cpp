#include "app/app_identity.h"
#include "platform/version.h"

#include "net/update_check.h"

#include <QCoreApplication>

namespace korvinet {

void NameApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("Korvinet"));
    QCoreApplication::setApplicationVersion(OwnVersionText());
}

} // namespace korvinet
