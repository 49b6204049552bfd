#pragma once

// page_probe.py driven from a test: headless Chromium at a window size, one
// JSON command and answer at a time, with Qt events dispatched while it
// works, so that a server on the test's own event loop keeps answering.
#include "support/wait_events.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

namespace korvinet::station {

class PageProbe {
public:
    PageProbe(int width, int height) {
        process.start(QStringLiteral("python3"), {QStringLiteral(KORVINET_PAGE_PROBE),
                                                  QString::number(width), QString::number(height)});
        EXPECT_TRUE(process.waitForStarted(5000));
    }
    ~PageProbe() {
        process.closeWriteChannel();
        if (!process.waitForFinished(10000))
            process.kill();
    }

    QJsonObject Run(const QJsonObject& command, int timeoutMs = 30000) {
        process.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
        korvinet::testing::WaitUntil(
            [this] { return process.canReadLine() || process.state() == QProcess::NotRunning; },
            timeoutMs);
        const QJsonObject answer = QJsonDocument::fromJson(process.readLine()).object();
        EXPECT_FALSE(answer.isEmpty() || answer.contains("error"))
            << QJsonDocument(command).toJson().toStdString() << " answered "
            << QJsonDocument(answer).toJson().toStdString()
            << process.readAllStandardError().toStdString();
        return answer;
    }
    QJsonValue Eval(const QString& expression) { return Run({{"eval", expression}})["value"]; }
    QString Text(const char* id) {
        return Eval(QStringLiteral("document.getElementById('%1').textContent")
                        .arg(QLatin1String(id)))
            .toString();
    }
    // Whether the expression came to hold within the time.
    bool Wait(const QString& expression, int seconds = 20) {
        return Run({{"wait", expression}, {"seconds", seconds}}, seconds * 1000 + 10000)["ok"]
            .toBool();
    }

    QProcess process;
};

} // namespace korvinet::station
