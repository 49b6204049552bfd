#pragma once

#include "web/station_status.h"

#include <QByteArray>

namespace korvinet::web {

// The station's status in the Prometheus text exposition format, version
// 0.0.4, as /metrics answers it.
QByteArray MetricsText(const StationStatus& status);

} // namespace korvinet::web
