#include "encoders/encodertables.h"

namespace encodertables
{

std::optional<int> bitrateAt(int position)
{
    if (position < 0 || position >= int(BitrateSteps.size()))
        return std::nullopt;
    return BitrateSteps[size_t(position)];
}

std::optional<int> samplingRateOf(const QString& text)
{
    for (const SamplingFrequency& entry : SamplingFrequencyList) {
        if (text == QLatin1String(entry.text))
            return entry.rate;
    }
    return std::nullopt;
}

} // namespace encodertables
