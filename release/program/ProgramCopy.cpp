#include "release/program/ProgramCopy.h"

#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/Text.h"
#include "release/base/OpenPath.h"
#include "release/folders/Folders.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

namespace Pd::Core
{
namespace
{

// Writes the new content into the open file; returns 0 or the Windows error code.
using Fill = std::function<DWORD(HANDLE to)>;

bool Rename(const std::wstring& from, const std::wstring& to)
{
    return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
           FALSE;
}

void DropBackup(const std::wstring& backup)
{
    if (PathExists(backup) && !::DeleteFileW(backup.c_str()))
        ::MoveFileExW(backup.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

DWORD WriteAll(HANDLE to, const char* data, std::size_t size)
{
    while (size > 0)
    {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(to, data, chunk, &written, nullptr))
            return ::GetLastError();
        if (written == 0)
            return ERROR_WRITE_FAULT;
        data += written;
        size -= written;
    }
    return 0;
}

// Every byte of the source's file, read at explicit offsets from its start until the end.
DWORD CopyFrom(HANDLE source, HANDLE to)
{
    std::vector<char> buffer(1u << 20);
    std::uint64_t offset = 0;
    for (;;)
    {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!::ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &got, &at))
        {
            const DWORD error = ::GetLastError();
            return error == ERROR_HANDLE_EOF ? 0 : error;
        }
        if (got == 0)
            return 0;
        if (const DWORD error = WriteAll(to, buffer.data(), got); error != 0)
            return error;
        offset += got;
    }
}

Pd::Result<std::wstring> WriteBeside(const Fill& fill, const std::wstring& target)
{
    std::wstring temporary = target + L".new";
    DWORD error = 0;
    {
        UniqueFile file(Install::OpenPath(temporary, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
        if (!file)
            error = ::GetLastError();
        else if (error = fill(file.Get()); error == 0 && !::FlushFileBuffers(file.Get()))
            error = ::GetLastError();
    }
    if (error != 0)
    {
        ::DeleteFileW(temporary.c_str());
        return Pd::Fail(ErrorText(FormatText(TextId::CannotCreate, target), error));
    }
    return temporary;
}

Pd::Result<> Replace(const Fill& fill, const std::wstring& target)
{
    auto temporary = WriteBeside(fill, target);
    if (!temporary)
        return std::unexpected(temporary.error());
    const std::wstring backup = target + L".old";

    // One rename: the target is the old program or the new one, never a part of either.
    if (Rename(*temporary, target))
    {
        DropBackup(backup);
        return {};
    }

    // A running program cannot be replaced, only renamed: it goes aside first.
    bool moved = false;
    if (PathExists(target))
    {
        if (!Rename(target, backup))
        {
            const DWORD error = ::GetLastError();
            ::DeleteFileW(temporary->c_str());
            return Pd::Fail(ErrorText(FormatText(TextId::ReplacingFile, target), error));
        }
        moved = true;
    }
    if (!Rename(*temporary, target))
    {
        const DWORD error = ::GetLastError();
        if (moved)
            Rename(backup, target);
        ::DeleteFileW(temporary->c_str());
        return Pd::Fail(ErrorText(FormatText(TextId::CannotCreate, target), error));
    }
    DropBackup(backup);
    return {};
}

} // namespace

namespace Detail
{

Pd::Result<std::wstring> CopyBeside(HANDLE source, const std::wstring& target)
{
    return WriteBeside([source](HANDLE to) { return CopyFrom(source, to); }, target);
}

} // namespace Detail

Pd::Result<> ReplaceWithBackup(HANDLE source, const std::wstring& target)
{
    return Replace([source](HANDLE to) { return CopyFrom(source, to); }, target);
}

} // namespace Pd::Core
