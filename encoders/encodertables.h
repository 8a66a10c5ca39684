#pragma once

#include <QString>

#include <array>
#include <optional>

// The lists the MP3 and Ogg Vorbis settings share.
namespace encodertables
{

// Bitrate slider positions 0..14 in kbit/s: 48 follows 32 and 96 follows 64.
inline constexpr std::array<int, 15> BitrateSteps = {8,   16,  24,  32,  48,  56,  64, 96,
                                                     112, 128, 160, 192, 224, 256, 320};

// The bitrate of a slider position; none outside 0..14.
std::optional<int> bitrateAt(int position);

struct SamplingFrequency {
    const char* text; // what the list shows and the store keeps, blanks included
    int rate;         // Hz, what the encoder is given
};

// The sampling-frequency list, in list order.
inline constexpr std::array<SamplingFrequency, 9> SamplingFrequencyList = {{
    {"  8 000 Hz", 8000},
    {"11 025 Hz", 11025},
    {"12 000 Hz ", 12000},
    {"16 000 Hz", 16000},
    {"22 050 Hz", 22050},
    {"24 000 Hz", 24000},
    {"32 000 Hz", 32000},
    {"44 100 Hz", 44100},
    {"48 000 Hz", 48000},
}};

// The rate of a list entry's exact text; none for a text the list doesn't hold.
std::optional<int> samplingRateOf(const QString& text);

} // namespace encodertables
