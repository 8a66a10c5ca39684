#pragma once

#include "components/albuminfo.h"
#include "components/result.h"

#include <QByteArray>
#include <QList>
#include <QString>

// A disc image described by a cue sheet: its table of contents and its sectors, read from the
// data files the sheet names (raw sectors little- or big-endian, WAVE, AIFF or FLAC). Disc
// sectors count from 0, the first sector of the first file (or of the first track's PREGAP).
// A track that starts a later session ("REM SESSION nn" before it, or a data track after audio
// whose PREGAP is a whole session gap) lies 11,400 sectors after the end of the track before it,
// as on a pressed enhanced CD; the gap belongs to no track and reads as silence.
// Everything is checked when the image is opened; a failure names the image, the problem and,
// where there is one, the line of the sheet. One image is used by one thread at a time.
class CueImage
{
public:
    static constexpr int SectorBytes = 2352;
    static constexpr int FramesPerSector = 588;
    static constexpr int SectorsPerSecond = 75;
    static constexpr int MaxTracks = 99;
    static constexpr qint64 MaxSectors = qint64(100) * 60 * SectorsPerSecond;
    // Far more than any real sheet; a larger file is not read at all.
    static constexpr qint64 MaxSheetBytes = 1024 * 1024;
    // Between one session's last track and the next session's first: the lead-out (6750
    // sectors), the next lead-in (4500) and its first track's pregap (150).
    static constexpr qint64 SessionGapSectors = 11400;
    // "mm:ss:ff", minutes, seconds and 75ths: the time notation of cue sheets and .toc files.
    static QString msf(qint64 sectors);

    struct Track {
        int number = 0;
        qint64 firstSector = 0; // its INDEX 01
        qint64 sectors = 0;     // up to the next track's INDEX 01, the last to the disc's end
        bool audio = true;
        int session = 1;
        QString isrc;             // the sheet's ISRC line, as it stands
        bool preEmphasis = false; // FLAGS PRE: its audio was recorded with pre-emphasis
        bool operator==(const Track&) const = default;
    };

    enum class FileType { Binary, Motorola, Sound };

    // A data file and what it held when the image was opened.
    struct DataFile {
        QString path;
        FileType type = FileType::Binary;
        int blockBytes = SectorBytes; // bytes per sector in a raw file
        qint64 bytes = 0;             // its size
        qint64 sectors = 0;           // sectors it holds (a partial last one counts, padded)
    };

    // The failure is said in full: a sheet that is not valid "cannot be read", an image whose
    // data file is missing or too short "is damaged".
    static Result<CueImage> open(const QString& cuePath);

    const QList<Track>& tracks() const { return m_tracks; }
    // The sector after the last track.
    qint64 leadOut() const { return m_leadOut; }
    const QList<DataFile>& dataFiles() const { return m_files; }
    // What the sheet tells of the album: TITLE, PERFORMER and SONGWRITER before the first TRACK
    // and within each, REM DATE and REM GENRE; source "cue sheet", one TrackInfo per track.
    // The album's SONGWRITER goes to tracks without one. Empty when the sheet gives none.
    const AlbumInfo& album() const { return m_album; }
    // The disc's catalogue number (CATALOG: its UPC/EAN bar code); empty when the sheet has none.
    const QString& catalog() const { return m_catalog; }

    // count sectors from firstSector on, each 2352 bytes: audio as 16-bit little-endian stereo
    // samples, data sectors as the file holds them (padded with zeros to 2352 bytes), silence
    // where the sheet adds a PREGAP or POSTGAP.
    Result<QByteArray> readSectors(qint64 firstSector, int count) const;

private:
    // open()'s work; its failure is the reason alone. damagedFile: the data file, as the sheet
    // names it, when the reason is that the file is missing or too short.
    static Result<CueImage> read(const QString& cuePath, QString& damagedFile);

    // A run of disc sectors: from a data file, or silence (file < 0).
    struct Piece {
        qint64 discSector = 0;
        qint64 sectors = 0;
        int file = -1;
        qint64 fileSector = 0;
    };

    Status readPiece(const Piece& piece, qint64 offset, qint64 count, char* out) const;

    QString m_cuePath;
    QList<Track> m_tracks;
    QList<DataFile> m_files;
    QList<Piece> m_pieces;
    qint64 m_leadOut = 0;
    AlbumInfo m_album;
    QString m_catalog;
};
