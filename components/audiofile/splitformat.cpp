#include "components/audiofile/splitformat.h"

std::unique_ptr<SplitFormat> makeSplitFormat(const QString& extension,
                                             const EncoderSettings& settings)
{
    if (extension.compare(QLatin1String(".mp3"), Qt::CaseInsensitive) == 0)
        return makeMp3SplitFormat(settings.mp3);
    if (extension.compare(QLatin1String(".ogg"), Qt::CaseInsensitive) == 0)
        return makeVorbisSplitFormat(settings.ogg);
    return nullptr;
}
