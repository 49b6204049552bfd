#pragma once

#include "device/d2xx.h"

#include <QString>
#include <memory>

namespace korvinet::device {

// The driver backends that talk to real counters. Each returns null when it
// cannot be used here, with a sentence saying why in whyUnavailable.

// libftdi over libusb (Linux). Null when Korvinet was built without libftdi
// or libusb cannot be set up.
std::unique_ptr<D2xxDriver> CreateLibFtdiDriver(QString* whyUnavailable = nullptr);

// FTDI's own D2XX library, loaded now from libraryPath or, when that is
// empty, by its usual name (libftd2xx.so, FTD2XX.DLL). Null when it is not
// installed or lacks a function Korvinet calls.
std::unique_ptr<D2xxDriver> CreateD2xxLibraryDriver(QString* whyUnavailable = nullptr,
                                                    const QString& libraryPath = QString());

// The backend to use when none is named: FTDI's library when it loads,
// otherwise libftdi. note says which one was taken and, when FTDI's library
// was passed over, why. Null only when neither can be used.
std::unique_ptr<D2xxDriver> CreateDefaultHardwareDriver(QString* note = nullptr);

} // namespace korvinet::device
