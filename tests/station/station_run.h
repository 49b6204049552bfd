#pragma once

// The built korvinet-station run by a test: a simulated counter sampled
// every 250 ms, its settings and journal in the test's folder.
#include "support/mqtt_broker.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

namespace korvinet::station {

// One run of the program, its settings and journal in the test's folder.
struct StationRun {
    explicit StationRun(const QTemporaryDir& home, const QStringList& extraEnv = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("KORVINET_DRIVER"), QStringLiteral("simulator"));
        env.insert(QStringLiteral("KORVINET_SIM_CPM"), QStringLiteral("600"));
        env.insert(QStringLiteral("KORVINET_STATION_SAMPLE_MS"), QStringLiteral("250"));
        for (const QString& pair : extraEnv)
            env.insert(pair.section('=', 0, 0), pair.section('=', 1));
        process.setProcessEnvironment(env);
    }
    ~StationRun() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    void Start(const QStringList& args) {
        process.start(QStringLiteral(KORVINET_STATION_PROGRAM), args);
        ASSERT_TRUE(process.waitForStarted(5000));
    }
    // Waits for the exit, dispatching events for the subscriber meanwhile.
    bool Finished(int timeoutMs) {
        return korvinet::testing::WaitUntil(
            [this] { return process.state() == QProcess::NotRunning; }, timeoutMs);
    }
    void Signal(int signal) { ::kill(static_cast<pid_t>(process.processId()), signal); }
    QStringList Lines() {
        out += QString::fromUtf8(process.readAllStandardOutput());
        return out.split('\n', Qt::SkipEmptyParts);
    }
    QString Errors() {
        err += QString::fromUtf8(process.readAllStandardError());
        return err;
    }

    QProcess process;
    QString out;
    QString err;
};

// Starts the station serving on a free port of 127.0.0.1; the port its log
// names, 0 when it names none.
inline int StartServing(StationRun& run, const QStringList& args) {
    run.Start(args + QStringList{"--http", "127.0.0.1:0"});
    static const QRegularExpression served("web page at http://127\\.0\\.0\\.1:(\\d+)/");
    int port = 0;
    korvinet::testing::WaitUntil(
        [&] {
            port = served.match(run.Errors()).captured(1).toInt();
            return port != 0 || run.process.state() == QProcess::NotRunning;
        },
        10000);
    return port;
}

inline QStringList JournalArgs(const QTemporaryDir& home) {
    return {QStringLiteral("--journal"), home.filePath(QStringLiteral("journal"))};
}

inline QStringList BrokerArgs(const korvinet::testing::MosquittoBroker& broker) {
    return {QStringLiteral("--mqtt"), QStringLiteral("mqtt://127.0.0.1:%1").arg(broker.Port())};
}

} // namespace korvinet::station
