// For GoogleTest programs whose code needs Qt's application object: widgets
// and text drawing (the chart, image export) and event dispatch during waits
// (the HTTP client), on the offscreen platform.
#include "support/application_environment.h"

#include <QApplication>

namespace {

// Set before main(), so before the application object exists.
[[maybe_unused]] const bool kOffscreen = qputenv("QT_QPA_PLATFORM", "offscreen");

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new korvinet::test::ApplicationEnvironment<QApplication>);

} // namespace
