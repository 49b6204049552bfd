#include "support/mqtt_broker.h"

#include "support/script_server.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <csignal>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvinet::testing {

namespace {

// Debian puts the broker in /usr/sbin, which is not on every user's path.
QString Program(const QString& name) {
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty()
               ? QStandardPaths::findExecutable(
                     name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")})
               : found;
}

bool Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(Program(program), arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace

MosquittoBroker::MosquittoBroker() : MosquittoBroker(Config{}) {}

MosquittoBroker::MosquittoBroker(Config config) : config_(std::move(config)) {
    port_ = UnusedPort();
    configured_ = dir_.isValid() && WriteConfig();
}

MosquittoBroker::~MosquittoBroker() {
    Stop();
}

bool MosquittoBroker::Reconfigure(Config config) {
    config_ = std::move(config);
    configured_ = dir_.isValid() && WriteConfig();
    return configured_;
}

bool MosquittoBroker::WriteConfig() {
    QByteArray conf = "listener " + QByteArray::number(port_) + " 127.0.0.1\n";
    conf += "persistence false\n";
    // Run as root (CI containers), the broker would switch to its own user,
    // who cannot read this private folder.
    if (geteuid() == 0) {
        conf += "user root\n";
    }
    if (config_.user.isEmpty()) {
        conf += "allow_anonymous true\n";
    } else {
        const QString passwords = dir_.filePath(QStringLiteral("passwords"));
        if (!Run(QStringLiteral("mosquitto_passwd"), {QStringLiteral("-c"), QStringLiteral("-b"),
                                                      passwords, config_.user, config_.password})) {
            return false;
        }
        conf += "allow_anonymous false\npassword_file " + QFile::encodeName(passwords) + "\n";
    }
    if (config_.tls) {
        if (!MakeCertificates()) {
            return false;
        }
        const char* const certificates[] = {"server.crt", "expired.crt", "elsewhere.crt"};
        conf +=
            "certfile " +
            QFile::encodeName(
                dir_.filePath(QLatin1String(certificates[static_cast<int>(config_.certificate)]))) +
            "\nkeyfile " + QFile::encodeName(dir_.filePath(QStringLiteral("server.key"))) + "\n";
        if (config_.clientCertificates) {
            conf += "require_certificate true\ncafile " + QFile::encodeName(CaFile()) + "\n";
        }
    }
    if (config_.maxQueuedMessages > 0) {
        conf += "max_queued_messages " + QByteArray::number(config_.maxQueuedMessages) + "\n";
    }
    QFile file(dir_.filePath(QStringLiteral("mosquitto.conf")));
    return file.open(QIODevice::WriteOnly) && file.write(conf) == conf.size();
}

bool MosquittoBroker::MakeCertificates() {
    const auto path = [this](const char* name, const char* suffix) {
        return dir_.filePath(QLatin1String(name) + QLatin1String(suffix));
    };
    const QString openssl = QStringLiteral("openssl");
    const auto authority = [&](const char* name, const char* subject) {
        return Run(openssl, {"req", "-x509", "-newkey", "ec", "-pkeyopt",
                             "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
                             subject, "-keyout", path(name, ".key"), "-out", path(name, ".crt")});
    };
    // A certificate for a key (made when it is new), signed by an authority.
    const auto issue = [&](const char* name, const char* key, const char* subject, const char* by,
                           const char* altNames = nullptr, const char* days = "2") {
        QStringList request = {"req", "-new", "-subj", subject, "-out", path(name, ".csr")};
        request += QFile::exists(path(key, ".key"))
                       ? QStringList{"-key", path(key, ".key")}
                       : QStringList{
                             "-newkey", "ec",      "-pkeyopt",       "ec_paramgen_curve:prime256v1",
                             "-nodes",  "-keyout", path(key, ".key")};
        if (altNames != nullptr) {
            request += {"-addext", QStringLiteral("subjectAltName=") + QLatin1String(altNames)};
        }
        return Run(openssl, request) &&
               Run(openssl, {"x509", "-req", "-in", path(name, ".csr"), "-CA", path(by, ".crt"),
                             "-CAkey", path(by, ".key"), "-CAcreateserial", "-copy_extensions",
                             "copy", "-days", days, "-out", path(name, ".crt")});
    };
    const char* const localhost = "DNS:localhost,IP:127.0.0.1";
    return authority("ca", "/CN=Korvinet test CA") &&
           authority("stranger", "/CN=station") && // its own authority, unknown to the broker
           issue("server", "server", "/CN=localhost", "ca", localhost) &&
           issue("expired", "server", "/CN=localhost", "ca", localhost, "-1") && // before it began
           issue("elsewhere", "server", "/CN=elsewhere.invalid", "ca", "DNS:elsewhere.invalid") &&
           issue("client", "client", "/CN=station", "ca");
}

bool MosquittoBroker::Start() {
    if (!configured_ || port_ == 0) {
        return false;
    }
    Stop();
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(Program(QStringLiteral("mosquitto")),
                   {QStringLiteral("-c"), dir_.filePath(QStringLiteral("mosquitto.conf"))});
    if (!process_.waitForStarted(10000)) {
        return false;
    }
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (Accepts(port_)) {
            return true;
        }
        if (process_.state() == QProcess::NotRunning) {
            break;
        }
        QThread::msleep(20);
    }
    output_ += QString::fromLocal8Bit(process_.readAll());
    return false;
}

void MosquittoBroker::Freeze() {
    if (process_.state() == QProcess::Running) {
        ::kill(static_cast<pid_t>(process_.processId()), SIGSTOP);
    }
}

void MosquittoBroker::Kill() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

void MosquittoBroker::Stop() {
    if (process_.state() == QProcess::NotRunning) {
        return;
    }
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
    output_ += QString::fromLocal8Bit(process_.readAll());
}

MqttSubscriber::MqttSubscriber(int port, const QString& topicFilter, const QString& clientId)
    : filter_(topicFilter.toUtf8()) {
    mosquitto_lib_init();
    const QByteArray id = clientId.toUtf8();
    mosq_ = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), id.isEmpty(), this);
    mosquitto_connect_callback_set(mosq_, &MqttSubscriber::OnConnect);
    mosquitto_subscribe_callback_set(mosq_, &MqttSubscriber::OnSubscribe);
    mosquitto_message_callback_set(mosq_, &MqttSubscriber::OnMessage);
    mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
    mosquitto_connect_async(mosq_, "127.0.0.1", port, 30);
    mosquitto_loop_start(mosq_);
}

MqttSubscriber::~MqttSubscriber() {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    mosquitto_destroy(mosq_);
}

void MqttSubscriber::OnConnect(mosquitto* mosq, void* self, int rc) {
    if (rc == 0) {
        mosquitto_subscribe(mosq, nullptr, static_cast<MqttSubscriber*>(self)->filter_.constData(),
                            1);
    }
}

void MqttSubscriber::OnSubscribe(mosquitto*, void* self, int, int, const int*) {
    auto* subscriber = static_cast<MqttSubscriber*>(self);
    const std::lock_guard lock(subscriber->mutex_);
    ++subscriber->subscriptions_;
}

void MqttSubscriber::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* subscriber = static_cast<MqttSubscriber*>(self);
    const std::lock_guard lock(subscriber->mutex_);
    subscriber->messages_.push_back(
        {QString::fromUtf8(message->topic),
         QByteArray(static_cast<const char*>(message->payload), message->payloadlen),
         message->retain, std::chrono::steady_clock::now()});
}

bool MqttSubscriber::WaitSubscribed(int timeoutMs) {
    return WaitUntil(
        [&] {
            const std::lock_guard guard(mutex_);
            return subscriptions_ > 0;
        },
        timeoutMs);
}

std::vector<MqttSubscriber::Message> MqttSubscriber::Messages() const {
    const std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<MqttSubscriber::Message> MqttSubscriber::MessagesOn(const QString& topic) const {
    std::vector<Message> out;
    for (const Message& m : Messages()) {
        if (m.topic == topic) {
            out.push_back(m);
        }
    }
    return out;
}

void MqttSubscriber::Publish(const QString& topic, const QByteArray& payload) {
    mosquitto_publish(mosq_, nullptr, topic.toUtf8().constData(), static_cast<int>(payload.size()),
                      payload.constData(), 1, false);
}

void MqttSubscriber::Clear() {
    const std::lock_guard lock(mutex_);
    messages_.clear();
    subscriptions_ = 0;
}

QByteArrayList RetainedOn(int port, const QString& topic) {
    MqttSubscriber late(port, topic);
    if (!late.WaitSubscribed())
        return {};
    RunEventsFor(200);
    QByteArrayList payloads;
    for (const auto& m : late.Messages())
        if (m.retained)
            payloads.append(m.payload);
    return payloads;
}

} // namespace korvinet::testing
