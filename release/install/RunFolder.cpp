#include "release/install/RunFolder.h"

#include "core/DefaultInstallFolder.h"
#include "core/Elevation.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "release/base/OpenPath.h"
#include "release/folders/Folders.h"
#include "release/folders/InstallFolderRules.h"
#include "release/folders/NoLinks.h"
#include "release/folders/ThisPc.h"
#include "release/windows/Packages.h"

#include <windows.h>

#include <tuple>

namespace Pd::Install
{
namespace
{

// Whether the folder a hint names holds a state file: read, never acted on.
bool HoldsInstall(const std::wstring& hint)
{
    const Result<std::wstring> folder = Detail::NormalFolderForm(hint, ThisPcNames());
    return folder && !folder->empty() &&
           EntryAttributes(LongPathForm(Core::JoinPath(*folder, L"peldra.json"))) != INVALID_FILE_ATTRIBUTES;
}

std::pair<std::wstring, Detail::RecordCheck> Read(Core::FolderRecord which)
{
    const auto record = Core::ReadRecordedFolder(which);
    if (!record)
        return {};
    return {record->path, Detail::CheckRecordedFolder(*record)};
}

} // namespace

Result<FolderChoice> ResolveInstallFolder(std::wstring_view typed, FolderUse use, Asker asker)
{
    Detail::FolderFacts facts;
    facts.typed = std::wstring(typed);
    facts.asker = asker;
    if (facts.typed.empty())
    {
        std::tie(facts.recorded, facts.record) = Read(Core::FolderRecord::Installed);
        std::tie(facts.chosen, facts.choice) = Read(Core::FolderRecord::Chosen);
        facts.stored = Core::ReadUserString(L"InstallFolder", L"");
        facts.storedHoldsInstall = !facts.stored.empty() && HoldsInstall(facts.stored);
        if (auto package = FindInstalledPackage(); package && package->developmentMode)
        {
            facts.registered = package->installLocation;
            facts.registeredHoldsInstall = HoldsInstall(facts.registered);
        }
        facts.defaultFolder = Core::DefaultInstallFolder();
        facts.knownNotElevated = !Core::MayBeElevated();
    }
    return Detail::ChooseInstallFolder(facts, use);
}

FolderChoice FolderToShow(Asker asker)
{
    Result<FolderChoice> choice = ResolveInstallFolder({}, FolderUse::Show, asker);
    if (choice)
        return std::move(*choice);
    return {Core::InstallFolder::From(Core::DefaultInstallFolder()), FolderFrom::Default,
            std::move(choice.error()), true};
}

} // namespace Pd::Install
