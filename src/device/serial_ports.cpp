#include "device/serial_ports.h"

#include <QFileInfo>
#include <QSerialPortInfo>

namespace korvinet::device {

namespace {

SerialPortEntry EntryOf(const QSerialPortInfo& info) {
    SerialPortEntry entry;
    entry.path = info.systemLocation();
    entry.serialNumber = info.serialNumber();
    entry.description = info.description();
    if (info.hasVendorIdentifier())
        entry.vendorId = info.vendorIdentifier();
    if (info.hasProductIdentifier())
        entry.productId = info.productIdentifier();
    return entry;
}

} // namespace

QList<SerialPortEntry> SystemSerialPorts::Ports() {
    QList<SerialPortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ports.append(EntryOf(info));
    return ports;
}

std::optional<SerialPortEntry> PortAt(const QString& path) {
    const QFileInfo file(path);
    if (!file.exists())
        return std::nullopt;
    const QString real = file.canonicalFilePath();
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        if (info.systemLocation() == real)
            return EntryOf(info);
    SerialPortEntry entry;
    entry.path = path;
    return entry;
}

} // namespace korvinet::device
