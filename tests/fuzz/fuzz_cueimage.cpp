// Feeds arbitrary cue sheets to the image reader: each input is written as a sheet beside a
// small raw data file and a WAVE file, opened, and every track of an image that opens is read.
// Any crash, sanitizer report, leak or hang is a fault; a refused sheet is the expected answer.
#include "components/cueimage/cueimage.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace
{

struct Folder {
    QTemporaryDir dir;
    QString sheet;

    Folder()
    {
        sheet = dir.filePath(QStringLiteral("fuzz.cue"));
        // 300 sectors of a ramp: enough for several tracks, small enough to read quickly.
        QByteArray raw(300 * CueImage::SectorBytes, '\0');
        for (int k = 0; k < raw.size(); ++k)
            raw[k] = char(k * 7);
        QFile bin(dir.filePath(QStringLiteral("disc.bin")));
        if (bin.open(QIODevice::WriteOnly))
            bin.write(raw);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Folder folder;
    {
        QFile sheet(folder.sheet);
        if (!sheet.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        sheet.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    const Result<CueImage> image = CueImage::open(folder.sheet);
    if (!image.ok())
        return 0;
    for (const CueImage::Track& track : image.value().tracks()) {
        // The start and the end of each track, where the pieces meet.
        (void)image.value().readSectors(track.firstSector, 2);
        (void)image.value().readSectors(track.firstSector + track.sectors - 2, 4);
    }
    (void)image.value().readSectors(image.value().leadOut(), 1);
    return 0;
}
