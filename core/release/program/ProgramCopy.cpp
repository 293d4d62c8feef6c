#include "core/release/program/ProgramCopy.h"

#include "core/ErrorText.h"
#include "core/release/folders/Folders.h"
#include "core/Text.h"

#include <windows.h>

namespace Pd::Core
{
namespace
{

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

} // namespace

namespace Detail
{

Pd::Result<std::wstring> CopyBeside(const std::wstring& source, const std::wstring& target)
{
    std::wstring temporary = target + L".new";
    if (!::CopyFileW(source.c_str(), temporary.c_str(), FALSE))
    {
        const DWORD error = ::GetLastError();
        ::DeleteFileW(temporary.c_str());
        return Pd::Fail(ErrorText(FormatText(18007, target), error));
    }
    return temporary;
}

} // namespace Detail

Pd::Result<> ReplaceWithBackup(const std::wstring& source, const std::wstring& target)
{
    auto temporary = Detail::CopyBeside(source, target);
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
            return Pd::Fail(ErrorText(FormatText(18019, target), error));
        }
        moved = true;
    }
    if (!Rename(*temporary, target))
    {
        const DWORD error = ::GetLastError();
        if (moved)
            Rename(backup, target);
        ::DeleteFileW(temporary->c_str());
        return Pd::Fail(ErrorText(FormatText(18007, target), error));
    }
    DropBackup(backup);
    return {};
}

} // namespace Pd::Core
