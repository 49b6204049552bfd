#pragma once

#include <QString>

namespace korvinet::platform {

// The program's own version, "1.0.3.0", from the project version of the
// build; empty when the build carries none.
QString OwnVersionText();

} // namespace korvinet::platform
