#include "device/counter_choice.h"

#include "device/tube_profiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace korvinet::device {

namespace {

// 1 mR/hr = 10 µSv/hr in every conversion of this program.
constexpr double kMicrosievertPerMilliRoentgen = 10.0;

} // namespace

std::optional<CounterCalibration> CounterChoice::Calibration() const {
    if (const TubeProfile* profile = FindTube(tube)) {
        return CounterCalibration{profile->cpmPerMicrosievertHour * kMicrosievertPerMilliRoentgen,
                                  profile->deadTimeSeconds,
                                  QStringLiteral("tube ") + profile->name.toString()};
    }
    if (cpmPerMicrosievertHour > 0 && std::isfinite(cpmPerMicrosievertHour)) {
        return CounterCalibration{
            cpmPerMicrosievertHour * kMicrosievertPerMilliRoentgen,
            deadTimeSeconds > 0 && std::isfinite(deadTimeSeconds) ? deadTimeSeconds : 0.0,
            QStringLiteral("factor %1 CPM per \u00B5Sv/hr").arg(cpmPerMicrosievertHour)};
    }
    return std::nullopt;
}

CounterChoices ParseCounterChoices(const QString& stored) {
    CounterChoices choices;
    const QJsonDocument document = QJsonDocument::fromJson(stored.toUtf8());
    for (const QJsonValue& value : document.array()) {
        const QJsonObject o = value.toObject();
        CounterChoice choice;
        choice.counter = o.value(QStringLiteral("counter")).toString();
        if (choice.counter.isEmpty())
            continue;
        choice.kind = o.value(QStringLiteral("kind")).toString();
        choice.baud = o.value(QStringLiteral("baud")).toInt();
        choice.tube = o.value(QStringLiteral("tube")).toString();
        choice.cpmPerMicrosievertHour = o.value(QStringLiteral("cpm_per_usvh")).toDouble();
        choice.deadTimeSeconds = o.value(QStringLiteral("dead_time_s")).toDouble();
        choices.push_back(choice);
    }
    return choices;
}

QString FormatCounterChoices(const CounterChoices& choices) {
    if (choices.empty())
        return {};
    QJsonArray list;
    for (const CounterChoice& choice : choices) {
        QJsonObject o{{QStringLiteral("counter"), choice.counter}};
        if (!choice.kind.isEmpty())
            o.insert(QStringLiteral("kind"), choice.kind);
        if (choice.baud > 0)
            o.insert(QStringLiteral("baud"), choice.baud);
        if (!choice.tube.isEmpty())
            o.insert(QStringLiteral("tube"), choice.tube);
        if (choice.cpmPerMicrosievertHour > 0)
            o.insert(QStringLiteral("cpm_per_usvh"), choice.cpmPerMicrosievertHour);
        if (choice.deadTimeSeconds > 0)
            o.insert(QStringLiteral("dead_time_s"), choice.deadTimeSeconds);
        list.append(o);
    }
    return QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact));
}

const CounterChoice* FindChoice(const CounterChoices& choices, const QString& identity,
                                const QString& path) {
    const CounterChoice* any = nullptr;
    for (const CounterChoice& choice : choices) {
        if (choice.counter == identity || (!path.isEmpty() && choice.counter == path))
            return &choice;
        if (choice.counter == kAnyCounter && !any)
            any = &choice;
    }
    return any;
}

} // namespace korvinet::device
