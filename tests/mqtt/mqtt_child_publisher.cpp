// A publisher in a process of its own, for the tests that kill it:
//   mqtt_child_publisher PORT PREFIX SERIAL COUNT
// publishes COUNT readings, prints "acknowledged N" once the broker has them
// all and then waits to be killed.
#include "memory_outbox.h"
#include "mqtt/mqtt_publisher.h"

#include <QCoreApplication>
#include <cstdio>

using namespace korvinet::mqtt;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s PORT PREFIX SERIAL COUNT\n", argv[0]);
        return 2;
    }
    const QStringList args = app.arguments();
    const int count = args[4].toInt();
    korvinet::testing::MemoryOutbox outbox;
    for (int seq = 1; seq <= count; ++seq) {
        MqttReading reading;
        reading.seq = static_cast<std::uint64_t>(seq);
        reading.time = QDateTime::currentDateTime();
        outbox.Add(reading);
    }
    MqttPublisherOptions options;
    options.url.host = QStringLiteral("127.0.0.1");
    options.url.port = args[1].toInt();
    options.clientId = QStringLiteral("korvinet-child");
    options.topics = TopicsFor(args[2], args[3]);
    MqttPublisher::Callbacks callbacks;
    callbacks.acknowledged = [&](std::uint64_t seq) {
        outbox.DropThrough(seq);
        if (seq == static_cast<std::uint64_t>(count)) {
            std::printf("acknowledged %d\n", count);
            std::fflush(stdout);
        }
    };
    callbacks.log = [](const QString& line) { std::fprintf(stderr, "%s\n", qPrintable(line)); };
    MqttPublisher publisher(options, outbox, callbacks);
    if (!publisher.Start(0)) {
        std::fprintf(stderr, "%s\n", qPrintable(publisher.LastError()));
        return 1;
    }
    return app.exec();
}
