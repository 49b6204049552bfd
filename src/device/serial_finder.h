#pragma once

#include "device/counter_choice.h"
#include "device/counter_device.h"
#include "device/serial_ports.h"

#include <QHash>
#include <optional>

namespace korvinet::platform {
class Clock;
} // namespace korvinet::platform

namespace korvinet::device {

// The counters on serial ports: a port is listed when its kind is known,
// because the user chose it for that port (by its serial number or its
// path), because the port itself says (a simulated counter), or because a
// counter of a kind that answers questions answered on it (a port the user
// named, or one of the USB bridges such counters use). A port named by a
// path that the system does not list (a pseudo-terminal) is listed as long
// as the path is there. Each is named with its kind or model and port:
// "Text-line counter (/dev/ttyUSB0)", "Rad Pro FS2011 (/dev/ttyUSB0)".
// Ports of no known kind are never opened, and no other port is sent a
// byte.
class SerialFinder final : public CounterFinder {
public:
    // Both outlive the finder.
    SerialFinder(SerialPortList& ports, const platform::Clock& clock)
        : ports_(ports), clock_(clock) {}

    void SetChoices(CounterChoices choices) { choices_ = std::move(choices); }
    const CounterChoices& Choices() const { return choices_; }
    // The ports there are now, whatever their kind (for choosing one).
    QList<SerialPortEntry> Ports() { return ports_.Ports(); }

    std::vector<ListedCounter> List() override;
    std::unique_ptr<CounterDevice> Make(const ListedCounter& counter) override;

private:
    struct Found {
        SerialPortEntry port;
        QString kind;
        int baud = 0;
    };

    SerialPortList& ports_;
    const platform::Clock& clock_;
    CounterChoices choices_;
    QHash<QString, Found> found_; // by path, from the last List()
    // What a kind's question found on a port (path, serial number, kind),
    // while the port stays.
    QHash<QString, std::optional<QString>> asked_;
};

} // namespace korvinet::device
