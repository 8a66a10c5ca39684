#include "components/audiofile/audioencoder.h"

#include <QIODevice>

// The encoders' shared helpers, built into the FFmpeg module too, whose WMA encoder uses them.

Status AudioEncoder::writeAll(QIODevice& out, const void* data, qint64 size)
{
    // A write that fills the disk writes what fits and reports no error; the next one fails with
    // the reason, which is what the user needs to see.
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const qint64 written = out.write(bytes, size);
        if (written <= 0)
            return Failure{
                QStringLiteral("Could not write the audio file: %1").arg(out.errorString())};
        bytes += written;
        size -= written;
    }
    return {};
}

Status AudioEncoder::seekTo(QIODevice& out, qint64 position)
{
    if (!out.seek(position))
        return Failure{QStringLiteral("Could not move within the audio file to complete it: %1")
                           .arg(out.errorString())};
    return {};
}

Failure AudioEncoder::notStarted()
{
    return Failure{QStringLiteral("The audio encoder was used before it was started.")};
}
