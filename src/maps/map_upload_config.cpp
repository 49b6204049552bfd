#include "maps/map_upload_config.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <map>

namespace korvinet::maps {

namespace {

// Customary intervals are what the services' own devices and their users'
// scripts use; the minimums are where a service starts answering "too soon"
// or where a map gains nothing but load. Each address is the one the service
// itself documents, with its scheme: OpenRadiation's submit API is the one
// its API's README names today, and GMCmap's own submission page names plain
// http (it takes no secret, only the account and counter numbers).
constexpr std::array<MapServiceInfo, 5> kServices = {{
    {MapService::Radmon, "radmon", "radmon.org", "https://radmon.org", 60, 30, 30, 1, true},
    {MapService::Safecast, "safecast", "Safecast", "https://api.safecast.org", 300, 60, 2, 1, true},
    {MapService::OpenSenseMap, "opensensemap", "openSenseMap", "https://api.opensensemap.org", 60,
     10, 10, 2500, true},
    {MapService::OpenRadiation, "openradiation", "OpenRadiation",
     "https://submit.openradiation.net", 3600, 60, 2, 1, true},
    {MapService::GmcMap, "gmcmap", "GMCmap", "http://www.gmcmap.com", 300, 60, 60, 1, false},
}};

constexpr const char* kCommonKeys[] = {"interval", "url", "ca-file"};

// The keys a section takes besides the common ones; those marked required
// must be there.
struct KeyRule {
    const char* key;
    bool required;
};

std::vector<KeyRule> KeysOf(MapService service) {
    switch (service) {
    case MapService::Radmon:
        return {{"user", true}, {"password-file", true}};
    case MapService::Safecast:
        return {{"api-key-file", true}, {"latitude", true},   {"longitude", true},
                {"height", false},      {"device-id", false}, {"location-name", false}};
    case MapService::OpenSenseMap:
        return {{"box", true}, {"sensor", true}, {"token-file", true}, {"unit", false}};
    case MapService::OpenRadiation:
        return {{"api-key-file", true},        {"latitude", true},
                {"longitude", true},           {"measurement-environment", false},
                {"measurement-height", false}, {"apparatus-id", false}};
    case MapService::GmcMap:
        return {{"account", true}, {"counter", true}};
    }
    return {};
}

struct Value {
    QString text;
    int line = 0;
};

struct Section {
    const MapServiceInfo* info = nullptr;
    int line = 0;
    std::map<QString, Value> values;
};

class Checker {
public:
    Checker(QString folder, QString name, QString* error)
        : folder_(std::move(folder)), name_(std::move(name)), error_(error) {}

    bool Fail(int line, const QString& what) {
        if (error_ != nullptr)
            *error_ = line > 0 ? QStringLiteral("%1 line %2: %3").arg(name_).arg(line).arg(what)
                               : QStringLiteral("%1: %2").arg(name_, what);
        return false;
    }

    std::optional<MapDestination> Check(const Section& s) {
        MapDestination d;
        d.service = s.info->service;
        d.intervalS = s.info->intervalS;
        d.url = QString::fromLatin1(s.info->defaultUrl);
        for (const KeyRule& rule : KeysOf(d.service)) {
            if (rule.required && !s.values.count(QLatin1String(rule.key))) {
                Fail(s.line, QStringLiteral("[%1] needs %2 =")
                                 .arg(QLatin1String(s.info->section), QLatin1String(rule.key)));
                return std::nullopt;
            }
        }
        for (const auto& [key, value] : s.values) {
            if (!Apply(key, value, d))
                return std::nullopt;
        }
        return d;
    }

private:
    bool Apply(const QString& key, const Value& v, MapDestination& d) {
        const QString& t = v.text;
        if (key == QLatin1String("interval")) {
            bool ok = false;
            const int seconds = t.toInt(&ok);
            if (!ok || seconds <= 0)
                return Fail(v.line, QStringLiteral("interval must be a whole number of seconds, "
                                                   "not \"%1\"")
                                        .arg(t));
            if (seconds < d.Info().minIntervalS)
                return Fail(v.line, QStringLiteral("interval %1 s is below %2's minimum of %3 s")
                                        .arg(seconds)
                                        .arg(QLatin1String(d.Info().title))
                                        .arg(d.Info().minIntervalS));
            d.intervalS = seconds;
        } else if (key == QLatin1String("url")) {
            const QUrl url(t, QUrl::StrictMode);
            const QString scheme = url.scheme().toLower();
            if (!url.isValid() ||
                (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
                url.host().isEmpty() || url.hasQuery() || url.hasFragment() ||
                !url.userInfo().isEmpty())
                return Fail(v.line, QStringLiteral("url must be an http:// or https:// address "
                                                   "without a query, not \"%1\"")
                                        .arg(t));
            d.url = url.toString(QUrl::FullyEncoded); // the scheme in lower case
            while (d.url.endsWith(QLatin1Char('/')))
                d.url.chop(1);
        } else if (key == QLatin1String("ca-file")) {
            d.caFile = Resolve(t);
            if (!QFileInfo(d.caFile).isReadable())
                return Fail(v.line, QStringLiteral("cannot read the CA file \"%1\"").arg(d.caFile));
        } else if (key.endsWith(QLatin1String("-file"))) {
            return ReadSecret(v, &d.secret);
        } else if (key == QLatin1String("latitude") || key == QLatin1String("longitude") ||
                   key == QLatin1String("height")) {
            const double limit = key == QLatin1String("latitude")    ? 90
                                 : key == QLatin1String("longitude") ? 180
                                                                     : 100000;
            bool ok = false;
            const double number = t.toDouble(&ok);
            if (!ok || !std::isfinite(number) || std::abs(number) > limit)
                return Fail(v.line, QStringLiteral("%1 must be a number from %2 to %3, not \"%4\"")
                                        .arg(key)
                                        .arg(-limit)
                                        .arg(limit)
                                        .arg(t));
            (key == QLatin1String("latitude")    ? d.latitude
             : key == QLatin1String("longitude") ? d.longitude
                                                 : d.height) = number;
        } else if (key == QLatin1String("unit")) {
            const QString unit = t.toLower();
            if (unit != QLatin1String("cpm") && unit != QLatin1String("usv/h"))
                return Fail(v.line, QStringLiteral("unit must be CPM or uSv/h, not \"%1\"").arg(t));
            d.sensorTakesDose = unit == QLatin1String("usv/h");
        } else if (key == QLatin1String("location-name")) {
            d.locationName = t;
        } else if (key == QLatin1String("measurement-environment")) {
            // The values OpenRadiation's submit API takes, as it spells them.
            static const QStringList kEnvironments = {
                QStringLiteral("countryside"), QStringLiteral("city"), QStringLiteral("ontheroad"),
                QStringLiteral("inside"), QStringLiteral("plane")};
            if (!kEnvironments.contains(t.toLower()))
                return Fail(v.line, QStringLiteral("measurement-environment must be one of %1, "
                                                   "not \"%2\"")
                                        .arg(kEnvironments.join(QStringLiteral(", ")), t));
            d.measurementEnvironment = t.toLower();
        } else if (key == QLatin1String("measurement-height")) {
            // Whole metres above the ground: the service refuses a fraction.
            bool ok = false;
            const int metres = t.toInt(&ok);
            if (!ok || std::abs(metres) > 100000)
                return Fail(v.line, QStringLiteral("measurement-height must be a whole number of "
                                                   "metres, not \"%1\"")
                                        .arg(t));
            d.measurementHeight = metres;
        } else if (key == QLatin1String("apparatus-id")) {
            if (t.size() > 100)
                return Fail(v.line, QStringLiteral("apparatus-id must be at most 100 characters"));
            d.apparatusId = t;
        } else {
            // Identifiers that go into addresses: letters, digits and a few signs.
            static const QRegularExpression kId(QStringLiteral("^[A-Za-z0-9_.@-]{1,100}$"));
            if (!kId.match(t).hasMatch())
                return Fail(v.line, QStringLiteral("%1 must be letters, digits, \"_\", \".\", "
                                                   "\"@\" or \"-\", not \"%2\"")
                                        .arg(key, t));
            if (key == QLatin1String("device-id") && t.toULongLong() == 0)
                return Fail(v.line,
                            QStringLiteral("device-id must be a number, not \"%1\"").arg(t));
            (key == QLatin1String("user")      ? d.user
             : key == QLatin1String("box")     ? d.box
             : key == QLatin1String("sensor")  ? d.sensor
             : key == QLatin1String("account") ? d.account
             : key == QLatin1String("counter") ? d.counter
                                               : d.deviceId) = t;
        }
        return true;
    }

    QString Resolve(const QString& file) const {
        return QDir(folder_).absoluteFilePath(QDir::fromNativeSeparators(file));
    }

    // The secret is the file's first line; the file's name may be printed,
    // its contents never are.
    bool ReadSecret(const Value& v, QString* secret) {
        const QString path = Resolve(v.text);
        // Not a pipe or a device, which could hold the station up at its start.
        if (QFileInfo(path).exists() && !QFileInfo(path).isFile())
            return Fail(v.line,
                        QStringLiteral("the credential file \"%1\" is not a file").arg(path));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return Fail(v.line, QStringLiteral("cannot read the credential file \"%1\": %2")
                                    .arg(path, file.errorString()));
        const QByteArray line = file.readLine(4096).trimmed();
        if (line.isEmpty())
            return Fail(v.line, QStringLiteral("the credential file \"%1\" is empty").arg(path));
        *secret = QString::fromUtf8(line);
        return true;
    }

    QString folder_;
    QString name_;
    QString* error_;
};

} // namespace

const MapServiceInfo& InfoOf(MapService service) {
    return kServices[static_cast<std::size_t>(service)];
}

std::optional<UploadConfig> ReadUploadFile(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error != nullptr)
            *error = QStringLiteral("cannot read \"%1\": %2").arg(path, file.errorString());
        return std::nullopt;
    }
    // An upload file is a few dozen lines; anything far larger is not one.
    const QByteArray text = file.read(1 << 20);
    return ParseUploadFile(text, QFileInfo(path).absolutePath(), path, error);
}

std::optional<UploadConfig> ParseUploadFile(QByteArrayView text, const QString& folder,
                                            const QString& name, QString* error) {
    Checker checker(folder, name, error);
    std::vector<Section> sections;
    int number = 0;
    for (const QByteArray& raw : text.toByteArray().split('\n')) {
        ++number;
        QString line = QString::fromUtf8(raw);
        // A "#" or ";" after a space starts a comment, also behind a value.
        static const QRegularExpression kComment(QStringLiteral("(^|\\s)[#;].*$"));
        line = line.remove(kComment).trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']'))) {
                checker.Fail(number, QStringLiteral("a section is written [name]"));
                return std::nullopt;
            }
            const QString title = line.mid(1, line.size() - 2).trimmed().toLower();
            const MapServiceInfo* info = nullptr;
            QStringList known;
            for (const MapServiceInfo& s : kServices) {
                known << QLatin1String(s.section);
                if (title == QLatin1String(s.section))
                    info = &s;
            }
            if (info == nullptr) {
                checker.Fail(number, QStringLiteral("unknown section [%1]; the services are %2")
                                         .arg(title, known.join(QStringLiteral(", "))));
                return std::nullopt;
            }
            for (const Section& s : sections) {
                if (s.info == info) {
                    checker.Fail(number, QStringLiteral("[%1] appears twice").arg(title));
                    return std::nullopt;
                }
            }
            sections.push_back({info, number, {}});
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            checker.Fail(number, QStringLiteral("expected key = value"));
            return std::nullopt;
        }
        if (sections.empty()) {
            checker.Fail(number, QStringLiteral("a key before the first [section]"));
            return std::nullopt;
        }
        Section& section = sections.back();
        const QString key = line.left(eq).trimmed().toLower();
        const QString value = line.mid(eq + 1).trimmed();
        bool known =
            std::find(std::begin(kCommonKeys), std::end(kCommonKeys), key) != std::end(kCommonKeys);
        for (const KeyRule& rule : KeysOf(section.info->service))
            known = known || key == QLatin1String(rule.key);
        if (!known) {
            checker.Fail(number, QStringLiteral("[%1] has no key \"%2\"")
                                     .arg(QLatin1String(section.info->section), key));
            return std::nullopt;
        }
        if (section.values.count(key)) {
            checker.Fail(number, QStringLiteral("%1 is given twice").arg(key));
            return std::nullopt;
        }
        if (value.isEmpty()) {
            checker.Fail(number, QStringLiteral("%1 needs a value").arg(key));
            return std::nullopt;
        }
        section.values[key] = {value, number};
    }
    if (sections.empty()) {
        checker.Fail(0, QStringLiteral("names no service"));
        return std::nullopt;
    }
    UploadConfig config;
    for (const Section& s : sections) {
        std::optional<MapDestination> d = checker.Check(s);
        if (!d)
            return std::nullopt;
        config.destinations.push_back(std::move(*d));
    }
    return config;
}

} // namespace korvinet::maps
