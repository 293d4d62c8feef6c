#include "platform/DeploymentTool.h"

#include "core/Handles.h"
#include "platform/RealServices.h"

#include <windows.h>

namespace Pd::Platform
{

std::expected<std::uint32_t, std::uint32_t> Real::RunDeploymentTool(const std::wstring& program,
                                                                    const std::wstring& commandLine)
{
    std::wstring command = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, &process))
        return std::unexpected(static_cast<std::uint32_t>(::GetLastError()));
    Pd::UniqueHandle thread(process.hThread);
    Pd::UniqueHandle handle(process.hProcess);
    ::WaitForSingleObject(handle.Get(), INFINITE);
    DWORD code = 0;
    if (!::GetExitCodeProcess(handle.Get(), &code))
        return std::unexpected(static_cast<std::uint32_t>(::GetLastError()));
    return code;
}

} // namespace Pd::Platform
