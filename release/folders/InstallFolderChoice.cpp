#include "release/folders/InstallFolderChoice.h"

#include "core/DefaultInstallFolder.h"
#include "core/Elevation.h"
#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "release/base/OpenPath.h"
#include "release/folders/InstallFolderRules.h"
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
    const Core::InstallFolder fallback = Core::InstallFolder::From(facts.defaultFolder);
    if (facts.record == RecordCheck::Replaced)
        return Fail(Core::FormatText(TextId::RecordedFolderReplaced, facts.recorded));
    if (facts.record == RecordCheck::Same)
    {
        FolderChoice choice{Core::InstallFolder::From(facts.recorded), FolderFrom::Record, {}};
        if (!facts.stored.empty() && !Names(facts.stored, choice.folder))
            choice.notice =
                Core::FormatText(TextId::StoredFolderNotActedOn, facts.stored, choice.folder.Path());
        return choice;
    }
    if (facts.stored.empty() || Names(facts.stored, fallback))
        return FolderChoice{fallback, FolderFrom::Default, {}};
    if (use == FolderUse::Show && facts.knownNotElevated)
    {
        Result<std::wstring> hint = InstalledFolderFromText(facts.stored);
        if (!hint)
            return std::unexpected(std::move(hint.error()));
        return FolderChoice{Core::InstallFolder::From(*hint), FolderFrom::Hint, {}};
    }
    return Fail(Core::FormatText(TextId::UnrecordedFolderNotActedOn, facts.stored, fallback.Path()));
}

RecordCheck CheckRecordedFolder(const Core::RecordedFolder& record)
{
    DWORD error = ERROR_SUCCESS;
    const auto now = IdentifyFolder(record.path, error);
    if (!now)
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? RecordCheck::None
                                                                              : RecordCheck::Replaced;
    return now->volume == record.volume && now->fileId == record.fileId ? RecordCheck::Same
                                                                        : RecordCheck::Replaced;
}

} // namespace Detail

Result<FolderChoice> ResolveInstallFolder(std::wstring_view typed, FolderUse use)
{
    Detail::FolderFacts facts;
    facts.typed = std::wstring(typed);
    if (facts.typed.empty())
    {
        if (const auto record = Core::ReadRecordedFolder())
        {
            facts.recorded = record->path;
            facts.record = Detail::CheckRecordedFolder(*record);
        }
        facts.stored = Core::ReadUserString(L"InstallFolder", L"");
        facts.defaultFolder = Core::DefaultInstallFolder();
        facts.knownNotElevated = !Core::MayBeElevated();
    }
    return Detail::ChooseInstallFolder(facts, use);
}

FolderChoice FolderToShow()
{
    Result<FolderChoice> choice = ResolveInstallFolder({}, FolderUse::Show);
    if (choice)
        return std::move(*choice);
    return {Core::InstallFolder::From(Core::DefaultInstallFolder()), FolderFrom::Default,
            std::move(choice.error())};
}

Result<> RecordInstallFolder(const Core::InstallFolder& folder)
{
    DWORD error = ERROR_SUCCESS;
    const auto identity = IdentifyFolder(Core::LongFolderPath(folder.Path()), error);
    if (identity && Core::WriteRecordedFolder(*identity))
        return {};
    return Fail(Core::ErrorText(Core::FormatText(TextId::InstallFolderNotRecorded, folder.Path()),
                                identity ? ERROR_ACCESS_DENIED : error));
}

void ForgetInstallFolder(const Core::InstallFolder& folder)
{
    if (const auto record = Core::ReadRecordedFolder();
        record && Core::InstallFolder::From(record->path) == folder)
        Core::ForgetRecordedFolder();
}

} // namespace Pd::Install
