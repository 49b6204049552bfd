#pragma once

#include "platform/regional.h"
#include "web/http_server.h"
#include "web/station_status.h"

#include <QString>
#include <cstddef>
#include <memory>
#include <vector>

namespace korvinet::platform {
class Clock;
} // namespace korvinet::platform

namespace korvinet::recording {
class HistoryLive;
} // namespace korvinet::recording

namespace korvinet::web {

struct WebLimits {
    std::size_t rowLimit = 10000; // rows of one /api/readings answer
};

// The station's web site: which path gets which answer. The page and its
// files, /api/status, /api/readings, /metrics. Read-only; answers on the
// event loop except for history reads beyond the recent readings in memory,
// which run as jobs with copies of what they need. The page's files are gzipped once, here, and
// sent with a tag naming their content, so a browser that has them hears "not modified"; every
// answer is gzipped for a client that takes it.
class StationRoutes {
public:
    // source, clock and regional outlive it; `history` is the recording
    // program's (none: everything is read from the folder).
    StationRoutes(const StatusSource& source, QString journalFolder,
                  std::shared_ptr<const recording::HistoryLive> history,
                  const platform::Clock& clock, const platform::Regional& regional,
                  WebLimits limits = {});

    HttpAnswer Answer(const HttpRequest& request) const;

private:
    // One of the page's files as sent, plain and gzipped, and the entity
    // tag of each.
    struct PageFile {
        QByteArray path;
        QByteArray type;
        QByteArray plain;
        QByteArray gzipped;
        QByteArray plainTag;
        QByteArray gzippedTag;
    };

    HttpAnswer Route(const HttpRequest& request) const;
    HttpAnswer Readings(const HttpRequest& request) const;

    const StatusSource& source_;
    QString journalFolder_;
    std::shared_ptr<const recording::HistoryLive> history_;
    const platform::Clock& clock_;
    const platform::Regional& regional_;
    WebLimits limits_;
    std::vector<PageFile> files_;
};

} // namespace korvinet::web
