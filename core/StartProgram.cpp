#include "core/StartProgram.h"

#include "core/ChildEnvironment.h"

#include <windows.h>

#include <cwctype>

namespace Pd::Core
{
namespace
{

// "X:\..." or "\\server\..." : a relative path or a bare name would be looked up in folders the
// user can change.
bool IsFullPath(const std::wstring& path)
{
    if (path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\')
        return true;
    return path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\';
}

} // namespace

std::expected<UniqueHandle, std::uint32_t> StartProgram(const std::wstring& program, std::wstring commandLine,
                                                        std::uint32_t creationFlags)
{
    if (!IsFullPath(program))
        return std::unexpected(static_cast<std::uint32_t>(ERROR_BAD_PATHNAME));
    auto environment = ChildEnvironmentBlock();
    if (!environment)
        return std::unexpected(environment.error());
    wchar_t system[MAX_PATH] = {};
    const UINT systemLength = ::GetSystemDirectoryW(system, MAX_PATH);
    if (systemLength == 0 || systemLength >= MAX_PATH)
        return std::unexpected(
            static_cast<std::uint32_t>(systemLength == 0 ? ::GetLastError() : ERROR_BUFFER_OVERFLOW));

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          creationFlags | CREATE_UNICODE_ENVIRONMENT, environment->data(), system, &startup,
                          &process))
        return std::unexpected(static_cast<std::uint32_t>(::GetLastError()));
    UniqueHandle thread(process.hThread);
    return UniqueHandle(process.hProcess);
}

} // namespace Pd::Core
