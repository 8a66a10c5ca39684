#include "components/musicbrainz/musicbrainz.h"

#include "components/net/httpget.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QThread>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace musicbrainz
{

namespace
{

using Clock = std::chrono::steady_clock;

// The largest answer taken: a disc id found on many releases, with every recording, stays well
// within it.
constexpr qint64 MaxAnswerBytes = 4 * 1024 * 1024;

// "Tambrel/0.1.0 ( contact )", the contact given to the build (TAMBREL_CONTACT) when there is one.
QString userAgent()
{
    const QString contact = QStringLiteral(TAMBREL_CONTACT);
    QString agent = QStringLiteral("Tambrel/") + QCoreApplication::applicationVersion();
    if (!contact.isEmpty())
        agent += QStringLiteral(" ( ") + contact + QStringLiteral(" )");
    return agent;
}

// The service allows one request a second from a client; every lookup in the process waits
// its turn here.
void waitForTurn()
{
    static std::mutex mutex;
    static std::optional<Clock::time_point> lastRequest;
    const std::lock_guard lock(mutex);
    if (lastRequest) {
        const auto next = *lastRequest + std::chrono::seconds(1);
        const auto now = Clock::now();
        if (now < next)
            QThread::msleep(static_cast<unsigned long>(
                std::chrono::ceil<std::chrono::milliseconds>(next - now).count()));
    }
    lastRequest = Clock::now();
}

QString joinCredits(const QJsonArray& credits)
{
    QString text;
    for (const QJsonValue& credit : credits) {
        const QJsonObject c = credit.toObject();
        text += c.value(QLatin1String("name")).toString();
        text += c.value(QLatin1String("joinphrase")).toString();
    }
    return text;
}

// The number of audio tracks a libdiscid TOC string ("first last leadout offsets...") gives,
// or -1 when there is none.
int tocTrackCount(const QString& toc)
{
    const QStringList fields =
        toc.split(QRegularExpression(QStringLiteral("[ +]")), Qt::SkipEmptyParts);
    if (fields.size() < 3)
        return -1;
    bool okFirst = false, okLast = false;
    const int first = fields.at(0).toInt(&okFirst);
    const int last = fields.at(1).toInt(&okLast);
    return okFirst && okLast && last >= first ? last - first + 1 : -1;
}

// The medium of the release that holds the disc: the one listing its id; in a fuzzy answer,
// which lists no id, the first with as many tracks as the TOC.
QJsonObject pickMedium(const QJsonArray& media, const QString& discId, int trackCount)
{
    for (const QJsonValue& medium : media) {
        const QJsonArray discs = medium.toObject().value(QLatin1String("discs")).toArray();
        for (const QJsonValue& disc : discs)
            if (disc.toObject().value(QLatin1String("id")).toString() == discId)
                return medium.toObject();
    }
    if (trackCount > 0)
        for (const QJsonValue& medium : media)
            if (medium.toObject().value(QLatin1String("tracks")).toArray().size() == trackCount)
                return medium.toObject();
    return media.isEmpty() ? QJsonObject() : media.first().toObject();
}

AlbumInfo readRelease(const QJsonObject& release, const QString& discId, int trackCount)
{
    AlbumInfo album;
    album.source = QStringLiteral("MusicBrainz");
    album.title = release.value(QLatin1String("title")).toString();
    album.artist = joinCredits(release.value(QLatin1String("artist-credit")).toArray());
    album.date = release.value(QLatin1String("date")).toString();
    album.musicBrainzReleaseId = release.value(QLatin1String("id")).toString();

    const QJsonObject medium =
        pickMedium(release.value(QLatin1String("media")).toArray(), discId, trackCount);
    for (const QJsonValue& value : medium.value(QLatin1String("tracks")).toArray()) {
        const QJsonObject track = value.toObject();
        const QJsonObject recording = track.value(QLatin1String("recording")).toObject();
        TrackInfo info;
        info.title = track.value(QLatin1String("title")).toString();
        if (info.title.isEmpty())
            info.title = recording.value(QLatin1String("title")).toString();
        QJsonArray credits = track.value(QLatin1String("artist-credit")).toArray();
        if (credits.isEmpty())
            credits = recording.value(QLatin1String("artist-credit")).toArray();
        const QString artist = joinCredits(credits);
        if (!artist.isEmpty() && artist != album.artist)
            info.artist = artist;
        info.musicBrainzRecordingId = recording.value(QLatin1String("id")).toString();
        album.tracks.append(info);
    }
    return album;
}

Lookup failed(QString reason)
{
    Lookup lookup;
    lookup.outcome = Lookup::Outcome::Failed;
    lookup.reason = std::move(reason);
    return lookup;
}

Lookup parseAnswer(const QByteArray& body, const QString& discId, const QString& toc)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return failed(QStringLiteral("unreadable answer from MusicBrainz: %1")
                          .arg(error.error != QJsonParseError::NoError
                                   ? error.errorString()
                                   : QStringLiteral("not a JSON object")));

    // A disc id answer lists the releases beside the disc's own fields; a fuzzy TOC answer
    // is a plain release list. Either may come wrapped in a "disc" object.
    QJsonObject root = document.object();
    if (!root.contains(QLatin1String("releases")) && root.value(QLatin1String("disc")).isObject())
        root = root.value(QLatin1String("disc")).toObject();
    const QJsonArray releases = root.value(QLatin1String("releases")).toArray();

    Lookup lookup;
    const int trackCount = tocTrackCount(toc);
    for (const QJsonValue& release : releases)
        if (release.isObject())
            lookup.releases.append(readRelease(release.toObject(), discId, trackCount));
    lookup.outcome = lookup.releases.isEmpty() ? Lookup::Outcome::NotFound : Lookup::Outcome::Found;
    return lookup;
}

} // namespace

QUrl defaultBase()
{
    return QUrl(QStringLiteral("https://musicbrainz.org/ws/2/"));
}

Lookup lookupDisc(const QString& discId, const QString& toc, const QUrl& base, int timeoutMs)
{
    QUrl url = base.resolved(QUrl(QStringLiteral("discid/") + discId));
    QString query = QStringLiteral("inc=recordings+artist-credits&fmt=json");
    const QString tocQuery = toc.simplified().replace(QLatin1Char(' '), QLatin1Char('+'));
    if (!tocQuery.isEmpty())
        query += QStringLiteral("&toc=") + tocQuery;
    url.setQuery(query);

    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", userAgent().toUtf8());
    request.setRawHeader("Accept", "application/json");

    waitForTurn();
    // A disc id's answer with every release and recording is some tens of kilobytes.
    const HttpAnswer answer = httpGet(request, timeoutMs, MaxAnswerBytes);
    if (answer.stopped)
        return failed(QStringLiteral("the lookup was stopped"));
    if (answer.timedOut)
        return failed(QStringLiteral("no answer from %1 within %2 s")
                          .arg(url.host())
                          .arg(double(timeoutMs) / 1000.0));
    if (answer.status == 404) {
        Lookup lookup;
        lookup.outcome = Lookup::Outcome::NotFound;
        return lookup;
    }
    // A status of the server's own says most; a redirect not followed or a network's error
    // says itself.
    const bool redirect = answer.status >= 300 && answer.status < 400;
    if (answer.status != 0 && answer.status != 200 && !redirect)
        return failed(QStringLiteral("HTTP %1 from %2").arg(answer.status).arg(url.host()));
    if (answer.failed)
        return failed(QStringLiteral("MusicBrainz (%1): %2").arg(url.host(), answer.errorText));
    return parseAnswer(answer.body, discId, toc);
}

} // namespace musicbrainz
