#pragma once

#include "components/cdgrabber.h"

#include <QList>
#include <QString>

// The rip log of tambrel-cli: plain text a person reads, one "Field: value" per line, so that
// scripts find each value by its field name. Its layout is described in docs/rip-log.md.
namespace riplog
{

struct Disc {
    QString program;  // "tambrel-cli 0.1.0"
    QString date;     // ISO 8601, UTC
    QString source;   // the drive's device or the image's path
    QString drive;    // vendor, product and revision
    QString readMode; // how the audio was read
    int offset = 0;   // the read offset in samples
    int tracks = 0;
    QString accurateRipId; // the AccurateRip disc id (its record's name)
    QString freedbId;
    QString musicBrainzId;
    QString catalog; // the disc's catalogue number; empty: none
    QString encoder; // the files' format and its settings, in words
    QString lookup;  // what came of looking the disc up in AccurateRip's database
};

struct Track {
    int number = 0;      // as the disc numbers it
    int audioIndex = -1; // its place among the disc's audio tracks (AccurateRip's count)
    QString name;
    QString file;
    QString format;
    qint64 firstSector = 0; // on the disc
    QString isrc;           // empty: the disc gives none
    bool preEmphasis = false;
    qint64 sectors = 0;
    int retries = 0;
    CdGrabber::GrabProof proof;
    CdGrabber::ReadReport read;
    // "accurately ripped (confidence 12, v2)", "not in the database", "not looked up: why", ...
    QString accurateRip;
    QString result; // "written", "failed: ...", "stopped", "skipped: ...", "not ripped: ..."
};

// Whether the track was written and matched AccurateRip's database.
bool accuratelyRipped(const Track& track);
// The summary: "All tracks accurately ripped", or "N tracks not verified: " and how many of
// them are not accurate, not in the database, not looked up and not written.
QString summary(const QList<Track>& tracks);
QString text(const Disc& disc, const QList<Track>& tracks);

} // namespace riplog
