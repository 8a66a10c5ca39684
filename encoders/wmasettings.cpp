#include "encoders/wmasettings.h"

#include "components/outputfile.h"
#include "encoders/storedfields.h"

#include <array>

namespace
{

using W = WmaSettings;

const std::array<StoredField<W>, 3> Fields = {{
    {"txtwma settings2", "", &W::ProfileText},
    {"txtwmaformat settings2", "", &W::FormatText},
    {"udwma settings", "5", &W::StoredProfileIndex},
}};

} // namespace

WmaSettings WmaSettings::load(const CRegister& store)
{
    WmaSettings settings;
    storedfields::load<W>(settings, store, Fields);
    return settings;
}

void WmaSettings::save(const CRegister& store) const
{
    storedfields::save<W>(*this, store, Fields);
}

bool WmaSettings::anyStored(const CRegister& store)
{
    return storedfields::anyStored<W>(store, Fields);
}

int WmaSettings::profile() const
{
    return StoredProfileIndex >= 0 && StoredProfileIndex <= MaxProfile ? StoredProfileIndex : 5;
}

bool applyWmaSettings(OutputFile& file, const WmaSettings& settings)
{
    return file.SetWMAProfile(settings.profile()).ok();
}
