#include "station/station_options.h"

#include "device/display_units.h"
#include "device/serial_kinds.h"
#include "device/tube_profiles.h"
#include "measure/averaging_time.h"
#include "mqtt/mqtt_payload.h"

#include <QRegularExpression>
#include <cmath>

namespace korvinet::station {

namespace {

constexpr int kAveragingSeconds[] = {15, 30, 45, 60, 180, 300, 600};

// The unit names as the window lists them, plus spellings a terminal types
// easily ("uR/hr" for the micro sign).
std::optional<int> UnitCodeFor(const QString& name) {
    for (int code = 0; code < static_cast<int>(device::kDisplayUnits.size()); ++code) {
        const QString listed = device::kDisplayUnits[code].name.toString();
        QString typed = listed;
        typed.replace(QChar(0x00B5), QLatin1Char('u'));
        if (name.compare(listed, Qt::CaseInsensitive) == 0 ||
            name.compare(typed, Qt::CaseInsensitive) == 0)
            return code;
    }
    return std::nullopt;
}

QString UnitList() {
    QStringList names;
    for (const device::DisplayUnit& unit : device::kDisplayUnits)
        names << QLatin1Char('"') + unit.name.toString() + QLatin1Char('"');
    return names.join(QStringLiteral(", "));
}

ParsedCommandLine Fail(const QString& error) {
    ParsedCommandLine result;
    result.action = ParsedCommandLine::Action::Error;
    result.error = error;
    return result;
}

} // namespace

ParsedCommandLine ParseCommandLine(const QStringList& arguments) {
    ParsedCommandLine result;
    StationOptions& o = result.options;
    static const QStringList kWithValue = {
        QStringLiteral("--device"),      QStringLiteral("--units"),
        QStringLiteral("--averaging"),   QStringLiteral("--alarm"),
        QStringLiteral("--journal"),     QStringLiteral("--mqtt"),
        QStringLiteral("--topic"),       QStringLiteral("--mqtt-password-file"),
        QStringLiteral("--count"),       QStringLiteral("--http"),
        QStringLiteral("--upload"),      QStringLiteral("--mqtt-cafile"),
        QStringLiteral("--mqtt-cert"),   QStringLiteral("--mqtt-key"),
        QStringLiteral("--replay-rate"), QStringLiteral("--outbox-days"),
        QStringLiteral("--kind"),        QStringLiteral("--baud"),
        QStringLiteral("--tube"),        QStringLiteral("--sensitivity"),
        QStringLiteral("--dead-time"),   QStringLiteral("--ha-prefix")};
    static const QStringList kTlsFiles = {QStringLiteral("--mqtt-cafile"),
                                          QStringLiteral("--mqtt-cert"),
                                          QStringLiteral("--mqtt-key")};
    static const QStringList kMqttOnly =
        kTlsFiles + QStringList{QStringLiteral("--mqtt-password-file"),
                                QStringLiteral("--replay-rate"), QStringLiteral("--outbox-days"),
                                QStringLiteral("--ha-prefix")};
    QStringList mqttOnly; // given, and of no use without --mqtt

    for (int i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        std::optional<QString> value;
        const qsizetype eq = name.indexOf(QLatin1Char('='));
        if (name.startsWith(QLatin1String("--")) && eq > 0) {
            value = name.mid(eq + 1);
            name.truncate(eq);
        }
        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            result.action = ParsedCommandLine::Action::Help;
            return result;
        }
        if (name == QLatin1String("--version")) {
            result.action = ParsedCommandLine::Action::Version;
            return result;
        }
        if (!kWithValue.contains(name)) {
            return Fail(name.startsWith(QLatin1Char('-'))
                            ? QStringLiteral("unknown option %1").arg(name)
                            : QStringLiteral("unexpected argument \"%1\"").arg(name));
        }
        if (!value) {
            if (i + 1 >= arguments.size())
                return Fail(QStringLiteral("%1 needs a value").arg(name));
            value = arguments[++i];
        }
        const QString v = value->trimmed();
        if (kMqttOnly.contains(name))
            mqttOnly << name;

        if (name == QLatin1String("--device")) {
            if (v.isEmpty())
                return Fail(QStringLiteral("--device needs a serial number or a port path"));
            o.device = v;
        } else if (name == QLatin1String("--kind")) {
            if (!device::FindSerialKind(v))
                return Fail(QStringLiteral("--kind must be %1, not \"%2\"")
                                .arg(device::SerialKindIds().replace(QLatin1Char('|'),
                                                                     QStringLiteral(" or ")),
                                     v));
            o.kind = v;
        } else if (name == QLatin1String("--baud")) {
            bool ok = false;
            o.baud = v.toInt(&ok);
            if (!ok || o.baud < 300 || o.baud > 4000000)
                return Fail(
                    QStringLiteral("--baud needs a rate from 300 to 4000000, not \"%1\"").arg(v));
        } else if (name == QLatin1String("--tube")) {
            if (!device::FindTube(v))
                return Fail(QStringLiteral("unknown tube \"%1\"; use one of %2")
                                .arg(v, device::TubeNames()));
            o.tube = device::FindTube(v)->name.toString();
        } else if (name == QLatin1String("--sensitivity")) {
            bool ok = false;
            const double cpm = v.toDouble(&ok);
            if (!ok || !std::isfinite(cpm) || cpm <= 0.0 || cpm > 1e6)
                return Fail(QStringLiteral("--sensitivity needs counts per minute for 1 uSv/hr "
                                           "above 0, not \"%1\"")
                                .arg(v));
            o.sensitivity = cpm;
        } else if (name == QLatin1String("--dead-time")) {
            bool ok = false;
            const double seconds = v.toDouble(&ok);
            if (!ok || !std::isfinite(seconds) || seconds < 0.0 || seconds > 0.01)
                return Fail(
                    QStringLiteral("--dead-time needs seconds from 0 to 0.01, not \"%1\"").arg(v));
            o.deadTime = seconds;
        } else if (name == QLatin1String("--units")) {
            o.unitCode = UnitCodeFor(v);
            if (!o.unitCode)
                return Fail(
                    QStringLiteral("unknown unit \"%1\"; use one of %2").arg(v, UnitList()));
        } else if (name == QLatin1String("--averaging")) {
            bool ok = false;
            const int seconds = v.toInt(&ok);
            o.averagingIndex.reset();
            for (int e = 0; ok && e < static_cast<int>(std::size(kAveragingSeconds)); ++e)
                if (kAveragingSeconds[e] == seconds)
                    o.averagingIndex = e;
            if (!o.averagingIndex)
                return Fail(QStringLiteral("--averaging must be 15, 30, 45, 60, 180, 300 or 600 "
                                           "seconds, not \"%1\"")
                                .arg(v));
        } else if (name == QLatin1String("--alarm")) {
            bool ok = false;
            const double level = v.toDouble(&ok);
            if (!ok || !std::isfinite(level) || level <= 0.0)
                return Fail(QStringLiteral("--alarm needs a level above 0, not \"%1\"").arg(v));
            o.alarmLevel = level;
        } else if (name == QLatin1String("--journal")) {
            if (v.isEmpty())
                return Fail(QStringLiteral("--journal needs a folder"));
            o.journal = *value;
        } else if (name == QLatin1String("--mqtt")) {
            QString why;
            o.mqtt = mqtt::ParseMqttUrl(v, &why);
            if (!o.mqtt)
                return Fail(QStringLiteral("--mqtt: %1").arg(why));
        } else if (name == QLatin1String("--topic") || name == QLatin1String("--ha-prefix")) {
            const QString problem = mqtt::TopicPrefixProblem(v);
            if (!problem.isEmpty())
                return Fail(QStringLiteral("%1: %2").arg(name, problem));
            (name == QLatin1String("--topic") ? o.topicPrefix : o.discoveryPrefix) = v;
        } else if (name == QLatin1String("--mqtt-password-file")) {
            if (v.isEmpty())
                return Fail(QStringLiteral("--mqtt-password-file needs a file"));
            o.passwordFile = *value;
        } else if (name == QLatin1String("--mqtt-cafile") || name == QLatin1String("--mqtt-cert") ||
                   name == QLatin1String("--mqtt-key")) {
            if (v.isEmpty())
                return Fail(QStringLiteral("%1 needs a file").arg(name));
            (name == QLatin1String("--mqtt-cafile")
                 ? o.caFile
                 : (name == QLatin1String("--mqtt-cert") ? o.certFile : o.keyFile)) = *value;
        } else if (name == QLatin1String("--replay-rate")) {
            bool ok = false;
            const int rate = v.toInt(&ok);
            if (!ok || rate < 1 || rate > 100000)
                return Fail(
                    QStringLiteral("--replay-rate needs readings per second from 1 to 100000, "
                                   "not \"%1\"")
                        .arg(v));
            o.replayRate = rate;
        } else if (name == QLatin1String("--outbox-days")) {
            bool ok = false;
            const int days = v.toInt(&ok);
            if (!ok || days < 1 || days > 3650)
                return Fail(QStringLiteral(
                                "--outbox-days needs a number of days from 1 to 3650, not \"%1\"")
                                .arg(v));
            o.outboxDays = days;
        } else if (name == QLatin1String("--upload")) {
            if (v.isEmpty())
                return Fail(QStringLiteral("--upload needs a file"));
            o.uploadFile = *value;
        } else if (name == QLatin1String("--count")) {
            bool ok = false;
            const long long n = v.toLongLong(&ok);
            if (!ok || n < 1)
                return Fail(
                    QStringLiteral("--count needs a whole number above 0, not \"%1\"").arg(v));
            o.count = n;
        } else if (name == QLatin1String("--http")) {
            QString why;
            o.http = web::ParseHttpAddress(v, &why);
            if (!o.http)
                return Fail(QStringLiteral("--http: %1").arg(why));
        }
    }
    if (!o.kind.isEmpty() && o.device.isEmpty())
        return Fail(QStringLiteral("--kind needs --device (the port, or its serial number)"));
    if (o.baud > 0 && o.kind.isEmpty())
        return Fail(QStringLiteral("--baud needs --kind"));
    if (!o.tube.isEmpty() && o.sensitivity)
        return Fail(QStringLiteral("--tube and --sensitivity exclude each other"));
    if (o.deadTime && !o.sensitivity)
        return Fail(QStringLiteral("--dead-time needs --sensitivity"));
    if (!mqttOnly.isEmpty() && !o.mqtt)
        return Fail(QStringLiteral("%1 needs --mqtt").arg(mqttOnly.first()));
    for (const QString& name : mqttOnly)
        if (kTlsFiles.contains(name) && !o.mqtt->tls)
            return Fail(QStringLiteral("%1 needs an mqtts:// URL").arg(name));
    if (o.certFile.isEmpty() != o.keyFile.isEmpty())
        return Fail(QStringLiteral("--mqtt-cert and --mqtt-key go together"));
    if (!o.passwordFile.isEmpty() && o.mqtt->user.isEmpty())
        return Fail(QStringLiteral("--mqtt-password-file needs a user in the --mqtt URL "
                                   "(mqtt://user@host)"));
    return result;
}

QString UsageText() {
    return QStringLiteral(
        "Usage: korvinet-station [--device SERIAL|PORT [--kind KIND [--baud N]]]\n"
        "                        [--tube NAME | --sensitivity CPM [--dead-time SECONDS]]\n"
        "                        [--units NAME] [--averaging SECONDS]\n"
        "                        [--alarm LEVEL] [--journal DIR] [--mqtt URL] [--topic PREFIX]\n"
        "                        [--mqtt-password-file FILE] [--mqtt-cafile FILE]\n"
        "                        [--mqtt-cert FILE --mqtt-key FILE] [--replay-rate N]\n"
        "                        [--outbox-days N] [--ha-prefix PREFIX] [--upload FILE]\n"
        "                        [--count N] [--http [ADDR:]PORT]\n"
        "       korvinet-station --help | --version\n"
        "Logs a USB Geiger counter without a screen: a sample every three seconds, one\n"
        "line per reading on standard output, every reading in the recording journal\n"
        "and, with --mqtt, published to an MQTT broker.\n"
        "\n"
        "  --device SERIAL|PORT the counter with this serial number, or on this port\n"
        "                       (/dev/ttyUSB0, a pseudo-terminal such as /dev/pts/3;\n"
        "                       default: the only attached counter)\n"
        "  --kind KIND          the counter on --device is a text-line counter\n"
        "                       (text-line) or sends a byte per pulse (pulse-byte);\n"
        "                       serial ports are only opened when named so, here or\n"
        "                       in the window's Options\n"
        "  --baud N             its baud rate (default: 9600)\n"
        "  --tube NAME          the tube of a counter without a calibration of its own:\n"
        "                       SBM-20, SBM-19, SI-29BG, SI-22G, STS-5, SI-3BG, J305,\n"
        "                       M4011, J321, HH614, LND-712 or LND-7317\n"
        "  --sensitivity CPM    instead of a tube: counts per minute for 1 uSv/hr\n"
        "  --dead-time SECONDS  with --sensitivity: the tube's dead time (default: 0)\n"
        "                       (without either, such a counter reads in CPM only)\n"
        "  --units NAME         \"CPM (uncomp)\", CPM, mR/hr, uR/hr or uSv/hr (default: the\n"
        "                       unit stored by the window program)\n"
        "  --averaging SECONDS  15, 30, 45, 60, 180, 300 or 600 (default: the window\n"
        "                       program's stored averaging time)\n"
        "  --alarm LEVEL        mark readings above LEVEL (in the display unit) ALARM\n"
        "  --journal DIR        folder of the recording journal (default:\n"
        "                       ~/.local/share/Korvinet/recordings)\n"
        "  --mqtt URL           mqtt://[user@]host[:port] or mqtts://[user@]host[:port]\n"
        "  --topic PREFIX       topic prefix (default: korvinet)\n"
        "  --mqtt-password-file FILE  the broker password, in the file's first line\n"
        "                       (default: the systemd credential mqtt-password, if any)\n"
        "  --mqtt-cafile FILE   mqtts: trust this certificate authority (PEM) instead of\n"
        "                       the system's\n"
        "  --mqtt-cert FILE, --mqtt-key FILE  mqtts: log in with this client\n"
        "                       certificate and its key (PEM, not encrypted)\n"
        "  --replay-rate N      readings a second at most when a backlog goes out\n"
        "                       (default: 200)\n"
        "  --outbox-days N      give up readings the broker has not had for N days\n"
        "                       (default: 30; the journal keeps them)\n"
        "  --ha-prefix PREFIX   Home Assistant's discovery prefix (default: homeassistant)\n"
        "  --upload FILE        send the readings to public radiation maps, as the INI\n"
        "                       file names them (see README, \"Sharing with radiation maps\")\n"
        "  --count N            stop after N readings\n"
        "  --http [ADDR:]PORT   serve a web page, a history API and Prometheus metrics\n"
        "                       on PORT of 127.0.0.1 (or ADDR; 0.0.0.0: every network)\n"
        "  --help               print this text and exit\n"
        "  --version            print the version and exit\n"
        "\n"
        "Environment: KORVINET_DRIVER=simulator|libftdi|d2xx chooses the counter driver;\n"
        "with the simulator, KORVINET_SIM_KIND=text-line|pulse-byte|rad-pro|gmc-300|\n"
        "gmc-500 simulates serial counters of that kind on pseudo-terminals.\n");
}

} // namespace korvinet::station
