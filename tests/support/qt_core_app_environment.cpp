// For GoogleTest programs that need Qt's event loop but no window system
// (the MQTT publisher, the station).
#include "support/application_environment.h"

#include <QCoreApplication>

namespace {

[[maybe_unused]] const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(
    new korvinet::test::ApplicationEnvironment<QCoreApplication>);

} // namespace
