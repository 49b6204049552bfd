#pragma once

#include <QString>

namespace korvinet::app {

// What the About window's link labels show and what their clicks ask the
// shell to open. Everything hangs off the update server's host name.
struct AboutLinks {
    QString websiteText;      // `Website` label and the logo: the host name
    QString websiteUrl;       // "http://" + host + "/"
    QString downloadPageUrl;  // `SWWebsite` label text and target
    QString infoEmail;        // `InfoEmail` label text
    QString infoEmailUrl;     // "mailto:" + infoEmail
    QString softwareEmail;    // `EmailSoftware` label text
    QString softwareEmailUrl; // "mailto:" + softwareEmail
};

// The links for a host; the two addresses live at the host's domain (a leading
// "www." dropped): info@ and software@.
AboutLinks MakeAboutLinks(const QString& host);

// The `Version` label's caption when the window is shown: "v" and the own
// version text ("v" alone when the version cannot be read).
QString AboutVersionCaption(const QString& ownVersion);

} // namespace korvinet::app
