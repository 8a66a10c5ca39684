#include "cli/networkswitch.h"

#include "settings/cregister.h"
#include "settings/mainsettings.h"

namespace networkswitch
{
namespace
{

const QString Section = SettingsPath + QStringLiteral("\\Tambrel-cli");
const QString Value = QStringLiteral("Network");
const QString On = QStringLiteral("on");
const QString Off = QStringLiteral("off");

} // namespace

bool apply(const CRegister& store, std::optional<bool> given)
{
    if (given) {
        store.REGSaveSetting(RegRoot::LocalMachine, Section, Value, *given ? On : Off);
        return *given;
    }
    // Only "off" keeps the tool off line: an absent or unknown value is the default, on.
    return store.REGGetSetting(RegRoot::LocalMachine, Section, Value, On) != Off;
}

} // namespace networkswitch
