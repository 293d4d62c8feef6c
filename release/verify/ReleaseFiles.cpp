#include "release/verify/ReleaseFiles.h"

#include "core/Handles.h"
#include "core/Settings.h"
#include "release/base/OpenPath.h"
#include "release/unpack/RenameOver.h"
#include "release/unpack/StagedFiles.h"

#include <windows.h>

namespace Pd::Core
{
namespace
{

constexpr int ReaderAttempts = 20;
constexpr DWORD ReaderPauseMs = 50;

} // namespace

ReleaseState ReadReleaseState()
{
    std::optional<std::uint32_t> value = ReadUserDword(L"ReleaseState");
    return value ? static_cast<ReleaseState>(*value) : ReleaseState::Cancelled;
}

Pd::Result<> WriteFileReplacing(const std::wstring& path, std::string_view bytes)
{
    // Staged as "<path>.new", never through a link planted in the file's place or on the way to
    // it, and renamed over the file past its readers.
    Install::StagedFile staged;
    if (auto opened = staged.Open(path); !opened)
        return opened;
    if (auto written = staged.Write(bytes.data(), bytes.size()); !written)
        return written;
    return staged.Commit();
}

std::string ReadFileBytes(const std::wstring& path, std::uint64_t limit)
{
    // Shared for deleting, so that a writer can rename a new file over this one meanwhile; a
    // writer's rename that is under way at this moment is waited for briefly.
    UniqueFile file;
    for (int attempt = 0; attempt < ReaderAttempts; ++attempt)
    {
        file = Install::OpenPath(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN);
        if (file || !Install::IsSharingConflict(::GetLastError()))
            break;
        ::Sleep(ReaderPauseMs);
    }
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.Get(), &size) || static_cast<std::uint64_t>(size.QuadPart) > limit ||
        size.QuadPart > 0x7FFFFFFF)
        return {};
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size()))
        return {};
    return bytes;
}

} // namespace Pd::Core
