#include "components/audiofile/splitformat.h"

std::unique_ptr<SplitFormat> makeMp3SplitFormat(const Mp3EncoderSettings&)
{
    return nullptr;
}
