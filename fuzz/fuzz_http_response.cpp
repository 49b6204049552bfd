// HTTP responses as a server may send them, read the way the update check's
// client reads them, without sockets or waits.
//
// Input: three bytes that set the reader's bounds (line piece 1..256 bytes,
// head and body 1..2041 bytes) and the size of the pieces the bytes arrive in
// (1..32), then the responses of one get, separated by "~~~": the first
// answers the version file's URL, each further one the redirection before it.
#include "net/http_client.h"
#include "net/http_exchange.h"

#include "fuzz_support.h"

#include <algorithm>

namespace korvinet::net {
namespace {

const QByteArray kNext = "~~~";
const QString kFirstUrl = QStringLiteral(
    "http://www.korvinet.example/files/software/Korvinet/download/latestversion.txt");

bool SameResponse(const HttpResponseReader& a, const HttpResponseReader& b) {
    if (a.Current() != b.Current() || a.HeadLines() != b.HeadLines() ||
        a.HeadEnded() != b.HeadEnded() || a.Status() != b.Status() ||
        a.Location() != b.Location() || a.Cookie() != b.Cookie()) {
        return false;
    }
    // A body cut off by its bound depends on where the pieces happened to end.
    return a.Current() != HttpResponseReader::State::Complete || a.Body() == b.Body();
}

void Exchange(QByteArrayView bytes, qsizetype linePiece, qsizetype maxBytes, qsizetype split,
              HttpResponseReader* whole) {
    whole->Receive(bytes);
    whole->Close();
    // The network delivers the same bytes in any split; the response must
    // not depend on it.
    HttpResponseReader pieces(linePiece, maxBytes);
    for (qsizetype i = 0; i < bytes.size(); i += split) {
        pieces.Receive(bytes.sliced(i, std::min(split, bytes.size() - i)));
    }
    pieces.Close();
    FUZZ_CHECK(SameResponse(*whole, pieces));

    FUZZ_CHECK(whole->Status() >= 0 && whole->Status() <= 0xFFFF);
    FUZZ_CHECK(whole->Location().size() <= kHttpMaxPathLength);
    FUZZ_CHECK(whole->Cookie().size() <= kHttpMaxPathLength);
    FUZZ_CHECK(whole->Body().size() <= maxBytes);
}

} // namespace
} // namespace korvinet::net

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvinet::net;
    if (size < 3) {
        return 0;
    }
    const qsizetype linePiece = 1 + data[0];
    const qsizetype maxBytes = 1 + data[1] * 8;
    const qsizetype split = 1 + data[2] % 32;
    const QByteArray rest =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data) + 3, qsizetype(size) - 3);

    HttpTarget target{kFirstUrl, {}, 0, {}};
    QString cookie;
    qsizetype at = 0;
    for (int exchange = 1; exchange <= HttpClient::kMaxExchanges && at <= rest.size(); ++exchange) {
        try {
            ParseHttpUrl(&target);
        } catch (const HttpError&) {
            return 0; // a Location the client refuses
        }
        // Whatever a redirection said, the request line stays a GET of a path.
        FUZZ_CHECK(target.path.startsWith(QLatin1Char('/')));
        FUZZ_CHECK(target.path.size() <= kHttpMaxPathLength);
        FUZZ_CHECK(target.port >= 0 && target.port <= 0xFFFF);
        FUZZ_CHECK(HttpRequestHead(target, cookie).startsWith("GET /"));

        qsizetype end = rest.indexOf(kNext, at);
        if (end < 0) {
            end = rest.size();
        }
        HttpResponseReader response(linePiece, maxBytes);
        Exchange(QByteArrayView(rest).sliced(at, end - at), linePiece, maxBytes, split, &response);
        at = end + kNext.size();

        if (response.Current() != HttpResponseReader::State::Complete ||
            !FollowRedirection(response, &target, &cookie)) {
            return 0;
        }
    }
    return 0;
}
