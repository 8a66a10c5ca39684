#pragma once

#include <optional>

class CRegister;

// Whether tambrel-cli may go on line (MusicBrainz, AccurateRip), kept in the settings store so
// that "--network off" holds for every later run until "--network on".
namespace networkswitch
{

// The switch for this run: the one given (kept from then on), else the one kept, else on.
bool apply(const CRegister& store, std::optional<bool> given);

} // namespace networkswitch
