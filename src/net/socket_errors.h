#pragma once

#include <QString>

namespace korvinet::net {

// Socket failures are reported with the Windows Sockets numbers and their
// standard descriptions, so a user sees the same message on every platform
// ("10061:Connection refused"). Numbers without a description read
// "Unknown Error No. " and the number.
QString SocketErrorText(int windowsSocketsCode);

// The Windows Sockets number for a POSIX errno value; an errno without a
// counterpart comes back unchanged (and then reads as an unknown error).
int WindowsSocketsCodeFromErrno(int errnoValue);

// Shorthand: SocketErrorText(WindowsSocketsCodeFromErrno(errnoValue)).
QString SocketErrorTextFromErrno(int errnoValue);

} // namespace korvinet::net
