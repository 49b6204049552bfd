#include "app/about_links.h"

#include "net/update_check.h"

namespace korvinet::app {

AboutLinks MakeAboutLinks(const QString& host) {
    QString domain = host;
    if (domain.startsWith(QLatin1String("www."), Qt::CaseInsensitive)) {
        domain = domain.mid(4);
    }
    AboutLinks links;
    links.websiteText = host;
    links.websiteUrl = QStringLiteral("http://") + host + QLatin1Char('/');
    links.downloadPageUrl = net::DownloadPageUrl(host);
    links.infoEmail = QStringLiteral("info@") + domain;
    links.infoEmailUrl = QStringLiteral("mailto:") + links.infoEmail;
    links.softwareEmail = QStringLiteral("software@") + domain;
    links.softwareEmailUrl = QStringLiteral("mailto:") + links.softwareEmail;
    return links;
}

QString AboutVersionCaption(const QString& ownVersion) {
    return QLatin1Char('v') + ownVersion;
}

} // namespace korvinet::app
