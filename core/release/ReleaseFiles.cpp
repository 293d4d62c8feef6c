#include "core/release/ReleaseFiles.h"

#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/release/NoLinks.h"
#include "core/Settings.h"
#include "core/Text.h"

#include <windows.h>

#include <filesystem>

namespace Pd::Core
{

ReleaseState ReadReleaseState()
{
    std::optional<std::uint32_t> value = ReadUserDword(L"ReleaseState");
    return value ? static_cast<ReleaseState>(*value) : ReleaseState::Cancelled;
}

Pd::Result<> WriteFileReplacing(const std::wstring& path, std::string_view bytes)
{
    const std::wstring temporary = path + L".new";
    // Never written through a link planted in the file's place or on the way to it.
    if (auto written =
            Install::WriteWholeFile(std::filesystem::path(path).parent_path().wstring(), temporary, bytes);
        !written)
        return written;
    if (!::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return Pd::Fail(ErrorText(FormatText(18007, path), ::GetLastError()));
    return {};
}

std::string ReadFileBytes(const std::wstring& path, std::uint64_t limit)
{
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
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
