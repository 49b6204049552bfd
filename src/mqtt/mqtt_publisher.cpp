#include "mqtt/mqtt_publisher.h"

#include "mqtt/mqtt_outbox.h"
#include "mqtt/mqtt_tls.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mosquitto.h>
#include <mutex>

namespace korvinet::mqtt {

namespace {

constexpr int kMiscIntervalMs = 1000;
constexpr int kLookupPollMs = 20;
constexpr int kServerUnavailable = 3; // CONNACK: try again later
const char* const kSystemCertificates = "/etc/ssl/certs";

void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// Beside the readings in flight: the status, the counter's availability,
// the latest reading and a few more of those.
constexpr int kBesideReadings = 16;

bool IsAddress(const QString& host) {
    const QByteArray text = host.toLatin1();
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, text.constData(), buffer) == 1 ||
           inet_pton(AF_INET6, text.constData(), buffer) == 1;
}

QString RefusalText(int code) {
    switch (code) {
    case 1:
        return QStringLiteral("unacceptable protocol version");
    case 2:
        return QStringLiteral("client id rejected");
    case 3:
        return QStringLiteral("server unavailable");
    case 4:
        return QStringLiteral("bad user name or password");
    case 5:
        return QStringLiteral("not authorised");
    default:
        return QStringLiteral("refusal code %1").arg(code);
    }
}

} // namespace

MqttPublisher::MqttPublisher(MqttPublisherOptions options, PendingSource& source,
                             Callbacks callbacks, std::unique_ptr<platform::HostResolver> resolver)
    : options_(std::move(options)), source_(source), callbacks_(std::move(callbacks)),
      resolver_(resolver ? std::move(resolver) : std::make_unique<platform::SystemHostResolver>()) {
    InitLibrary();
    miscTimer_.setInterval(kMiscIntervalMs);
    QObject::connect(&miscTimer_, &QTimer::timeout, &miscTimer_, [this] {
        if (mosq_ != nullptr) {
            const int rc = mosquitto_loop_misc(mosq_);
            AfterCall(rc, errno);
        }
    });
    lookupTimer_.setInterval(kLookupPollMs);
    QObject::connect(&lookupTimer_, &QTimer::timeout, &lookupTimer_, [this] { PollLookup(); });
    attemptTimer_.setSingleShot(true);
    QObject::connect(&attemptTimer_, &QTimer::timeout, &attemptTimer_, [this] {
        AttemptFailed(QStringLiteral("no answer within %1 s")
                          .arg(options_.attemptTimeoutMs / 1000.0, 0, 'g', 3));
    });
    retryTimer_.setSingleShot(true);
    QObject::connect(&retryTimer_, &QTimer::timeout, &retryTimer_, [this] { BeginAttempt(); });
    stopTimer_.setSingleShot(true);
    QObject::connect(&stopTimer_, &QTimer::timeout, &stopTimer_, [this] { FinishStop(); });
    paceTimer_.setSingleShot(true);
    QObject::connect(&paceTimer_, &QTimer::timeout, &paceTimer_, [this] { Pump(); });
    paceClock_.start();
}

MqttPublisher::~MqttPublisher() {
    readNotifier_.reset();
    writeNotifier_.reset();
    if (mosq_ != nullptr) {
        mosquitto_destroy(mosq_);
    }
}

bool MqttPublisher::Start(std::uint64_t lastAcknowledgedSeq) {
    if (state_ != State::Idle) {
        lastError_ = QStringLiteral("The MQTT publisher has already been started");
        return false;
    }
    if (options_.url.host.isEmpty()) {
        lastError_ = QStringLiteral("No MQTT broker given");
        return false;
    }
    if (!options_.password.isEmpty() && options_.url.user.isEmpty()) {
        lastError_ = QStringLiteral("A password for the MQTT broker needs a user name in the "
                                    "URL (mqtt://user@host)");
        return false;
    }
    if (options_.topics.reading.isEmpty() || options_.topics.status.isEmpty()) {
        lastError_ = QStringLiteral("No MQTT topics given");
        return false;
    }
    ackedSeq_ = lastAcknowledgedSeq;
    sentSeq_ = lastAcknowledgedSeq;
    retryDelayMs_ = options_.firstRetryMs;
    BeginAttempt();
    return true;
}

void MqttPublisher::ReadingAdded(std::uint64_t seq) {
    sourceDrained_ = false;
    liveSeq_ = seq;
    Pump();
    liveSeq_ = 0;
}

void MqttPublisher::BacklogAdded() {
    sourceDrained_ = false;
    Pump();
}

bool MqttPublisher::Connected() const {
    return state_ == State::Connected && mosq_ != nullptr && connectionOpen_;
}

int MqttPublisher::Publish(const QString& topic, const QByteArray& payload, bool retain) {
    int mid = 0;
    const QByteArray name = topic.toUtf8();
    const int rc =
        mosquitto_publish(mosq_, &mid, name.constData(), static_cast<int>(payload.size()),
                          payload.constData(), 1, retain);
    return rc == MOSQ_ERR_SUCCESS ? mid : -1;
}

void MqttPublisher::SetRetained(const QString& topic, const QByteArray& payload) {
    auto it = std::find_if(retained_.begin(), retained_.end(),
                           [&](const MqttMessage& m) { return m.topic == topic; });
    if (it == retained_.end()) {
        it = retained_.insert(retained_.end(), {topic, {}, true});
    } else if (it->payload == payload && !heldBack_.contains(topic)) {
        return;
    }
    it->payload = payload;
    if (Connected()) {
        Publish(topic, payload, true);
        heldBack_.removeOne(topic);
        UpdateWriteNotifier();
    }
}

void MqttPublisher::SetAnnouncements(std::vector<MqttMessage> announcements) {
    const auto same = [](const MqttMessage& a, const MqttMessage& b) {
        return a.topic == b.topic && a.payload == b.payload && a.retain == b.retain;
    };
    if (std::equal(announcements.begin(), announcements.end(), options_.announcements.begin(),
                   options_.announcements.end(), same)) {
        return;
    }
    options_.announcements = std::move(announcements);
    if (Connected()) {
        for (const MqttMessage& message : options_.announcements) {
            Publish(message.topic, message.payload, message.retain);
        }
        UpdateWriteNotifier();
    }
}

void MqttPublisher::Announce() {
    for (const MqttMessage& message : options_.announcements) {
        Publish(message.topic, message.payload, message.retain);
    }
    for (const MqttMessage& message : retained_) {
        if (!heldBack_.contains(message.topic)) {
            Publish(message.topic, message.payload, true);
        }
    }
}

void MqttPublisher::Stop(bool forget) {
    switch (state_) {
    case State::Stopping:
    case State::Stopped:
        return;
    case State::Connected:
        if (mosq_ != nullptr) {
            // What the pace still holds back goes out before "offline"
            // (as much as may be in flight): the pace spreads a backlog, it
            // must not keep the last readings of a run from the broker.
            Pump(true);
            state_ = State::Stopping;
            paceTimer_.stop();
            stopTimer_.start(options_.stopTimeoutMs);
            if (forget) {
                // An empty retained message deletes the one the broker holds.
                for (const MqttMessage& message : retained_) {
                    Publish(message.topic, {}, true);
                }
            }
            offlineMid_ =
                Publish(options_.topics.status, forget ? QByteArray() : kStatusOffline, true);
            AfterCall(offlineMid_ < 0 ? MOSQ_ERR_NO_CONN : MOSQ_ERR_SUCCESS, errno);
            return;
        }
        break;
    default:
        break;
    }
    // Nothing to tell the broker: stop at once, report from the event loop
    // like every other outcome.
    retryTimer_.stop();
    attemptTimer_.stop();
    lookupTimer_.stop();
    paceTimer_.stop();
    lookup_.reset();
    DestroyClient();
    state_ = State::Stopping;
    stopTimer_.start(0);
}

void MqttPublisher::BeginAttempt() {
    state_ = State::Connecting;
    refusal_ = 0;
    connectionOpen_ = false;
    lastLibraryError_.clear();
    tlsFailure_.clear();
    attemptTimer_.start(options_.attemptTimeoutMs);
    if (IsAddress(options_.url.host)) {
        ConnectTo(options_.url.host.toLatin1());
        return;
    }
    lookup_ = resolver_->Start(options_.url.host.toUtf8());
    lookupTimer_.start();
    PollLookup();
}

void MqttPublisher::PollLookup() {
    if (!lookup_ || !lookup_->Finished()) {
        return;
    }
    lookupTimer_.stop();
    const auto address = lookup_->Address();
    lookup_.reset();
    if (!address) {
        AttemptFailed(QStringLiteral("host %1 not found").arg(options_.url.host));
        return;
    }
    // TLS checks the certificate against the name, so the library gets the
    // name again; the lookup has just shown that the name server answers.
    if (options_.url.tls) {
        ConnectTo(options_.url.host.toUtf8());
        return;
    }
    char text[INET_ADDRSTRLEN] = {};
    const std::uint32_t raw = *address;
    inet_ntop(AF_INET, &raw, text, sizeof text);
    ConnectTo(QByteArray(text));
}

bool MqttPublisher::ConfigureClient() {
    const QByteArray clientId = options_.clientId.toUtf8();
    mosq_ = mosquitto_new(clientId.isEmpty() ? nullptr : clientId.constData(), true, this);
    if (mosq_ == nullptr) {
        return false;
    }
    mosquitto_connect_callback_set(mosq_, &MqttPublisher::OnConnect);
    mosquitto_disconnect_callback_set(mosq_, &MqttPublisher::OnDisconnect);
    mosquitto_publish_callback_set(mosq_, &MqttPublisher::OnPublish);
    mosquitto_message_callback_set(mosq_, &MqttPublisher::OnMessage);
    mosquitto_log_callback_set(mosq_, &MqttPublisher::OnLog);
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Room for the readings in flight and for what goes beside them (the
    // status, the announcements, the retained messages), so that none of
    // those waits behind a full window of readings.
    mosquitto_int_option(mosq_, MOSQ_OPT_SEND_MAXIMUM,
                         options_.maxInFlight + kBesideReadings +
                             static_cast<int>(options_.announcements.size()));
    if (!options_.url.user.isEmpty()) {
        const QByteArray user = options_.url.user.toUtf8();
        const QByteArray password = options_.password.toUtf8();
        if (mosquitto_username_pw_set(mosq_, user.constData(),
                                      password.isEmpty() ? nullptr : password.constData()) !=
            MOSQ_ERR_SUCCESS) {
            return false;
        }
    }
    const QByteArray statusTopic = options_.topics.status.toUtf8();
    if (mosquitto_will_set(mosq_, statusTopic.constData(), static_cast<int>(kStatusOffline.size()),
                           kStatusOffline.constData(), 1, true) != MOSQ_ERR_SUCCESS) {
        return false;
    }
    if (options_.url.tls) {
        const QByteArray caFile = QFile::encodeName(options_.caFile);
        const QByteArray certFile = QFile::encodeName(options_.certFile);
        const QByteArray keyFile = QFile::encodeName(options_.keyFile);
        const char* caPath = nullptr;
        if (caFile.isEmpty()) {
            mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
            if (QDir(QString::fromLatin1(kSystemCertificates)).exists()) {
                caPath = kSystemCertificates;
            }
        }
        const auto orNull = [](const QByteArray& text) {
            return text.isEmpty() ? nullptr : text.constData();
        };
        if ((caPath != nullptr || !caFile.isEmpty() || !certFile.isEmpty()) &&
            mosquitto_tls_set(mosq_, orNull(caFile), caPath, orNull(certFile), orNull(keyFile),
                              &NoKeyPassword) != MOSQ_ERR_SUCCESS) {
            return false;
        }
    }
    return true;
}

void MqttPublisher::ConnectTo(const QByteArray& host) {
    if (!ConfigureClient()) {
        DestroyClient();
        AttemptFailed(QStringLiteral("the MQTT client could not be set up"));
        return;
    }
    const int rc = mosquitto_connect_async(mosq_, host.constData(), options_.url.port,
                                           options_.keepAliveSeconds);
    const int savedErrno = errno;
    const int fd = mosquitto_socket(mosq_);
    if (rc != MOSQ_ERR_SUCCESS || fd < 0) {
        const int code = rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_NO_CONN : rc;
        const QString reason = Describe(code, savedErrno) + SchemeHint(code, savedErrno);
        DestroyClient();
        AttemptFailed(reason);
        return;
    }
    readNotifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(readNotifier_.get(), &QSocketNotifier::activated, readNotifier_.get(), [this] {
        const int result = mosquitto_loop_read(mosq_, 1);
        AfterCall(result, errno);
    });
    writeNotifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    QObject::connect(writeNotifier_.get(), &QSocketNotifier::activated, writeNotifier_.get(),
                     [this] {
                         const int result = mosquitto_loop_write(mosq_, 1);
                         AfterCall(result, errno);
                     });
    miscTimer_.start();
    AfterCall(MOSQ_ERR_SUCCESS, 0);
}

void MqttPublisher::DestroyClient() {
    // This may run from a notifier's own signal: it goes when control is
    // back in the event loop.
    for (auto* notifier : {&readNotifier_, &writeNotifier_}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            notifier->release()->deleteLater();
        }
    }
    miscTimer_.stop();
    if (mosq_ != nullptr) {
        mosquitto_destroy(mosq_);
        mosq_ = nullptr;
    }
    events_.clear();
    connectionOpen_ = false;
}

void MqttPublisher::OnConnect(mosquitto*, void* self, int rc) {
    static_cast<MqttPublisher*>(self)->events_.push_back({Event::Connack, rc});
}

void MqttPublisher::OnDisconnect(mosquitto*, void* self, int rc) {
    static_cast<MqttPublisher*>(self)->events_.push_back({Event::Disconnect, rc});
}

void MqttPublisher::OnPublish(mosquitto*, void* self, int mid) {
    static_cast<MqttPublisher*>(self)->events_.push_back({Event::Published, mid});
}

void MqttPublisher::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* publisher = static_cast<MqttPublisher*>(self);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    if (QString::fromUtf8(message->topic) == publisher->options_.rediscoveryTopic &&
        payload == kStatusOnline) {
        publisher->events_.push_back({Event::Rediscover, 0});
    }
}

void MqttPublisher::OnLog(mosquitto* mosq, void* self, int level, const char* text) {
    if ((level & MOSQ_LOG_ERR) == 0 || text == nullptr) {
        return;
    }
    auto* publisher = static_cast<MqttPublisher*>(self);
    publisher->lastLibraryError_ = QString::fromUtf8(text);
    // The first reason is the one: OpenSSL's "certificate verify failed"
    // follows the library's own word on the host name.
    if (publisher->options_.url.tls && publisher->tlsFailure_.isEmpty()) {
        publisher->tlsFailure_ = TlsFailureText(
            publisher->lastLibraryError_, mosquitto_ssl_get(mosq), publisher->options_.url.host);
    }
}

void MqttPublisher::AfterCall(int rc, int savedErrno) {
    bool ended = false;
    int disconnectCode = MOSQ_ERR_SUCCESS;
    // Handling an event may call into the library again (and from there
    // back here), which may note more events: each is handled once.
    while (mosq_ != nullptr && !events_.empty()) {
        std::vector<Event> events;
        events.swap(events_);
        for (const Event& event : events) {
            if (mosq_ == nullptr) {
                break;
            }
            switch (event.kind) {
            case Event::Connack:
                if (event.value == 0) {
                    HandleConnected();
                } else {
                    refusal_ = event.value;
                }
                break;
            case Event::Published:
                HandlePublished(event.value);
                break;
            case Event::Rediscover:
                if (Connected()) {
                    Announce();
                }
                break;
            case Event::Disconnect:
                ended = true;
                disconnectCode = event.value;
                break;
            }
        }
    }
    if (mosq_ == nullptr) {
        return;
    }
    if (rc != MOSQ_ERR_SUCCESS || ended || mosquitto_socket(mosq_) < 0) {
        if (rc == MOSQ_ERR_SUCCESS) {
            rc = disconnectCode != MOSQ_ERR_SUCCESS ? disconnectCode : MOSQ_ERR_CONN_LOST;
        }
        // Closed before the broker answered: perhaps a question of TLS.
        ConnectionEnded(Describe(rc, savedErrno) +
                        (connectionOpen_ ? QString() : SchemeHint(rc, savedErrno)));
        return;
    }
    UpdateWriteNotifier();
}

void MqttPublisher::HandleConnected() {
    attemptTimer_.stop();
    connectionOpen_ = true;
    if (state_ == State::Connecting) {
        state_ = State::Connected;
    }

    Publish(options_.topics.status, kStatusOnline, true);
    if (!everConnected_) {
        // An empty retained message deletes what the broker holds; in order
        // with what follows, so no one finds the old one beside the new
        // announcements.
        for (const QString& topic : options_.clearedFirst) {
            Publish(topic, {}, true);
            heldBack_.append(topic);
        }
    }
    everConnected_ = true;
    Announce();
    if (!options_.rediscoveryTopic.isEmpty()) {
        const QByteArray topic = options_.rediscoveryTopic.toUtf8();
        mosquitto_subscribe(mosq_, nullptr, topic.constData(), 1);
    }
    // Whatever was in flight on an earlier connection goes out again.
    inFlight_.clear();
    sentSeq_ = ackedSeq_;
    sourceDrained_ = false;
    Pump();
    Log(QStringLiteral("MQTT: connected to %1").arg(options_.url.Display()));
}

void MqttPublisher::HandlePublished(int mid) {
    // The broker took a message: a broker back after a short restart is
    // tried again soon after its next one. Not at the connection itself, or
    // a broker that accepts and drops at once would be tried every second.
    retryDelayMs_ = options_.firstRetryMs;
    if (state_ == State::Stopping && mid == offlineMid_) {
        offlineMid_ = -1;
        stopTimer_.start(0);
        return;
    }
    for (Sent& sent : inFlight_) {
        if (sent.mid == mid) {
            sent.acknowledged = true;
            break;
        }
    }
    while (!inFlight_.empty() && inFlight_.front().acknowledged) {
        ackedSeq_ = inFlight_.front().seq;
        inFlight_.pop_front();
        if (callbacks_.acknowledged) {
            callbacks_.acknowledged(ackedSeq_);
        }
    }
    if (!sourceDrained_) {
        Pump();
    }
}

void MqttPublisher::RefillBudget() {
    const double elapsedMs = static_cast<double>(paceClock_.restart());
    if (options_.replayRate <= 0) {
        budget_ = options_.maxInFlight;
        return;
    }
    // At most a tenth of a second's worth at once.
    const double most = std::max(1.0, options_.replayRate / 10);
    budget_ = std::min(most, budget_ + elapsedMs * options_.replayRate / 1000);
}

void MqttPublisher::Pump(bool unpaced) {
    if (!Connected()) {
        return;
    }
    RefillBudget();
    if (unpaced) {
        budget_ = options_.maxInFlight;
    }
    const QString topic = options_.topics.reading;
    while (!sourceDrained_ && static_cast<int>(inFlight_.size()) < options_.maxInFlight &&
           budget_ >= 1) {
        const int room = std::min(options_.maxInFlight - static_cast<int>(inFlight_.size()),
                                  static_cast<int>(budget_));
        const std::vector<MqttReading> readings = source_.ReadingsAfter(sentSeq_, room);
        bool progressed = false;
        for (const MqttReading& reading : readings) {
            if (reading.seq <= sentSeq_) {
                continue; // not after the last one sent: a confused source
            }
            const int mid = Publish(topic, ReadingPayload(reading, reading.seq != liveSeq_), false);
            if (mid < 0) {
                // The connection is failing; the notifiers will tell.
                UpdateWriteNotifier();
                return;
            }
            inFlight_.push_back({reading.seq, mid, false});
            sentSeq_ = reading.seq;
            budget_ -= 1;
            progressed = true;
        }
        if (!progressed || static_cast<int>(readings.size()) < room) {
            sourceDrained_ = true;
        }
    }
    if (!sourceDrained_ && budget_ < 1 && !paceTimer_.isActive()) {
        paceTimer_.start(static_cast<int>(std::ceil((1 - budget_) * 1000 / options_.replayRate)));
    }
    UpdateWriteNotifier();
}

void MqttPublisher::UpdateWriteNotifier() {
    if (mosq_ != nullptr && writeNotifier_) {
        writeNotifier_->setEnabled(mosquitto_want_write(mosq_));
    }
}

void MqttPublisher::ConnectionEnded(const QString& reason) {
    const bool wasOpen = connectionOpen_;
    const int refusal = refusal_;
    DestroyClient();
    inFlight_.clear();
    sentSeq_ = ackedSeq_;
    if (state_ == State::Stopping) {
        stopTimer_.start(0);
        return;
    }
    if (refusal != 0) {
        if (!everConnected_ && refusal != kServerUnavailable) {
            attemptTimer_.stop();
            state_ = State::Failed;
            lastError_ = QStringLiteral("MQTT broker %1 refused the login: %2")
                             .arg(options_.url.Display(), RefusalText(refusal));
            if (callbacks_.failed) {
                callbacks_.failed(lastError_);
            }
            return;
        }
        AttemptFailed(QStringLiteral("refused: %1").arg(RefusalText(refusal)));
        return;
    }
    if (wasOpen) {
        RetryLater(
            QStringLiteral("MQTT: connection to %1 lost (%2)").arg(options_.url.Display(), reason));
        return;
    }
    AttemptFailed(reason);
}

void MqttPublisher::AttemptFailed(const QString& reason) {
    lookupTimer_.stop();
    lookup_.reset();
    DestroyClient();
    if (state_ == State::Stopping || state_ == State::Stopped || state_ == State::Failed) {
        return;
    }
    RetryLater(
        QStringLiteral("MQTT: cannot connect to %1 (%2)").arg(options_.url.Display(), reason));
}

void MqttPublisher::RetryLater(const QString& what) {
    attemptTimer_.stop();
    state_ = State::Waiting;
    const int delay = retryDelayMs_;
    retryDelayMs_ = std::min(options_.maxRetryMs, std::max(1, retryDelayMs_) * 2);
    retryTimer_.start(delay);
    Log(what + QStringLiteral("; trying again in %1 s").arg(delay / 1000.0, 0, 'g', 3));
}

void MqttPublisher::FinishStop() {
    if (state_ != State::Stopping) {
        return;
    }
    stopTimer_.stop();
    retryTimer_.stop();
    attemptTimer_.stop();
    lookupTimer_.stop();
    paceTimer_.stop();
    lookup_.reset();
    if (mosq_ != nullptr && connectionOpen_) {
        // A clean disconnect keeps the broker from sending the last will;
        // the status already says "offline".
        mosquitto_disconnect(mosq_);
        if (mosquitto_socket(mosq_) >= 0 && mosquitto_want_write(mosq_)) {
            mosquitto_loop_write(mosq_, 1);
        }
    }
    DestroyClient();
    inFlight_.clear();
    state_ = State::Stopped;
    if (callbacks_.stopped) {
        callbacks_.stopped();
    }
}

QString MqttPublisher::Describe(int rc, int savedErrno) const {
    if (!tlsFailure_.isEmpty()) {
        return tlsFailure_;
    }
    QString text;
    if (rc == MOSQ_ERR_ERRNO) {
        text = QString::fromLocal8Bit(std::strerror(savedErrno));
    } else if (rc == MOSQ_ERR_KEEPALIVE) {
        text = QStringLiteral("no answer from the broker within the keep-alive time of %1 s")
                   .arg(options_.keepAliveSeconds);
    } else {
        text = QString::fromUtf8(mosquitto_strerror(rc));
    }
    if (text.endsWith(QLatin1Char('.'))) {
        text.chop(1);
    }
    if ((rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_ERRNO) && !lastLibraryError_.isEmpty()) {
        text += QStringLiteral(": ") + lastLibraryError_;
    }
    return text;
}

QString MqttPublisher::SchemeHint(int rc, int savedErrno) const {
    if (!tlsFailure_.isEmpty()) {
        return {}; // the handshake went far enough to say what failed
    }
    const QString port = QString::number(options_.url.port);
    // The broker hung up on what it was sent.
    const bool hungUp =
        rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_PROTOCOL ||
        (rc == MOSQ_ERR_ERRNO && (savedErrno == EPROTO || savedErrno == ECONNRESET));
    if (!options_.url.tls) {
        return hungUp ? QStringLiteral("; if port %1 expects TLS, use mqtts://").arg(port)
                      : QString();
    }
    // A plain listener takes the TLS greeting for a bad packet and hangs up.
    if (rc == MOSQ_ERR_TLS && (lastLibraryError_.contains(QLatin1String("unexpected eof")) ||
                               lastLibraryError_.contains(QLatin1String("wrong version number")))) {
        return QStringLiteral("; port %1 does not answer in TLS: if it is a plain MQTT port, use "
                              "mqtt://")
            .arg(port);
    }
    // The broker's alert about a client certificate can be lost: it hangs
    // up while the station's first packet is still unread.
    if (hungUp) {
        return options_.certFile.isEmpty()
                   ? QStringLiteral("; the broker may want a client certificate")
                   : QStringLiteral("; the broker may have refused this station's certificate");
    }
    return {};
}

void MqttPublisher::Log(const QString& line) const {
    if (callbacks_.log) {
        callbacks_.log(line);
    }
}

QString MqttPublisher::StateText(State state) {
    switch (state) {
    case State::Idle:
        return QStringLiteral("not started");
    case State::Connecting:
        return QStringLiteral("connecting");
    case State::Connected:
        return QStringLiteral("connected");
    case State::Waiting:
        return QStringLiteral("waiting to connect again");
    case State::Stopping:
        return QStringLiteral("stopping");
    case State::Stopped:
        return QStringLiteral("stopped");
    case State::Failed:
        return QStringLiteral("failed");
    }
    return {};
}

} // namespace korvinet::mqtt
