#pragma once

#include <QByteArrayView>
#include <QString>
#include <optional>
#include <vector>

namespace korvinet::maps {

// The public radiation maps a station can feed.
enum class MapService { Radmon, Safecast, OpenSenseMap, OpenRadiation, GmcMap };

// What the station knows of a map service: its address, how often its users
// customarily upload and how often it tolerates, and whether it takes a past
// time (only then can a gap be filled afterwards).
struct MapServiceInfo {
    MapService service;
    const char* section; // the upload file's section name
    const char* title;   // for the log
    const char* defaultUrl;
    int intervalS;    // customary upload interval
    int minIntervalS; // the service refuses or throttles closer uploads
    int paceS;        // between the requests that fill a gap
    int maxBatch;     // intervals one request may carry
    bool takesTime;
};

const MapServiceInfo& InfoOf(MapService service);

// One [section] of the upload file, checked and with its secret read.
struct MapDestination {
    MapService service = MapService::Radmon;
    QString url; // base address, without a trailing slash
    int intervalS = 60;
    QString caFile; // extra certificate authority; empty: the system's store only

    QString user;                   // radmon
    QString secret;                 // password, API key or access token; never printed
    QString box, sensor;            // openSenseMap
    bool sensorTakesDose = false;   // openSenseMap sensor in µSv/h rather than CPM
    QString account, counter;       // GMCmap
    QString deviceId, locationName; // Safecast
    // OpenRadiation: where the counter stands and which it is; the service
    // rates a value by how much of this it is told.
    QString measurementEnvironment, apparatusId;
    std::optional<int> measurementHeight;
    std::optional<double> latitude, longitude, height;

    const MapServiceInfo& Info() const { return InfoOf(service); }
};

struct UploadConfig {
    std::vector<MapDestination> destinations;
};

// Reads and checks the upload file; relative file names in it are taken from
// the upload file's folder. Nothing, with one line naming the file, the line
// and the problem in *error, when it cannot be used.
std::optional<UploadConfig> ReadUploadFile(const QString& path, QString* error);
// The same for the file's text; `folder` resolves relative file names and
// `name` is how the error names the file.
std::optional<UploadConfig> ParseUploadFile(QByteArrayView text, const QString& folder,
                                            const QString& name, QString* error);

} // namespace korvinet::maps
