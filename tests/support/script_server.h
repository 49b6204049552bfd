#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace korvinet::testing {

// A server process on 127.0.0.1 for the duration of a test: started with the
// given program and arguments, its port read from the first line of its
// output that matches portPattern (one capture group). Killed when destroyed.
class ScriptServer {
public:
    ScriptServer(const QString& program, const QStringList& arguments,
                 const QString& portPattern = QStringLiteral("^(\\d+)$"));
    ~ScriptServer();
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    // 0 when the server did not come up.
    int Port() const { return port_; }
    QString Address() const { return QStringLiteral("127.0.0.1:") + QString::number(port_); }

private:
    QProcess process_;
    int port_ = 0;
};

// A stand-in server's script, named from tests/ ("net/http_test_server.py").
QString TestScript(const QString& name);

// A port on 127.0.0.1 on which nothing listens (bound once, then released).
int UnusedPort();

} // namespace korvinet::testing
