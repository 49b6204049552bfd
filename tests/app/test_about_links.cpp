#include "app/about_links.h"

#include <gtest/gtest.h>

namespace korvinet::app {
namespace {

TEST(AboutLinksTest, LinksHangOffTheUpdateHost) {
    const AboutLinks links = MakeAboutLinks(QStringLiteral("www.korvinet.example"));
    EXPECT_EQ(links.websiteText, QStringLiteral("www.korvinet.example"));
    EXPECT_EQ(links.websiteUrl, QStringLiteral("http://www.korvinet.example/"));
    EXPECT_EQ(links.downloadPageUrl,
              QStringLiteral("http://www.korvinet.example/files/software/Korvinet/"));
    EXPECT_EQ(links.infoEmail, QStringLiteral("info@korvinet.example"));
    EXPECT_EQ(links.infoEmailUrl, QStringLiteral("mailto:info@korvinet.example"));
    EXPECT_EQ(links.softwareEmail, QStringLiteral("software@korvinet.example"));
    EXPECT_EQ(links.softwareEmailUrl, QStringLiteral("mailto:software@korvinet.example"));

    EXPECT_EQ(AboutVersionCaption(QStringLiteral("1.0.3.0")), QStringLiteral("v1.0.3.0"));
    EXPECT_EQ(AboutVersionCaption(QString()), QStringLiteral("v"));
}

} // namespace
} // namespace korvinet::app
