#include "release/folders/InstallFolderChoice.h"

#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "release/base/OpenPath.h"
#include "release/folders/InstallFolderRules.h"
#include "release/folders/NoLinks.h"
#include "release/folders/ThisPc.h"

#include <windows.h>

#include <cstring>

namespace Pd::Install
{
namespace
{

// The folder's volume and file id, opened without following a link or mount point put in its
// place (that has an id of its own), nor letting a pipe server act as this process (OpenPath).
std::optional<Core::RecordedFolder> IdentifyFolder(const std::wstring& path, DWORD& error)
{
    UniqueFile file =
        OpenPath(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    FILE_BASIC_INFO basic{};
    FILE_ID_INFO id{};
    if (!file || !::GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &basic, sizeof(basic)) ||
        !::GetFileInformationByHandleEx(file.Get(), FileIdInfo, &id, sizeof(id)))
    {
        error = ::GetLastError();
        return std::nullopt;
    }
    if (!(basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    {
        error = ERROR_DIRECTORY;
        return std::nullopt;
    }
    Core::RecordedFolder folder{path, id.VolumeSerialNumber, {}};
    static_assert(sizeof(id.FileId) == sizeof(folder.fileId));
    std::memcpy(folder.fileId.data(), &id.FileId, sizeof(id.FileId));
    return folder;
}

// Whether the per-user value names the folder, in whatever spelling the rules read as the same.
bool Names(const std::wstring& stored, const Core::InstallFolder& folder)
{
    const Result<std::wstring> normal = Detail::NormalFolderForm(stored, ThisPcNames());
    return normal && Core::InstallFolder::From(*normal) == folder;
}

// The chosen or recorded folder, or why it is not acted on.
Result<FolderChoice> Recorded(const std::wstring& path, Detail::RecordCheck check, FolderFrom from,
                              const Detail::FolderFacts& facts)
{
    if (check == Detail::RecordCheck::Replaced)
        return Fail(Core::FormatText(facts.asker == Asker::Window ? TextId::RecordedFolderReplacedWindow
                                                                  : TextId::RecordedFolderReplaced,
                                     path));
    FolderChoice choice{Core::InstallFolder::From(path), from, {}};
    if (!facts.stored.empty() && !Names(facts.stored, choice.folder))
        choice.notice = Core::FormatText(TextId::StoredFolderNotActedOn, facts.stored, choice.folder.Path());
    return choice;
}

// With no record and no choice: the install of Peldra in another folder than the default that a
// hint names, and the refusal that names it.
std::optional<std::pair<std::wstring, std::wstring>> HintedInstall(const Detail::FolderFacts& facts,
                                                                   const Core::InstallFolder& fallback)
{
    const bool window = facts.asker == Asker::Window;
    if (facts.registeredHoldsInstall && !Names(facts.registered, fallback))
        return std::pair(facts.registered,
                         Core::FormatText(window ? TextId::RegisteredFolderNotActedOnWindow
                                                 : TextId::RegisteredFolderNotActedOn,
                                          facts.registered, fallback.Path()));
    if (facts.storedHoldsInstall && !Names(facts.stored, fallback))
        return std::pair(facts.stored, Core::FormatText(window ? TextId::UnrecordedFolderNotActedOnWindow
                                                               : TextId::UnrecordedFolderNotActedOn,
                                                        facts.stored, fallback.Path()));
    return std::nullopt;
}

} // namespace

namespace Detail
{

Result<FolderChoice> ChooseInstallFolder(const FolderFacts& facts, FolderUse use)
{
    if (!facts.typed.empty())
    {
        Result<std::wstring> typed = use == FolderUse::Install ? InstallFolderFromText(facts.typed)
                                                               : InstalledFolderFromText(facts.typed);
        if (!typed)
            return std::unexpected(std::move(typed.error()));
        return FolderChoice{Core::InstallFolder::From(*typed), FolderFrom::Typed, {}};
    }
    // An install goes where the user chose last; an update and the uninstall act where the last
    // install went. Showing shows where an install goes.
    const bool chosenFirst = use != FolderUse::Existing;
    if (chosenFirst && !facts.chosen.empty())
        return Recorded(facts.chosen, facts.choice, FolderFrom::Chosen, facts);
    if (facts.record != RecordCheck::None)
        return Recorded(facts.recorded, facts.record, FolderFrom::Record, facts);
    if (!facts.chosen.empty())
        return Recorded(facts.chosen, facts.choice, FolderFrom::Chosen, facts);

    const Core::InstallFolder fallback = Core::InstallFolder::From(facts.defaultFolder);
    const auto hinted = HintedInstall(facts, fallback);
    const std::wstring hint = hinted ? hinted->first
                              : !facts.stored.empty() && !Names(facts.stored, fallback) ? facts.stored
                                                                                         : std::wstring();
    if (use == FolderUse::Show && facts.knownNotElevated && !hint.empty())
    {
        Result<std::wstring> shown = InstalledFolderFromText(hint);
        if (!shown)
            return std::unexpected(std::move(shown.error()));
        return FolderChoice{Core::InstallFolder::From(*shown), FolderFrom::Hint,
                            hinted ? hinted->second : std::wstring(), hinted.has_value()};
    }
    if (hinted)
    {
        if (use != FolderUse::Show)
            return Fail(hinted->second);
        Result<std::wstring> found = InstalledFolderFromText(hinted->first);
        if (!found)
            return std::unexpected(std::move(found.error()));
        return FolderChoice{Core::InstallFolder::From(*found), FolderFrom::Found, hinted->second, true};
    }
    // A value naming a folder without an install (a folder chosen before the choice was recorded,
    // or one another program wrote) blocks nothing.
    FolderChoice choice{fallback, FolderFrom::Default, {}};
    if (!hint.empty())
        choice.notice = Core::FormatText(TextId::StoredFolderHoldsNoInstall, facts.stored, fallback.Path());
    return choice;
}

RecordCheck CheckRecordedFolder(const Core::RecordedFolder& record)
{
    DWORD error = ERROR_SUCCESS;
    const auto now = IdentifyFolder(record.path, error);
    if (!now)
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? RecordCheck::None
                                                                              : RecordCheck::Replaced;
    // A folder chosen before it existed is the chosen one whatever made it: the install's own
    // checks judge a folder another account made.
    if (!record.Identified())
        return RecordCheck::Same;
    return record.SameIdentity(*now) ? RecordCheck::Same : RecordCheck::Replaced;
}

} // namespace Detail

Result<> RecordInstallFolder(const Core::InstallFolder& folder)
{
    DWORD error = ERROR_SUCCESS;
    const auto identity = IdentifyFolder(Core::LongFolderPath(folder.Path()), error);
    if (identity && Core::WriteRecordedFolder(*identity, Core::FolderRecord::Installed) &&
        Core::WriteRecordedFolder(*identity, Core::FolderRecord::Chosen))
        return {};
    return Fail(Core::ErrorText(Core::FormatText(TextId::InstallFolderNotRecorded, folder.Path()),
                                identity ? ERROR_ACCESS_DENIED : error));
}

Result<> RecordChosenFolder(const Core::InstallFolder& folder)
{
    const std::wstring path = Core::LongFolderPath(folder.Path());
    DWORD error = ERROR_SUCCESS;
    auto identity = IdentifyFolder(path, error);
    if (!identity && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        return Fail(Core::ErrorText(Core::FormatText(TextId::ChosenFolderNotRecorded, path), error));
    if (Core::WriteRecordedFolder(identity.value_or(Core::RecordedFolder{path}), Core::FolderRecord::Chosen))
        return {};
    return Fail(Core::ErrorText(Core::FormatText(TextId::ChosenFolderNotRecorded, path), ERROR_ACCESS_DENIED));
}

std::optional<Core::RecordedFolder> IdentifyInstallFolder(const Core::InstallFolder& folder)
{
    DWORD error = ERROR_SUCCESS;
    return folder.empty() ? std::nullopt : IdentifyFolder(Core::LongFolderPath(folder.Path()), error);
}

bool RegisteredFromRecordedFolder(const std::wstring& location,
                                  const std::optional<Core::RecordedFolder>& identity)
{
    const auto record = Core::ReadRecordedFolder(Core::FolderRecord::Installed);
    const Result<std::wstring> named = Detail::NormalFolderForm(location, ThisPcNames());
    return identity && record && record->SameIdentity(*identity) && named &&
           Core::InstallFolder::From(*named) == Core::InstallFolder::From(record->path) &&
           EntryAttributes(LongPathForm(*named)) == INVALID_FILE_ATTRIBUTES;
}

void ForgetInstallFolder(const Core::InstallFolder& folder, const std::optional<Core::RecordedFolder>& identity)
{
    if (const auto record = Core::ReadRecordedFolder(Core::FolderRecord::Installed);
        record && identity && record->SameIdentity(*identity))
        Core::ForgetRecordedFolder(Core::FolderRecord::Installed);
    if (const std::wstring stored = Core::ReadUserString(L"InstallFolder", L"");
        !stored.empty() && Names(stored, folder))
        ::RegDeleteKeyValueW(HKEY_CURRENT_USER, Core::SettingsKey, L"InstallFolder");
}

} // namespace Pd::Install
