#pragma once

#include "settings/cregister.h"

#include <QString>

#include <optional>

// Drives' read offsets in samples, kept per drive model ("VENDOR PRODUCT", as the drive names
// itself), so that a drive of a model whose offset was given once reads right from then on.
namespace readoffsets
{

std::optional<int> stored(const CRegister& store, const QString& driveModel);
void store(const CRegister& store, const QString& driveModel, int samples);

} // namespace readoffsets
