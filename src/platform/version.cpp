#include "platform/version.h"

#include "platform/build_version.h"

namespace korvinet::platform {

QString OwnVersionText() {
    return QString::fromLatin1(build::kVersionText);
}

} // namespace korvinet::platform
