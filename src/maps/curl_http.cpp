#include "maps/curl_http.h"

#include "platform/version.h"

#include <QSocketNotifier>
#include <QTimer>
#include <curl/curl.h>
#include <map>
#include <mutex>
#include <vector>

namespace korvinet::maps {

namespace {

// libcurl's global state is set up once per process, before the first
// handle; it is never torn down (the process ending does that).
void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    HttpTransport::Done done;
    HttpResult result;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    ~Transfer() {
        curl_slist_free_all(headers);
        if (easy != nullptr)
            curl_easy_cleanup(easy);
    }
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    const qsizetype room = HttpResult::kMaxBody - t->result.body.size();
    if (room > 0)
        t->result.body.append(data, std::min<qsizetype>(room, static_cast<qsizetype>(bytes)));
    return bytes; // the rest is read and dropped: a reply is judged by its start
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(bytes)).trimmed();
    if (line.startsWith("HTTP/")) {
        t->result.retryAfterS.reset(); // a new response (after a redirect)
    } else if (line.toLower().startsWith("retry-after:")) {
        bool ok = false;
        const int seconds = line.mid(12).trimmed().toInt(&ok);
        if (ok && seconds >= 0)
            t->result.retryAfterS = seconds;
    }
    return bytes;
}

} // namespace

struct CurlHttpClient::Impl {
    struct Watch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };

    CURLM* multi = nullptr;
    QTimer timer;
    std::map<curl_socket_t, Watch> sockets;
    std::map<CURL*, std::unique_ptr<Transfer>> transfers;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);

    Impl() {
        InitCurlOnce();
        multi = curl_multi_init();
        curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Impl::OnSocket);
        curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Impl::OnTimer);
        curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [this] { Act(CURL_SOCKET_TIMEOUT, 0); });
    }

    ~Impl() {
        *alive = false;
        for (auto& [easy, transfer] : transfers)
            curl_multi_remove_handle(multi, easy);
        transfers.clear();
        for (auto& [fd, watch] : sockets)
            Drop(watch);
        curl_multi_cleanup(multi);
    }

    // A notifier may be the one whose signal is being delivered: it is
    // switched off now and deleted later.
    static void Drop(Watch& watch) {
        for (QSocketNotifier* n : {watch.read, watch.write}) {
            if (n != nullptr) {
                n->setEnabled(false);
                n->deleteLater();
            }
        }
        watch = {};
    }

    static int OnSocket(CURL*, curl_socket_t fd, int what, void* user, void*) {
        auto* self = static_cast<Impl*>(user);
        auto found = self->sockets.find(fd);
        if (what == CURL_POLL_REMOVE) {
            if (found != self->sockets.end()) {
                Drop(found->second);
                self->sockets.erase(found);
            }
            return 0;
        }
        Watch& watch = self->sockets[fd];
        const auto ensure = [self, fd](QSocketNotifier*& n, QSocketNotifier::Type type, int event,
                                       bool wanted) {
            if (wanted && n == nullptr) {
                n = new QSocketNotifier(static_cast<qintptr>(fd), type);
                QObject::connect(n, &QSocketNotifier::activated,
                                 [self, fd, event] { self->Act(fd, event); });
            }
            if (n != nullptr)
                n->setEnabled(wanted);
        };
        ensure(watch.read, QSocketNotifier::Read, CURL_CSELECT_IN,
               what == CURL_POLL_IN || what == CURL_POLL_INOUT);
        ensure(watch.write, QSocketNotifier::Write, CURL_CSELECT_OUT,
               what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
        return 0;
    }

    static int OnTimer(CURLM*, long timeoutMs, void* user) {
        auto* self = static_cast<Impl*>(user);
        if (timeoutMs < 0)
            self->timer.stop();
        else
            self->timer.start(static_cast<int>(timeoutMs));
        return 0;
    }

    void Act(curl_socket_t fd, int events) {
        int running = 0;
        curl_multi_socket_action(multi, fd, events, &running);
        Collect();
    }

    // Hands finished transfers to their callbacks once libcurl is done with
    // them; a callback may send anew or destroy the client.
    void Collect() {
        std::vector<std::unique_ptr<Transfer>> finished;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            CURL* easy = message->easy_handle;
            auto found = transfers.find(easy);
            if (found == transfers.end())
                continue;
            std::unique_ptr<Transfer> t = std::move(found->second);
            transfers.erase(found);
            const CURLcode code = message->data.result;
            curl_multi_remove_handle(multi, easy);
            if (code == CURLE_OK) {
                long status = 0;
                curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
                t->result.status = static_cast<int>(status);
            } else {
                t->result.status = 0;
                t->result.error = QString::fromUtf8(
                    t->errorBuffer[0] != '\0' ? t->errorBuffer : curl_easy_strerror(code));
            }
            finished.push_back(std::move(t));
        }
        const std::shared_ptr<bool> stillAlive = alive;
        for (auto& t : finished) {
            if (!*stillAlive)
                return;
            if (t->done)
                t->done(t->result);
        }
    }
};

CurlHttpClient::CurlHttpClient() : impl_(std::make_unique<Impl>()) {}

CurlHttpClient::~CurlHttpClient() = default;

int CurlHttpClient::Running() const {
    return static_cast<int>(impl_->transfers.size());
}

void CurlHttpClient::Send(const HttpRequest& request, const HttpOptions& options, Done done) {
    auto t = std::make_unique<Transfer>();
    t->done = std::move(done);
    t->easy = curl_easy_init();
    CURL* e = t->easy;
    if (e == nullptr) {
        t->result.error = QStringLiteral("cannot start a transfer");
        const std::shared_ptr<bool> alive = impl_->alive;
        QTimer::singleShot(0, [alive, failed = std::shared_ptr<Transfer>(std::move(t))] {
            if (*alive && failed->done)
                failed->done(failed->result);
        });
        return;
    }
    const QByteArray url = request.url.toUtf8();
    const QByteArray agent = OwnUserAgent();
    curl_easy_setopt(e, CURLOPT_URL, url.constData());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t->errorBuffer);
    curl_easy_setopt(e, CURLOPT_USERAGENT, agent.constData());
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(options.timeoutMs));
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeoutMs));
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    // A secure request stays secure: a redirect to plain http would hand on
    // the key or password a request carries, readable on the way.
    const bool secure = request.url.startsWith(QLatin1String("https:"), Qt::CaseInsensitive);
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, options.maxRedirects > 0 ? 1L : 0L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, static_cast<long>(options.maxRedirects));
    // A moved upload is posted again at its new address, not turned into a GET
    // that would be taken for success while the data went nowhere.
    curl_easy_setopt(e, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_ALL));
    if (!options.caFile.isEmpty()) {
        // Replaces the default bundle file; the system's certificate folder
        // (the build's default CA path) is still searched.
        const QByteArray ca = options.caFile.toLocal8Bit();
        curl_easy_setopt(e, CURLOPT_CAINFO, ca.constData());
    }
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, t.get());
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, t.get());
    curl_easy_setopt(e, CURLOPT_PRIVATE, t.get());
    for (const auto& [name, value] : request.headers)
        t->headers = curl_slist_append(t->headers, (name + ": " + value).constData());
    if (request.method == "POST") {
        // No "Expect: 100-continue" round trip before the body.
        t->headers = curl_slist_append(t->headers, "Expect:");
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.body.size()));
        curl_easy_setopt(e, CURLOPT_COPYPOSTFIELDS, request.body.constData());
    }
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t->headers);
    impl_->transfers[e] = std::move(t);
    curl_multi_add_handle(impl_->multi, e);
}

QByteArray OwnUserAgent() {
    return "Korvinet/" + platform::OwnVersionText().toLatin1();
}

} // namespace korvinet::maps
