#include "device/pulse_byte_counter.h"

#include "device/serial_kinds.h"

namespace korvinet::device {

PulseByteCounter::PulseByteCounter(SerialPortEntry port, int baud)
    : port_(std::move(port)), baud_(baud > 0 ? baud : kBaud) {}

CounterDevice::OpenResult PulseByteCounter::Open(QString* error) {
    if (!link_.Open(port_.path, baud_, {}, error))
        return OpenResult::NotOpened;
    facts_ = SerialCounterFacts(port_, kPulseByteKind);
    return OpenResult::Opened;
}

bool PulseByteCounter::Restart() {
    return link_.Purge();
}

bool PulseByteCounter::Sample(CounterSample* sample, QString* why) {
    // Bytes counted before the port went are lost with it: the sample
    // fails, as the FTDI counter's does.
    if (link_.Lost()) {
        *why = SerialPortLostText(port_);
        return false;
    }
    sample->counts = link_.Queued();
    link_.Discard(sample->counts);
    return true;
}

bool PulseByteCounter::Close() {
    link_.Close();
    return true;
}

} // namespace korvinet::device
