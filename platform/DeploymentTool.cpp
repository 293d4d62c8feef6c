#include "platform/DeploymentTool.h"

#include "core/StartProgram.h"
#include "platform/RealServices.h"

#include <windows.h>

namespace Pd::Platform
{

std::expected<std::uint32_t, std::uint32_t> Real::RunDeploymentTool(const std::wstring& program,
                                                                    const std::wstring& commandLine)
{
    auto started = Core::StartProgram(program, commandLine, CREATE_NO_WINDOW);
    if (!started)
        return std::unexpected(started.error());
    ::WaitForSingleObject(started->Get(), INFINITE);
    DWORD code = 0;
    if (!::GetExitCodeProcess(started->Get(), &code))
        return std::unexpected(static_cast<std::uint32_t>(::GetLastError()));
    return code;
}

} // namespace Pd::Platform
