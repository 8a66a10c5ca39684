#include "components/audiooutputfile.h"

QString AudioOutputFile::FormatString() const
{
    return QStringLiteral("PCM 44 100 Hz, 16 bit, stereo");
}
