#include "device/hardware_drivers.h"

#include "device/d2xx_library.h"
#include "device/d2xx_library_driver.h"

#ifdef KORVINET_HAVE_LIBFTDI
#include "device/libftdi_driver.h"
#endif

namespace korvinet::device {

std::unique_ptr<D2xxDriver> CreateLibFtdiDriver(QString* whyUnavailable) {
#ifdef KORVINET_HAVE_LIBFTDI
    return LibFtdiDriver::Create(whyUnavailable);
#else
    if (whyUnavailable)
        *whyUnavailable = QStringLiteral("this build of Korvinet has no libftdi support");
    return nullptr;
#endif
}

std::unique_ptr<D2xxDriver> CreateD2xxLibraryDriver(QString* whyUnavailable,
                                                    const QString& libraryPath) {
    auto library = D2xxLibrary::Load(libraryPath, whyUnavailable);
    if (!library)
        return nullptr;
    return std::make_unique<D2xxLibraryDriver>(std::move(library));
}

std::unique_ptr<D2xxDriver> CreateDefaultHardwareDriver(QString* note) {
    QString d2xxReason;
    if (auto driver = CreateD2xxLibraryDriver(&d2xxReason)) {
        if (note)
            *note = QStringLiteral("using FTDI's D2XX library");
        return driver;
    }
    QString libftdiReason;
    auto driver = CreateLibFtdiDriver(&libftdiReason);
    if (note)
        *note = driver ? QStringLiteral("using libftdi (%1)").arg(d2xxReason)
                       : QStringLiteral("no driver for real counters: %1; %2")
                             .arg(d2xxReason, libftdiReason);
    return driver;
}

} // namespace korvinet::device
