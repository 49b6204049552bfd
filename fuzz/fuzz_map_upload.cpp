// What the map uploads read from outside: the upload file a user writes, and
// the services' replies.
//
// Input: one byte choosing the reader. Even: the rest is an upload file.
// Odd: the service (byte / 2 % 5), two bytes of HTTP status, then the reply's
// body.
#include "maps/map_requests.h"
#include "maps/map_upload_config.h"

#include "fuzz_support.h"

#include <QFile>
#include <QTemporaryDir>

namespace korvinet::maps {
namespace {

// A folder with one secret file, "key", so that every section can be whole
// and reach its request.
QString SecretsFolder() {
    static QTemporaryDir dir;
    QFile key(dir.filePath(QStringLiteral("key")));
    if (!key.exists() && key.open(QIODevice::WriteOnly))
        key.write("fuzz-secret\n");
    return dir.path();
}

void UploadFile(QByteArrayView text) {
    static const QString folder = SecretsFolder();
    QString error;
    const std::optional<UploadConfig> config =
        ParseUploadFile(text, folder, QStringLiteral("upload.ini"), &error);
    if (!config) {
        // One line for the user, whatever the file held.
        FUZZ_CHECK(!error.isEmpty() && !error.contains(QLatin1Char('\n')));
        return;
    }
    FUZZ_CHECK(!config->destinations.empty());
    for (const MapDestination& d : config->destinations) {
        FUZZ_CHECK(d.intervalS >= d.Info().minIntervalS);
        FUZZ_CHECK(d.url.startsWith(QLatin1String("http")) && !d.url.endsWith(QLatin1Char('/')));
        FUZZ_CHECK(!d.latitude || std::abs(*d.latitude) <= 90);
        FUZZ_CHECK(!d.longitude || std::abs(*d.longitude) <= 180);
        // Whatever it holds, a request can be made of it.
        const IntervalMean interval{60000, 120000, 20, 60000, 119000};
        FUZZ_CHECK(!BuildMapRequest(d, {&interval, 1}, {}).url.isEmpty());
    }
}

void Reply(int service, int status, QByteArrayView body) {
    HttpResult result;
    result.status = status;
    result.body = body.toByteArray();
    const UploadVerdict verdict = ClassifyMapResponse(static_cast<MapService>(service), result);
    // The reason goes into the log: short, one line, printable.
    FUZZ_CHECK(verdict.why.size() <= 160);
    for (const QChar c : verdict.why)
        FUZZ_CHECK(c.isPrint());
}

} // namespace
} // namespace korvinet::maps

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const QByteArrayView rest(reinterpret_cast<const char*>(data) + 1, qsizetype(size) - 1);
    if (data[0] % 2 == 0)
        korvinet::maps::UploadFile(rest);
    else
        korvinet::maps::Reply(data[0] / 2 % 5, data[1] << 8 | data[2], rest.sliced(2));
    return 0;
}
