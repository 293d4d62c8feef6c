#include "core/release/ProgramCopy.h"

#include "core/ErrorText.h"
#include "core/Text.h"

#include <windows.h>

namespace Pd::Core
{
namespace
{

bool PathExists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

Pd::Result<> ReplaceWithBackup(const std::wstring& source, const std::wstring& target)
{
    const std::wstring backup = target + L".old";
    bool moved = false;
    if (PathExists(target))
    {
        if (!::MoveFileExW(target.c_str(), backup.c_str(), MOVEFILE_REPLACE_EXISTING))
            return Pd::Fail(ErrorText(FormatText(18019, target), ::GetLastError()));
        moved = true;
    }
    if (!::CopyFileW(source.c_str(), target.c_str(), FALSE))
    {
        const DWORD error = ::GetLastError();
        // Put the old file back; without one, drop whatever part of the copy was written.
        if (moved)
            ::MoveFileExW(backup.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
        else
            ::DeleteFileW(target.c_str());
        return Pd::Fail(ErrorText(FormatText(18007, target), error));
    }
    if (PathExists(backup) && !::DeleteFileW(backup.c_str()))
        ::MoveFileExW(backup.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return {};
}

} // namespace Pd::Core
