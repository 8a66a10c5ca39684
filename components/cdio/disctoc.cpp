#include "components/cdio/disctoc.h"

#include <cdio/cdio.h>

#include <algorithm>

namespace disctoc
{

std::vector<Track> read(CdIo_t* cdio, int64_t& leadOut)
{
    std::vector<Track> toc;
    leadOut = 0;
    const track_t first = cdio_get_first_track_num(cdio);
    const track_t count = cdio_get_num_tracks(cdio);
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0)
        return toc;
    for (int number = first; number < first + count; ++number)
        toc.push_back({number, cdio_get_track_lsn(cdio, track_t(number)),
                       int64_t(cdio_get_track_sec_count(cdio, track_t(number))),
                       cdio_get_track_format(cdio, track_t(number)) == TRACK_FORMAT_AUDIO});
    leadOut = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);

    // Where the last session starts (0 on a disc of one session; images and drivers that can't
    // tell leave it so).
    lsn_t lastSession = 0;
    if (cdio_get_last_session(cdio, &lastSession) != DRIVER_OP_SUCCESS || lastSession <= 0)
        return toc;
    for (Track& track : toc) {
        if (track.firstSector >= lastSession)
            track.session = 2;
    }
    for (size_t i = 0; i + 1 < toc.size(); ++i) {
        Track& track = toc[i];
        const Track& next = toc[i + 1];
        if (track.audio && !next.audio && next.firstSector >= lastSession &&
            track.firstSector < lastSession) {
            const int64_t end = lastSession - SessionGapSectors;
            if (end > track.firstSector)
                track.sectors = std::min(track.sectors, end - track.firstSector);
        }
    }
    return toc;
}

} // namespace disctoc
