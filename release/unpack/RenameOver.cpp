#include "release/unpack/RenameOver.h"

#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/Text.h"
#include "release/folders/NoLinks.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace Pd::Install
{
namespace
{

// FILE_RENAME_INFO's extended form, which newer SDKs declare as FILE_RENAME_INFO with a Flags union.
constexpr auto RenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD ReplaceIfExists = 0x1;
constexpr DWORD PosixSemantics = 0x2;

// The extended form's flags share their place with the plain form's ReplaceIfExists.
void SetFlags(std::vector<std::uint8_t>& buffer, DWORD flags)
{
    static_assert(offsetof(FILE_RENAME_INFO, RootDirectory) >= sizeof(DWORD));
    std::memcpy(buffer.data(), &flags, sizeof(flags));
}

// One rename by handle; the POSIX form first, the plain one where Windows does not know it.
BOOL RenameOnce(HANDLE file, const std::wstring& target, bool& posix)
{
    const std::size_t nameBytes = target.size() * sizeof(wchar_t);
    std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::copy(target.begin(), target.end(), rename->FileName);
    if (posix)
    {
        SetFlags(buffer, ReplaceIfExists | PosixSemantics);
        if (::SetFileInformationByHandle(file, RenameInfoEx, rename, static_cast<DWORD>(buffer.size())))
            return TRUE;
        const DWORD error = ::GetLastError();
        if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
            error != ERROR_INVALID_FUNCTION)
            return FALSE;
        posix = false;
    }
    SetFlags(buffer, 0);
    rename->ReplaceIfExists = TRUE;
    return ::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()));
}

// Whether the file is open in another handle, after a rename over it failed with a sharing
// conflict: an open for deleting that shares everything fails only for such a handle, and where it
// succeeds the delete itself is allowed, so only another handle can have stood in the way. An
// open refused for access means the file's permissions, not a reader.
bool HeldOpenElsewhere(const std::wstring& full)
{
    UniqueFile probe(::CreateFileW(full.c_str(), DELETE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return probe || ::GetLastError() == ERROR_SHARING_VIOLATION;
}

} // namespace

bool IsSharingConflict(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

Result<> RenameOver(HANDLE file, const std::wstring& target, std::chrono::milliseconds wait)
{
    const std::wstring full = LongPathForm(target);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    auto pause = std::chrono::milliseconds(10);
    bool posix = true;
    for (;;)
    {
        if (RenameOnce(file, full, posix))
            return {};
        const DWORD error = ::GetLastError();
        // Only a file can be held by a reader: a folder in the target's place never lets go.
        const DWORD attributes = ::GetFileAttributesW(full.c_str());
        const bool held = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        if (!IsSharingConflict(error) || !held)
            return Fail(Core::ErrorText(Core::FormatText(TextId::ReplacingFile, target), error));
        if (std::chrono::steady_clock::now() >= deadline)
            return Fail(HeldOpenElsewhere(full)
                            ? Core::FormatText(TextId::FileOpenInAnotherProgram, target, error)
                            : Core::ErrorText(Core::FormatText(TextId::ReplacingFile, target), error));
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(200));
    }
}

} // namespace Pd::Install
