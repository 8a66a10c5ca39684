#pragma once

#include "components/albuminfo.h"
#include "components/result.h"

#include <QList>
#include <QString>
#include <QUrl>

// A client of the MusicBrainz web service (/ws/2/discid/<id>), with its rules kept: a
// User-Agent naming the program and its version, at most one request a second.
namespace musicbrainz
{

QUrl defaultBase(); // https://musicbrainz.org/ws/2/

struct Lookup {
    enum class Outcome { Found, NotFound, Failed };
    Outcome outcome = Outcome::Failed;
    QList<AlbumInfo> releases; // Found: every release holding the disc, source "MusicBrainz"
    QString reason;            // Failed: why ("no answer within 5 s", "HTTP 503", ...)
};

// Looks the disc up by its MusicBrainz disc id (and libdiscid's TOC string, for the service's
// fuzzy match when the id is unknown). Blocks the calling thread, running an event loop of its
// own, at most timeoutMs.
Lookup lookupDisc(const QString& discId, const QString& toc, const QUrl& base = defaultBase(),
                  int timeoutMs = 5000);

} // namespace musicbrainz
