#include "maps/map_requests.h"

#include "platform/text_format.h"
#include "platform/version.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>
#include <cmath>

namespace korvinet::maps {

using platform::FormatC;

namespace {

constexpr std::int8_t kMicroSievertPerHour = 4; // display unit code of µSv/hr

QByteArray Encoded(const QString& text) {
    return QUrl::toPercentEncoding(text);
}

double Rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

QByteArray Json(const QJsonValue& value) {
    return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                           : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

HttpRequest Get(const QString& url) {
    HttpRequest request;
    request.url = url;
    return request;
}

HttpRequest PostJson(const QString& url, const QJsonValue& body) {
    HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}};
    request.body = Json(body);
    return request;
}

// A reply's text without markup, on one line: what the services that answer
// in words say, however much page there is around it.
QString ReplyText(const QByteArray& body) {
    static const QRegularExpression kMarkup(QStringLiteral("<!--.*?-->|<[^>]*>"),
                                            QRegularExpression::DotMatchesEverythingOption);
    return QString::fromUtf8(body).replace(kMarkup, QStringLiteral(" ")).simplified();
}

// The start of a reply's text, without control characters, for the log.
QString Excerpt(const QString& text) {
    QString line = text.left(120);
    for (QChar& c : line)
        if (!c.isPrint())
            c = QLatin1Char('?');
    return text.size() > 120 ? line.left(117) + QStringLiteral("...") : line;
}

QString Excerpt(const QByteArray& body) {
    return Excerpt(ReplyText(body));
}

UploadVerdict Verdict(UploadOutcome outcome, const QString& why) {
    return {outcome, why};
}

// What every service's answer means before its own words are read.
std::optional<UploadVerdict> Common(const HttpResult& r) {
    if (r.status == 0)
        return Verdict(UploadOutcome::Failed, r.error);
    if (r.status == 429)
        return Verdict(UploadOutcome::SlowDown, QStringLiteral("HTTP 429 Too Many Requests"));
    if (r.status >= 500 || r.status == 408 || (r.status >= 300 && r.status < 400))
        return Verdict(UploadOutcome::Failed,
                       QStringLiteral("HTTP %1 %2").arg(r.status).arg(Excerpt(r.body)).trimmed());
    return std::nullopt;
}

// The REST services: 2xx accepted, 401 and 403 refused, other 4xx rejected.
UploadVerdict Rest(const HttpResult& r) {
    const QString said = QStringLiteral("HTTP %1 %2").arg(r.status).arg(Excerpt(r.body)).trimmed();
    if (r.status >= 200 && r.status < 300)
        return Verdict(UploadOutcome::Accepted, said);
    if (r.status == 401 || r.status == 403)
        return Verdict(UploadOutcome::Refused, said);
    return Verdict(UploadOutcome::Rejected, said);
}

} // namespace

qint64 IntervalStart(qint64 utcMs, qint64 intervalMs) {
    const qint64 rest = utcMs % intervalMs;
    return utcMs - rest - (rest < 0 ? intervalMs : 0); // down, also before 1970
}

std::vector<IntervalMean> NextIntervals(const ReadSamples& read, qint64 fromMs, qint64 toMs,
                                        qint64 intervalMs, std::size_t maxCount) {
    std::vector<IntervalMean> intervals;
    if (intervalMs <= 0 || maxCount == 0 || fromMs >= toMs)
        return intervals;
    read(fromMs, toMs, [&](const CountSample& s) {
        const qint64 start = IntervalStart(s.utcMs, intervalMs);
        if (intervals.empty() || intervals.back().startMs != start) {
            if (!intervals.empty() && intervals.back().liveMs == 0)
                intervals.pop_back(); // no time counted: no rate to tell
            if (intervals.size() == maxCount)
                return false;
            intervals.push_back({start, start + intervalMs, 0, 0});
        }
        intervals.back().counts += s.counts;
        intervals.back().liveMs += s.intervalMs;
        if (s.intervalMs > 0)
            intervals.back().lastMs = s.utcMs;
        return true;
    });
    if (!intervals.empty() && intervals.back().liveMs == 0)
        intervals.pop_back();
    return intervals;
}

double DoseRateUsvh(const measure::RateConversion& conversion, double rawCpm) {
    measure::RateConversion usvh = conversion;
    usvh.unitCode = kMicroSievertPerHour;
    return usvh.FromRawCpm(rawCpm).value;
}

bool NeedsDose(const MapDestination& d) {
    return d.service == MapService::OpenRadiation ||
           (d.service == MapService::OpenSenseMap && d.sensorTakesDose);
}

QString IsoUtc(qint64 utcMs) {
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC)
        .toString(utcMs % 1000 == 0 ? QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")
                                    : QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QString ReportUuid(const MapDestination& d, qint64 intervalStartMs) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayLiteral("korvinet openradiation report\n"));
    hash.addData(d.secret.toUtf8() + '\n');
    hash.addData(QByteArray::number(intervalStartMs));
    QByteArray bytes = hash.result().left(16);
    bytes[6] = static_cast<char>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<char>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    const QByteArray hex = bytes.toHex();
    return QString::fromLatin1(hex.left(8) + '-' + hex.mid(8, 4) + '-' + hex.mid(12, 4) + '-' +
                               hex.mid(16, 4) + '-' + hex.mid(20));
}

HttpRequest BuildMapRequest(const MapDestination& d, std::span<const IntervalMean> intervals,
                            const UploadExtras& extras) {
    if (intervals.empty())
        return {};
    const IntervalMean& first = intervals.front();
    const double cpm = first.Cpm();
    const bool hasDose = extras.dose.has_value();
    const double dose = hasDose ? DoseRateUsvh(*extras.dose, cpm) : 0.0;
    switch (d.service) {
    case MapService::Radmon: {
        const QDateTime end = QDateTime::fromMSecsSinceEpoch(first.endMs, Qt::UTC);
        return Get(d.url + QStringLiteral("/radmon.php?function=submit&user=") + Encoded(d.user) +
                   QStringLiteral("&password=") + Encoded(d.secret) + QStringLiteral("&value=") +
                   FormatC("%.2f", cpm) + QStringLiteral("&unit=CPM&datetime=") +
                   end.toString(QStringLiteral("yyyy-MM-dd'%20'HH:mm:ss")));
    }
    case MapService::Safecast: {
        QJsonObject body{{QStringLiteral("latitude"), d.latitude.value_or(0)},
                         {QStringLiteral("longitude"), d.longitude.value_or(0)},
                         {QStringLiteral("value"), Rounded(cpm, 2)},
                         {QStringLiteral("unit"), QStringLiteral("cpm")},
                         {QStringLiteral("captured_at"), IsoUtc(first.endMs)}};
        if (!d.deviceId.isEmpty())
            body.insert(QStringLiteral("device_id"), d.deviceId.toLongLong());
        // The service keeps the height in an integer column and drops a
        // fraction; whole metres, rounded, say what the user meant.
        if (d.height)
            body.insert(QStringLiteral("height"), static_cast<qint64>(std::llround(*d.height)));
        if (!d.locationName.isEmpty())
            body.insert(QStringLiteral("location_name"), d.locationName);
        return PostJson(d.url + QStringLiteral("/measurements.json?api_key=") + Encoded(d.secret),
                        body);
    }
    case MapService::OpenSenseMap: {
        // The service refuses a whole batch for one value that is not a
        // number, so such a value stays behind alone.
        QJsonArray values;
        for (const IntervalMean& i : intervals) {
            const double value =
                d.sensorTakesDose && extras.dose ? DoseRateUsvh(*extras.dose, i.Cpm()) : i.Cpm();
            if (!std::isfinite(value))
                continue;
            values.append(
                QJsonObject{{QStringLiteral("sensor"), d.sensor},
                            {QStringLiteral("value"),
                             d.sensorTakesDose ? FormatC("%.4f", value) : FormatC("%.2f", value)},
                            {QStringLiteral("createdAt"), IsoUtc(i.endMs)}});
        }
        if (values.isEmpty())
            return {};
        HttpRequest request = PostJson(
            d.url + QStringLiteral("/boxes/") + Encoded(d.box) + QStringLiteral("/data"), values);
        // The box's access token as it is, without an authentication scheme.
        request.headers.append({"Authorization", d.secret.toUtf8()});
        return request;
    }
    case MapService::OpenRadiation: {
        // The hits were counted in the time the samples took, which ended
        // with the last one: that span, not the whole interval, is the
        // measurement's, so hits over the span give the value's rate.
        const qint64 liveMs = static_cast<qint64>(first.liveMs);
        QJsonObject data{{QStringLiteral("reportUuid"), ReportUuid(d, first.startMs)},
                         {QStringLiteral("latitude"), d.latitude.value_or(0)},
                         {QStringLiteral("longitude"), d.longitude.value_or(0)},
                         {QStringLiteral("value"), Rounded(dose, 4)},
                         {QStringLiteral("startTime"), IsoUtc(first.lastMs - liveMs)},
                         {QStringLiteral("endTime"), IsoUtc(first.lastMs)},
                         {QStringLiteral("hitsNumber"), static_cast<qint64>(first.counts)},
                         {QStringLiteral("apparatusSensorType"), QStringLiteral("geiger")},
                         {QStringLiteral("manualReporting"), false},
                         {QStringLiteral("organisationReporting"),
                          QStringLiteral("Korvinet ") + platform::OwnVersionText()},
                         {QStringLiteral("reportContext"), QStringLiteral("routine")}};
        if (!d.measurementEnvironment.isEmpty())
            data.insert(QStringLiteral("measurementEnvironment"), d.measurementEnvironment);
        if (d.measurementHeight)
            data.insert(QStringLiteral("measurementHeight"), *d.measurementHeight);
        if (!d.apparatusId.isEmpty())
            data.insert(QStringLiteral("apparatusId"), d.apparatusId);
        // Its API reads JSON bodies of the plain JSON type only.
        return PostJson(
            d.url + QStringLiteral("/measurements"),
            QJsonObject{{QStringLiteral("apiKey"), d.secret}, {QStringLiteral("data"), data}});
    }
    case MapService::GmcMap: {
        QString url = d.url + QStringLiteral("/log2.asp?AID=") + Encoded(d.account) +
                      QStringLiteral("&GID=") + Encoded(d.counter) + QStringLiteral("&CPM=") +
                      FormatC("%.0f", cpm) + QStringLiteral("&ACPM=") +
                      FormatC("%.2f", extras.averageCpm);
        if (hasDose)
            url += QStringLiteral("&uSV=") + FormatC("%.3f", dose);
        return Get(url);
    }
    }
    return {};
}

UploadVerdict ClassifyMapResponse(MapService service, const HttpResult& r) {
    if (std::optional<UploadVerdict> common = Common(r))
        return *common;
    // The whole reply is read: a service's words may come after a page of
    // other text.
    const QString text = ReplyText(r.body);
    const QString said = Excerpt(text);
    const QString http = QStringLiteral("HTTP %1 %2").arg(r.status).arg(said).trimmed();
    switch (service) {
    case MapService::Radmon: {
        static const QRegularExpression kOk(QStringLiteral("^OK\\b"));
        static const QRegularExpression kAccount(QStringLiteral("\\b(login|user|password)\\b"),
                                                 QRegularExpression::CaseInsensitiveOption);
        if (text.contains(QLatin1String("too soon"), Qt::CaseInsensitive))
            return Verdict(UploadOutcome::SlowDown, said);
        if (r.status == 200 && kOk.match(text).hasMatch())
            return Verdict(UploadOutcome::Accepted, said);
        // A wrong password or a user it does not know: no use asking again.
        if (kAccount.match(text).hasMatch())
            return Verdict(UploadOutcome::Refused, said);
        break;
    }
    case MapService::GmcMap: {
        // Every answer ends in its code: ERR0 stored the value, also behind
        // a warning that the counter's location needs confirming.
        static const QRegularExpression kCode(QStringLiteral("ERR(\\d+)"));
        QRegularExpressionMatch code;
        for (QRegularExpressionMatchIterator it = kCode.globalMatch(text); it.hasNext();)
            code = it.next();
        const QString number = code.hasMatch() ? code.captured(1) : QString();
        if (r.status == 200 && number == QLatin1String("0"))
            return Verdict(UploadOutcome::Accepted, said);
        if (number == QLatin1String("1"))
            return Verdict(UploadOutcome::Refused, said + QStringLiteral(" (unknown account)"));
        if (number == QLatin1String("2"))
            return Verdict(UploadOutcome::Refused, said + QStringLiteral(" (unknown counter)"));
        break;
    }
    case MapService::OpenSenseMap:
        if (r.status >= 200 && r.status < 300)
            return Verdict(UploadOutcome::Accepted, http);
        if (r.status == 401 || r.status == 403)
            return Verdict(UploadOutcome::Refused, http);
        // A timestamp ahead of the service's clock: the batch waits until the
        // clocks agree.
        if (r.status == 422 && text.contains(QLatin1String("too far into the future")))
            return Verdict(UploadOutcome::Failed, http);
        // No such box, a sensor of another box, a sensor identifier it cannot
        // read: the upload file is wrong, and skipping the batch would drop
        // up to 2,500 intervals for nothing.
        return Verdict(UploadOutcome::Unusable, http);
    case MapService::OpenRadiation: {
        const QJsonObject reply = QJsonDocument::fromJson(r.body).object();
        const QString error = reply.value("error").toObject().value("code").toString();
        if (r.status >= 200 && r.status < 300 && reply.value("test").toBool())
            return Verdict(UploadOutcome::Unusable,
                           QStringLiteral("the service recorded nothing: a test report"));
        // A report sent before whose answer was lost: the service has it.
        if (r.status == 400 && error == QLatin1String("104"))
            return Verdict(UploadOutcome::Accepted, http);
        // It could not read the request at all; every later one would fare
        // the same.
        if (r.status == 400 && error == QLatin1String("100"))
            return Verdict(UploadOutcome::Unusable, http);
        return Rest(r);
    }
    case MapService::Safecast:
        return Rest(r);
    }
    return Verdict(UploadOutcome::Failed, QStringLiteral("unexpected reply: ") + http);
}

} // namespace korvinet::maps
