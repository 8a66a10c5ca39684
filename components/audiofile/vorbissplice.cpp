#include "components/audiofile/splitformat.h"

std::unique_ptr<SplitFormat> makeVorbisSplitFormat(const OggFormat&)
{
    return nullptr;
}
