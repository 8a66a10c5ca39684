#include "settings/readoffsets.h"

#include "settings/mainsettings.h"

namespace readoffsets
{
namespace
{

const QString Section = SettingsPath + QStringLiteral("\\ReadOffsets");

// The store's value names can't hold a backslash (it separates its levels).
QString key(const QString& driveModel)
{
    return driveModel.simplified().replace(u'\\', u'/');
}

} // namespace

std::optional<int> stored(const CRegister& store, const QString& driveModel)
{
    bool ok = false;
    const int samples =
        store.REGGetSetting(RegRoot::LocalMachine, Section, key(driveModel), QString()).toInt(&ok);
    return ok ? std::optional<int>(samples) : std::nullopt;
}

void store(const CRegister& store, const QString& driveModel, int samples)
{
    store.REGSaveSetting(RegRoot::LocalMachine, Section, key(driveModel), QString::number(samples));
}

} // namespace readoffsets
