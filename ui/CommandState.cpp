#include "ui/CommandState.h"

#include "core/release/manifest/Versions.h"

namespace Pd::Ui
{

bool VariantHasGoogle(std::wstring_view variant)
{
    return variant.size() >= 6 && variant.find(L"Google") != std::wstring_view::npos;
}

bool IsCommandEnabled(unsigned id, const CommandState& s)
{
    const bool idle = !s.busy && !s.checking;
    switch (id)
    {
    case 1000:
        return idle && s.manifest && s.facts && s.build >= 22000 &&
               (s.minimumProgram.empty() ||
                Pd::Core::CompareVersions(s.programVersion, s.minimumProgram) >= 0);
    case 1001:
        return s.busy && !s.uninstalling;
    case 1002:
    case 1025:
    case 1033:
        return !s.busy && s.facts && s.package;
    case 1003:
    case 1005:
    case 1007:
    case 1008:
    case 1009:
    case 1010:
    case 1011:
        return idle;
    case 1004:
        return s.installFolderExists;
    case 1014:
    case 1015:
        return s.logHasEntries;
    case 1019:
        return idle && s.facts && (s.packageHasStateFile || s.stateFileInFolder);
    case 1020:
        return !s.uninstalling && s.bluetoothAdapter != 0 && !s.bridgeOn;
    case 1021:
        return s.bridgeOn;
    case 1022:
    case 1023:
        return !s.uninstalling && s.bluetoothAdapter != 0;
    case 1024:
        return s.bluetoothLogExists;
    case 1026:
    case 1028:
    case 1029:
    case 1030:
    case 1031:
    case 1032:
        return !s.uninstalling;
    case 1027:
        return !s.uninstalling && s.elevation && !s.elevationMagisk;
    case 1034:
        return !s.busy && s.facts && s.package && (!s.manifest || VariantHasGoogle(s.variant));
    case 1036:
        return idle && s.appUpdate;
    case 1038:
        return !s.busy && s.elevation;
    default:
        return true;
    }
}

} // namespace Pd::Ui
