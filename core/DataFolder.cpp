#include "core/DataFolder.h"

#include "core/UserFolders.h"

#include <knownfolders.h>

namespace Pd::Core
{

Result<std::wstring> FindDataFolder()
{
    Result<std::wstring> localAppData = UserKnownFolder(FOLDERID_LocalAppData);
    if (!localAppData)
        return localAppData;
    return *localAppData + L"\\Peldra";
}

std::wstring DataFolder()
{
    return FindDataFolder().value_or(std::wstring());
}

} // namespace Pd::Core
