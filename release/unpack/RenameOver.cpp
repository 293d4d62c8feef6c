#include "release/unpack/RenameOver.h"

#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/Text.h"
#include "release/base/OpenPath.h"
#include "release/folders/NoLinks.h"

#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

namespace Pd::Install
{
namespace
{

// The rename goes to ntdll with the folder's handle as its root. Windows takes a bare name there
// through SetFileInformationByHandle as well, but Wine's SetFileInformationByHandle first turns the
// name into a path below the current directory and then fails with "file not found" (measured on
// Wine 8); its NtSetInformationFile, like Windows', resolves the name in the handle's folder.
using SetInformationFile = LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, ULONG);
using StatusToError = ULONG(NTAPI*)(LONG);

constexpr ULONG FileRenameInformation = 10;
constexpr ULONG FileRenameInformationEx = 65;
constexpr DWORD ReplaceIfExists = 0x1;
constexpr DWORD PosixSemantics = 0x2;
constexpr DWORD IgnoreReadOnlyAttribute = 0x40;

// What a file system or a Windows without the extended form answers it with (Wine: "not
// implemented"); the plain form then does the rename.
bool ExtendedFormUnknown(LONG status)
{
    constexpr ULONG unknown[] = {0xC0000002 /* not implemented */, 0xC0000003 /* invalid info class */,
                                 0xC000000D /* invalid parameter */, 0xC0000010 /* invalid device request */,
                                 0xC00000BB /* not supported */};
    return std::ranges::find(unknown, static_cast<ULONG>(status)) != std::end(unknown);
}

struct NtFunctions
{
    SetInformationFile setInformation = nullptr;
    StatusToError toError = nullptr;
};

const NtFunctions& Nt()
{
    static const NtFunctions functions = [] {
        NtFunctions found;
        if (const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll"))
        {
            found.setInformation = reinterpret_cast<SetInformationFile>(
                reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtSetInformationFile")));
            found.toError = reinterpret_cast<StatusToError>(
                reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlNtStatusToDosError")));
        }
        return found;
    }();
    return functions;
}

// The flags of the extended form share their place with the plain form's ReplaceIfExists.
void SetFlags(std::vector<std::uint8_t>& buffer, DWORD flags)
{
    static_assert(offsetof(FILE_RENAME_INFO, RootDirectory) >= sizeof(DWORD));
    std::memcpy(buffer.data(), &flags, sizeof(flags));
}

// One rename by handle, relative to the folder's handle; the extended form (POSIX semantics, the
// read-only attribute ignored) first, the plain one where Windows does not know it. Returns the
// Windows error, ERROR_SUCCESS when renamed.
DWORD RenameOnce(HANDLE file, HANDLE folder, const std::wstring& name, bool& extended)
{
    const NtFunctions& nt = Nt();
    if (!nt.setInformation || !nt.toError)
        return ERROR_PROC_NOT_FOUND;
    const std::size_t nameBytes = name.size() * sizeof(wchar_t);
    std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::copy(name.begin(), name.end(), rename->FileName);
    IO_STATUS_BLOCK io{};
    if (extended)
    {
        SetFlags(buffer, ReplaceIfExists | PosixSemantics | IgnoreReadOnlyAttribute);
        const LONG status = nt.setInformation(file, &io, buffer.data(), static_cast<ULONG>(buffer.size()),
                                              FileRenameInformationEx);
        if (status >= 0)
            return ERROR_SUCCESS;
        if (!ExtendedFormUnknown(status))
            return nt.toError(status);
        extended = false;
    }
    SetFlags(buffer, ReplaceIfExists);
    const LONG status =
        nt.setInformation(file, &io, buffer.data(), static_cast<ULONG>(buffer.size()), FileRenameInformation);
    return status >= 0 ? ERROR_SUCCESS : nt.toError(status);
}

// Opens the target for deleting as the rename opens it, sharing what the rename's semantics let
// other handles keep: that fails for sharing only while a handle in the rename's way is open. The
// probe is closed at once.
TargetUse Probe(const std::wstring& full, RenameSemantics semantics)
{
    const DWORD attributes = EntryAttributes(full);
    if (attributes == INVALID_FILE_ATTRIBUTES)
    {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? TargetUse::Missing
                                                                              : TargetUse::Unknown;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return TargetUse::Unknown;
    const DWORD share =
        semantics == RenameSemantics::Posix ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : 0;
    UniqueFile probe = OpenPath(full, DELETE, share, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    if (probe)
        return TargetUse::Free;
    switch (::GetLastError())
    {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return TargetUse::HeldElsewhere;
    case ERROR_ACCESS_DENIED:
        return TargetUse::Refused;
    case ERROR_FILE_NOT_FOUND:
        return TargetUse::Missing;
    default:
        return TargetUse::Unknown;
    }
}

// A file's volume and id, the same however it was reached.
std::optional<FILE_ID_INFO> Identity(HANDLE handle)
{
    FILE_ID_INFO id{};
    if (::GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof(id)))
        return id;
    // Older file systems know only the 64-bit index.
    BY_HANDLE_FILE_INFORMATION file{};
    if (!::GetFileInformationByHandle(handle, &file))
        return std::nullopt;
    id = {};
    id.VolumeSerialNumber = file.dwVolumeSerialNumber;
    const std::uint64_t index = (std::uint64_t{file.nFileIndexHigh} << 32) | file.nFileIndexLow;
    std::memcpy(id.FileId.Identifier, &index, sizeof(index));
    return id;
}

// Whether the target's folder path still leads to the folder of the handle. Windows renames into
// the handle's folder whatever became of its path; Wine resolves the handle by the path it was
// opened with (measured on Wine 8: a folder renamed after the open, and another made at its path,
// receive the file there), so a folder swapped for a link since the check would be followed. Under
// Wine this leaves only the moment between this look and the rename.
bool FolderStillAt(HANDLE folder, const std::wstring& target)
{
    const std::wstring parent = std::filesystem::path(target).parent_path().wstring();
    UniqueFile atPath =
        OpenPath(parent, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    const auto expected = Identity(folder);
    const auto found = atPath ? Identity(atPath.Get()) : std::nullopt;
    return expected && found && expected->VolumeSerialNumber == found->VolumeSerialNumber &&
           std::memcmp(&expected->FileId, &found->FileId, sizeof(FILE_ID_128)) == 0;
}

std::unexpected<std::wstring> HeldText(const std::wstring& target, DWORD error)
{
    return Fail(Core::FormatText(TextId::FileOpenInAnotherProgram, target, error));
}

std::unexpected<std::wstring> RefusedText(const std::wstring& target, DWORD error)
{
    return Fail(Core::FormatText(TextId::ReplaceRefusedByPermissions, target, error));
}

void Pause(std::chrono::milliseconds& pause)
{
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(200));
}

} // namespace

bool IsSharingConflict(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

RenameStep NextRenameStep(DWORD renameError, bool targetIsFile, TargetUse probe, bool timeUp, bool freeBefore)
{
    // Only a file can be held by a reader: a folder in the target's place never lets go.
    if (!IsSharingConflict(renameError) || !targetIsFile)
        return RenameStep::Failed;
    switch (probe)
    {
    case TargetUse::HeldElsewhere:
        return timeUp ? RenameStep::HeldElsewhere : RenameStep::Retry;
    case TargetUse::Free:
    case TargetUse::Refused:
        // Nothing holds it on two looks in a row: no wait will change the answer.
        return freeBefore || timeUp ? RenameStep::Refused : RenameStep::Retry;
    case TargetUse::Missing:
    case TargetUse::Unknown:
        break;
    }
    return timeUp ? RenameStep::Failed : RenameStep::Retry;
}

Result<> RenameOver(HANDLE file, HANDLE folder, const std::wstring& name, const std::wstring& target,
                    std::chrono::milliseconds wait)
{
    const std::wstring full = LongPathForm(target);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    auto pause = std::chrono::milliseconds(10);
    bool extended = true;
    bool freeBefore = false;
    for (;;)
    {
        if (!FolderStillAt(folder, full))
            return Fail(Core::FormatText(TextId::ReachedThroughLink, target));
        const DWORD error = RenameOnce(file, folder, name, extended);
        if (error == ERROR_SUCCESS)
            return {};
        const DWORD attributes = EntryAttributes(full);
        const bool isFile = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        // The extended form is POSIX semantics; a refusal of the plain one may be any reader.
        const TargetUse use = IsSharingConflict(error) && isFile
                                  ? Probe(full, extended ? RenameSemantics::Posix : RenameSemantics::Plain)
                                  : TargetUse::Unknown;
        switch (NextRenameStep(error, isFile, use, std::chrono::steady_clock::now() >= deadline, freeBefore))
        {
        case RenameStep::Retry:
            break;
        case RenameStep::HeldElsewhere:
            return HeldText(target, error);
        case RenameStep::Refused:
            return RefusedText(target, error);
        case RenameStep::Failed:
            return Fail(Core::ErrorText(Core::FormatText(TextId::ReplacingFile, target), error));
        }
        freeBefore = use == TargetUse::Free || use == TargetUse::Refused;
        Pause(pause);
    }
}

RenameSemantics RenameSemanticsAt(const std::wstring& target)
{
    // The volume's own word (FILE_SUPPORTS_POSIX_UNLINK_RENAME); the rename tries the POSIX form
    // wherever Windows knows it and falls back to the plain one only where it does not.
    constexpr DWORD PosixUnlinkRename = 0x00000400;
    const std::wstring folder = std::filesystem::path(LongPathForm(target)).parent_path().wstring();
    UniqueFile handle =
        OpenPath(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    DWORD flags = 0;
    if (!handle ||
        !::GetVolumeInformationByHandleW(handle.Get(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
        return RenameSemantics::Plain;
    return (flags & PosixUnlinkRename) != 0 ? RenameSemantics::Posix : RenameSemantics::Plain;
}

TargetUse ProbeTarget(const std::wstring& target, RenameSemantics semantics)
{
    return Probe(LongPathForm(target), semantics);
}

Result<> WaitUntilReplaceable(const std::wstring& target, std::chrono::milliseconds wait)
{
    return WaitUntilReplaceable(target, wait, RenameSemanticsAt(target));
}

Result<> WaitUntilReplaceable(const std::wstring& target, std::chrono::milliseconds wait,
                              RenameSemantics semantics)
{
    const std::wstring full = LongPathForm(target);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    auto pause = std::chrono::milliseconds(10);
    for (;;)
    {
        switch (Probe(full, semantics))
        {
        case TargetUse::Missing:
        case TargetUse::Free:
        case TargetUse::Unknown: // the rename itself says what is wrong
            return {};
        case TargetUse::Refused:
            return RefusedText(target, ERROR_ACCESS_DENIED);
        case TargetUse::HeldElsewhere:
            if (std::chrono::steady_clock::now() >= deadline)
                return HeldText(target, ERROR_SHARING_VIOLATION);
            break;
        }
        Pause(pause);
    }
}

bool IsHeldElsewhere(const std::wstring& target)
{
    return Probe(LongPathForm(target), RenameSemanticsAt(target)) == TargetUse::HeldElsewhere;
}

} // namespace Pd::Install
