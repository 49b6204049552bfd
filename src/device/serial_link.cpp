#include "device/serial_link.h"

#include "device/receive_pump.h"

#include <QSerialPort>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace korvinet::device {

namespace {

// How long one read waits for the port when nothing arrives; a command for
// the port wakes it at once, so this only sets how often an idle link turns
// round (its cost in CPU).
constexpr int kWaitMs = 1000;

constexpr int kTransient = -1;
constexpr int kGone = -2;
constexpr int kNotOpen = -3;

} // namespace

// The pump's port over a QSerialPort, which is made, used and deleted on the
// pump's thread alone. A read waits for the port's descriptor or for a wake
// from a command; a port that hangs up (unplugged) is gone for good.
class SerialLink::Port final : public ReceivePump::Port {
public:
    Port() : wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~Port() override {
        if (wake_ >= 0)
            ::close(wake_);
    }

    // On the pump's thread.
    int OpenHere(const QString& path, int baud, QString* error) {
        serial_ = std::make_unique<QSerialPort>();
        serial_->setPortName(path);
        if (!serial_->open(QIODevice::ReadWrite)) {
            *error = QStringLiteral("cannot open %1: %2").arg(path, serial_->errorString());
            serial_.reset();
            return kNotOpen;
        }
        if (!serial_->setBaudRate(baud) || !serial_->setDataBits(QSerialPort::Data8) ||
            !serial_->setParity(QSerialPort::NoParity) ||
            !serial_->setStopBits(QSerialPort::OneStop) ||
            !serial_->setFlowControl(QSerialPort::NoFlowControl)) {
            *error = QStringLiteral("cannot set %1 to %2 baud: %3")
                         .arg(path)
                         .arg(baud)
                         .arg(serial_->errorString());
            serial_.reset();
            return kNotOpen;
        }
        serial_->clear(QSerialPort::AllDirections);
        return 0;
    }
    void CloseHere() { serial_.reset(); }
    int WriteHere(const QByteArray& bytes) {
        if (!serial_ || serial_->write(bytes) != bytes.size())
            return kTransient;
        return serial_->waitForBytesWritten(kWaitMs) ? 0 : kTransient;
    }

    // On any thread.
    void Wake() {
        const std::uint64_t one = 1;
        (void)!::write(wake_, &one, sizeof one);
    }

    int Read(std::uint8_t* buffer, int size) override {
        if (serial_ && serial_->bytesAvailable() > 0)
            return Take(buffer, size);
        pollfd fds[2] = {{wake_, POLLIN, 0}, {serial_ ? int(serial_->handle()) : -1, POLLIN, 0}};
        const int ready = ::poll(fds, serial_ ? 2 : 1, kWaitMs);
        if (ready < 0)
            return errno == EINTR ? 0 : kTransient;
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            (void)!::read(wake_, &count, sizeof count);
        }
        if (!serial_)
            return 0;
        const short events = fds[1].revents;
        if (events & POLLIN) {
            // Qt reads what the descriptor has into its buffer now.
            if (!serial_->waitForReadyRead(0) && serial_->bytesAvailable() == 0)
                return serial_->error() == QSerialPort::ResourceError ? kGone : kTransient;
            return Take(buffer, size);
        }
        // A hang-up without data: the other end is gone.
        if (events & (POLLHUP | POLLERR | POLLNVAL))
            return kGone;
        return 0;
    }
    int LineStatus() override { return 0; }
    int FlushReceived() override {
        return serial_ && serial_->clear(QSerialPort::Input) ? 0 : kTransient;
    }
    Error Classify(int error) const override {
        return error == kGone ? Error::Fatal : Error::Transient;
    }

private:
    int Take(std::uint8_t* buffer, int size) {
        const qint64 n = serial_->read(reinterpret_cast<char*>(buffer), size);
        return n < 0 ? kTransient : static_cast<int>(n);
    }

    int wake_;
    std::unique_ptr<QSerialPort> serial_;
};

SerialLink::SerialLink() = default;

SerialLink::~SerialLink() {
    Close();
}

bool SerialLink::Open(const QString& path, int baud, Receiver onReceived, QString* error) {
    Close();
    auto port = std::make_unique<Port>();
    port_ = port.get();
    ReceivePump::Options options;
    options.onReceived = std::move(onReceived);
    options.wake = [port = port_] { port->Wake(); };
    options.qtThread = true;
    pump_ = std::make_unique<ReceivePump>(std::move(port), options);
    QString why;
    if (pump_->Call([this, &path, baud, &why] { return port_->OpenHere(path, baud, &why); }) != 0) {
        *error = why;
        pump_.reset();
        port_ = nullptr;
        return false;
    }
    return true;
}

bool SerialLink::Purge() {
    return pump_ && !pump_->Lost() && pump_->PurgeReceived() >= 0;
}

std::uint32_t SerialLink::Queued() const {
    return pump_ ? pump_->Queued() : 0;
}

void SerialLink::Discard(std::uint32_t count) {
    if (pump_)
        pump_->Discard(count);
}

bool SerialLink::Write(const QByteArray& bytes) {
    return pump_ && pump_->Call([this, &bytes] { return port_->WriteHere(bytes); }) == 0;
}

bool SerialLink::Lost() const {
    return !pump_ || pump_->Lost();
}

std::uint64_t SerialLink::Received() const {
    return pump_ ? pump_->Received() : 0;
}

void SerialLink::Close() {
    if (!pump_)
        return;
    // The serial port's Qt objects go on the thread they were made on.
    (void)pump_->Call([this] {
        port_->CloseHere();
        return 0;
    });
    pump_.reset();
    port_ = nullptr;
}

} // namespace korvinet::device
