#include "maps/map_uploader.h"

#include "platform/file_replace.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cmath>
#include <utility>

namespace korvinet::maps {

namespace {

// An interval is sent this long after its end, so that the sample taken at
// its very end is in the journal.
constexpr qint64 kGraceMs = 700;
// The first retry after a failure; the wait doubles up to the interval.
constexpr qint64 kFirstRetryMs = 10000;
// Timeouts of one request.
constexpr qint64 kTimeoutMs = 30000;
constexpr qint64 kConnectTimeoutMs = 15000;
constexpr qint64 kMinTimeoutMs = 2000;
// How long a stop waits for the answers to requests under way.
constexpr int kStopWaitMs = 2000;

} // namespace

UploadCursor::UploadCursor(const QString& folder, const MapDestination& destination)
    : folder_(folder), path_(folder + QLatin1Char('/') + QLatin1String(destination.Info().section) +
                             QStringLiteral(".cursor")) {}

std::optional<qint64> UploadCursor::Load(QString* problem) const {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const qint64 utcMs = file.readLine(64).trimmed().toLongLong(&ok);
    if (!ok || utcMs <= 0) {
        if (problem != nullptr)
            *problem = QStringLiteral("%1 does not read").arg(path_);
        return std::nullopt;
    }
    return utcMs;
}

bool UploadCursor::Save(qint64 utcMs, QString* error) const {
    if (!QDir().mkpath(folder_) ||
        !platform::ReplaceFileContents(path_, QByteArray::number(utcMs) + '\n')) {
        *error = QStringLiteral("cannot write %1").arg(path_);
        return false;
    }
    return true;
}

MapUploader::MapUploader(MapDestination destination, const UploadContext& context)
    : d_(std::move(destination)), context_(context), cursorStore_(context.cursorFolder, d_) {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    paceMs_ = PaceMs();
}

qint64 MapUploader::IntervalMs() const {
    return std::max<qint64>(1, std::llround(d_.intervalS * 1000.0 * context_.timeScale));
}

qint64 MapUploader::PaceMs() const {
    return std::llround(d_.Info().paceS * 1000.0 * context_.timeScale);
}

void MapUploader::Log(const QString& line) const {
    QString text = QLatin1String(d_.Info().title) + QStringLiteral(": ") + line;
    if (!d_.secret.isEmpty())
        text.replace(d_.secret, QStringLiteral("***"));
    if (context_.log)
        context_.log(text);
}

QString MapUploader::When(qint64 utcMs) {
    return QDateTime::fromMSecsSinceEpoch(utcMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void MapUploader::Start() {
    const qint64 now = context_.nowUtcMs();
    QString problem;
    const std::optional<qint64> saved = cursorStore_.Load(&problem);
    if (!problem.isEmpty())
        Log(problem + QStringLiteral("; starting afresh"));
    const QString every = QStringLiteral("every %1 s to %2").arg(IntervalMs() / 1000.0).arg(d_.url);
    if (saved) {
        cursor_ = *saved;
        Log(QStringLiteral("uploading %1, from %2 on").arg(every, When(cursor_)));
    } else {
        // Saved at once, so that a restart before the first upload still
        // fills the gap.
        cursor_ = IntervalStart(now, IntervalMs());
        QString why;
        if (!cursorStore_.Save(cursor_, &why))
            Log(why);
        Log(QStringLiteral("uploading %1").arg(every));
    }
    Poll();
}

void MapUploader::SetConversion(const measure::RateConversion& conversion) {
    conversion_ = conversion;
    Poll();
}

void MapUploader::ScheduleIn(qint64 ms) {
    timer_.start(static_cast<int>(std::clamp<qint64>(ms, 0, 24 * 3600 * 1000)));
}

void MapUploader::Refill(qint64 afterUtcMs) {
    if (stopped_ || !d_.Info().takesTime)
        return;
    const qint64 from = IntervalStart(afterUtcMs, IntervalMs()) + IntervalMs();
    refill_ = std::min(refill_.value_or(from), from);
    Poll();
}

void MapUploader::Poll() {
    if (stopped_ || sending_)
        return;
    const qint64 now = context_.nowUtcMs();
    const qint64 interval = IntervalMs();
    if (refill_) {
        // The intervals it passed in the gap held nothing: none was sent.
        if (*refill_ < cursor_) {
            Log(QStringLiteral("readings from the counter's memory fill %1 to %2: sending them")
                    .arg(When(*refill_), When(cursor_)));
            cursor_ = *refill_;
            QString why;
            if (!cursorStore_.Save(cursor_, &why))
                Log(why);
        }
        refill_.reset();
    }
    const qint64 closedEnd = IntervalStart(now - kGraceMs, interval);
    const qint64 nextDue = closedEnd + interval + kGraceMs - now;
    if (cursor_ >= closedEnd) {
        ScheduleIn(nextDue);
        return;
    }
    if (lastSentAt_ != 0 && now - lastSentAt_ < paceMs_) {
        ScheduleIn(lastSentAt_ + paceMs_ - now);
        return;
    }
    qint64 from = cursor_;
    if (!d_.Info().takesTime) {
        const qint64 latest = closedEnd - interval;
        if (cursor_ < latest) {
            if (skippedFrom_ == 0)
                skippedFrom_ = cursor_;
            cursor_ = latest;
        }
        from = std::max(cursor_, latest);
    }
    std::vector<IntervalMean> batch = NextIntervals(context_.readSamples, from, closedEnd, interval,
                                                    static_cast<std::size_t>(d_.Info().maxBatch));
    if (batch.empty()) {
        Advance(closedEnd); // nothing recorded up to there
        ScheduleIn(nextDue);
        return;
    }
    if (NeedsDose(d_) && !conversion_) {
        if (!waitingForDoseLogged_)
            Log(QStringLiteral("waiting for the counter, whose conversion gives the dose rate"));
        waitingForDoseLogged_ = true;
        return; // SetConversion polls again
    }
    Send(std::move(batch));
}

void MapUploader::Send(std::vector<IntervalMean> batch) {
    UploadExtras extras;
    extras.dose = conversion_;
    std::uint64_t counts = sentCounts_;
    std::uint64_t ms = sentMs_;
    for (const IntervalMean& i : batch) {
        counts += i.counts;
        ms += i.liveMs;
    }
    extras.averageCpm = ms > 0 ? 60000.0 * double(counts) / double(ms) : 0.0;
    const HttpRequest request = BuildMapRequest(d_, batch, extras);
    if (request.url.isEmpty()) {
        // Not one value the service could take (the counter's conversion gave
        // no number): nothing to send, and nothing sending later would mend.
        if (!noValueLogged_)
            Log(QStringLiteral("the counter's conversion gives no number for the values up to "
                               "%1; they are not sent")
                    .arg(When(batch.back().endMs)));
        noValueLogged_ = true;
        Advance(batch.back().endMs);
        ScheduleIn(0);
        return;
    }
    HttpOptions options;
    options.timeoutMs =
        static_cast<int>(std::max(kMinTimeoutMs, std::llround(kTimeoutMs * context_.timeScale)));
    options.connectTimeoutMs = static_cast<int>(
        std::max(kMinTimeoutMs, std::llround(kConnectTimeoutMs * context_.timeScale)));
    options.caFile = d_.caFile;
    inFlight_ = std::move(batch);
    sending_ = true;
    lastSentAt_ = context_.nowUtcMs();
    context_.http->Send(request, options, [this](const HttpResult& result) { Answered(result); });
}

void MapUploader::Advance(qint64 cursor) {
    if (cursor <= cursor_)
        return;
    cursor_ = cursor;
    QString why;
    if (!cursorStore_.Save(cursor_, &why)) {
        if (!cursorFailing_)
            Log(why + QStringLiteral("; after a restart some intervals may go twice"));
        cursorFailing_ = true;
    } else {
        cursorFailing_ = false;
    }
}

bool MapUploader::Finish(std::function<void()> answered) {
    stopped_ = true;
    timer_.stop();
    if (!sending_)
        return false;
    finished_ = std::move(answered);
    return true;
}

void MapUploader::Answered(const HttpResult& result) {
    Judge(result);
    if (finished_)
        std::exchange(finished_, {})();
}

void MapUploader::Judge(const HttpResult& result) {
    sending_ = false;
    const UploadVerdict verdict = ClassifyMapResponse(d_.service, result);
    const qint64 interval = IntervalMs();
    switch (verdict.outcome) {
    case UploadOutcome::Accepted:
    case UploadOutcome::Rejected:
        if (verdict.outcome == UploadOutcome::Rejected) {
            Log(QStringLiteral("the service did not take the values up to %1 (%2); going on "
                               "with the next")
                    .arg(When(inFlight_.back().endMs), verdict.why));
        } else if (failing_) {
            Log(QStringLiteral("uploading again"));
        }
        if (skippedFrom_ != 0) {
            // Logged once the gap is over, with its whole extent.
            Log(QStringLiteral("the service takes no time, so the intervals from %1 to %2 were "
                               "not sent; the latest went")
                    .arg(When(skippedFrom_), When(inFlight_.front().startMs)));
            skippedFrom_ = 0;
        }
        failing_ = false;
        noValueLogged_ = false;
        retryMs_ = 0;
        paceMs_ = std::max(PaceMs(), paceMs_ / 2);
        if (paceMs_ == PaceMs())
            slowed_ = false;
        for (const IntervalMean& i : inFlight_) {
            sentCounts_ += i.counts;
            sentMs_ += i.liveMs;
        }
        Advance(inFlight_.back().endMs);
        break;
    case UploadOutcome::SlowDown: {
        qint64 pace = std::max<qint64>(paceMs_ * 2, interval / 8);
        if (result.retryAfterS)
            pace = std::max<qint64>(
                pace, std::llround(*result.retryAfterS * 1000.0 * context_.timeScale));
        paceMs_ = std::min(pace, std::max(interval, PaceMs()));
        if (!slowed_)
            Log(QStringLiteral("%1; slowing down to a request every %2 s")
                    .arg(verdict.why)
                    .arg(paceMs_ / 1000.0));
        slowed_ = true;
        break;
    }
    case UploadOutcome::Refused:
    case UploadOutcome::Unusable:
        Log(verdict.outcome == UploadOutcome::Refused
                ? QStringLiteral("the service refused the login (%1); no more uploads to it. "
                                 "Check the credentials in the upload file and restart the "
                                 "station")
                      .arg(verdict.why)
                : QStringLiteral("the service cannot take these uploads (%1); no more uploads "
                                 "to it, the readings wait in the journal. Check the upload file "
                                 "and restart the station")
                      .arg(verdict.why));
        stopped_ = true;
        timer_.stop();
        inFlight_.clear();
        return;
    case UploadOutcome::Failed:
        retryMs_ =
            retryMs_ == 0
                ? std::min<qint64>(std::llround(kFirstRetryMs * context_.timeScale), interval)
                : std::min(retryMs_ * 2, interval);
        if (!failing_)
            Log(QStringLiteral("cannot upload (%1); the readings wait in the journal and go "
                               "once it answers")
                    .arg(verdict.why));
        failing_ = true;
        inFlight_.clear();
        ScheduleIn(retryMs_);
        return;
    }
    inFlight_.clear();
    Poll();
}

MapUploads::MapUploads(const UploadConfig& config, UploadContext context)
    : counterConversion_(context.counterConversion), http_(std::make_unique<CurlHttpClient>()) {
    context.http = http_.get();
    if (!context.nowUtcMs)
        context.nowUtcMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
    for (const MapDestination& d : config.destinations)
        uploaders_.push_back(std::make_unique<MapUploader>(d, context));
    stopTimer_.setSingleShot(true);
    stopTimer_.callOnTimeout([this] { Stopped(); });
}

// The uploaders go first: the client drops their requests without calling back.
MapUploads::~MapUploads() {
    uploaders_.clear();
}

void MapUploads::Start() {
    for (auto& u : uploaders_)
        u->Start();
}

void MapUploads::SetConversion(const measure::RateConversion& conversion) {
    for (auto& u : uploaders_)
        u->SetConversion(conversion);
}

void MapUploads::OnCounter(const measure::CounterEvent& event) {
    if (event.kind == measure::CounterEvent::Kind::Backfilled)
        for (auto& u : uploaders_)
            u->Refill(event.afterUtcMs);
    if (event.kind == measure::CounterEvent::Kind::Connected && counterConversion_)
        SetConversion(counterConversion_());
}

void MapUploads::Stop(const std::function<void()>& done) {
    stopDone_ = done;
    unanswered_ = 0;
    for (auto& u : uploaders_)
        if (u->Finish([this] {
                // From inside the client's callback: the uploaders go later.
                if (--unanswered_ == 0)
                    stopTimer_.start(0);
            }))
            ++unanswered_;
    stopTimer_.start(unanswered_ == 0 ? 0 : kStopWaitMs);
}

// The run goes on after this (other sinks may still be stopping): the
// requests still in flight go with the uploaders, so no answer can reach one
// that is gone.
void MapUploads::Stopped() {
    stopTimer_.stop();
    uploaders_.clear();
    http_.reset();
    if (stopDone_)
        std::exchange(stopDone_, {})();
}

} // namespace korvinet::maps
