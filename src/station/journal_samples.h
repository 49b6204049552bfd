#pragma once

#include "net/count_samples.h"

#include <QString>

namespace korvinet::station {

// The samples the journal in `folder` recorded, as the map uploads read them.
net::ReadSamples JournalSamples(const QString& folder);

} // namespace korvinet::station
