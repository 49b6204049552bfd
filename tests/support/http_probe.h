#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <vector>

namespace korvinet::testing {

// What came back for one request: the status (0 when the connection closed
// without an answer or timed out), the header block and the body.
struct HttpReply {
    int status = 0;
    QByteArray head;
    QByteArray body;
};

// Sends `request` as it is (any bytes) to 127.0.0.1:port with plain blocking
// sockets and reads until the server closes. For a server on another thread
// or in another process; see RunWhileServing for one on this thread's event
// loop.
HttpReply HttpSend(int port, const QByteArray& request, int timeoutMs = 5000);
// "GET path HTTP/1.1" with Connection: close.
HttpReply HttpGet(int port, const QByteArray& path, int timeoutMs = 5000);

// Runs `work` on a thread of its own while dispatching this thread's Qt
// events, and returns its result.
HttpReply RunWhileServing(const std::function<HttpReply()>& work);

// Opens `count` connections to 127.0.0.1:port and leaves them idle; the
// descriptors, to close later. Raises the process's open-file limit as far
// as allowed when needed.
std::vector<int> OpenIdleConnections(int port, int count);
void CloseAll(std::vector<int>& fds);

} // namespace korvinet::testing
