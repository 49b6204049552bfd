#pragma once

#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

namespace korvinet::device {

// A serial port as the system lists it.
struct SerialPortEntry {
    QString path;         // "/dev/ttyUSB0"
    QString serialNumber; // the USB serial number; empty where there is none
    QString description;  // "USB Serial", "CP2102 USB to UART Bridge Controller"
    std::optional<std::uint16_t> vendorId;
    std::optional<std::uint16_t> productId;
    // The kind of counter known to be on the port without the user saying
    // so (a simulated counter); empty for a port of the system.
    QString kind;

    // What tells this counter from others across plugging: its serial
    // number, or else the path it is on.
    QString Identity() const { return serialNumber.isEmpty() ? path : serialNumber; }
};

// Where the serial ports are found.
class SerialPortList {
public:
    virtual ~SerialPortList() = default;
    virtual QList<SerialPortEntry> Ports() = 0;
};

// The system's ports, as Qt Serial Port lists them. Pseudo-terminals are not
// listed; a port named by its path is described by PortAt.
class SystemSerialPorts final : public SerialPortList {
public:
    QList<SerialPortEntry> Ports() override;
};

// What the system says of the port at path (a pseudo-terminal, a port
// named through a /dev/serial/by-id link); none when there is nothing there.
std::optional<SerialPortEntry> PortAt(const QString& path);

} // namespace korvinet::device
