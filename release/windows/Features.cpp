#include "release/windows/Features.h"

#include "core/ErrorText.h"
#include "core/Text.h"
#include "platform/DeploymentTool.h"

#include <windows.h>

#include <fmt/xchar.h>

#include <array>

namespace Pd::Core
{
namespace
{

constexpr std::uint32_t RestartRequired = 3010;

long WriteDeveloperMode(DWORD value)
{
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE,
                             L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\AppModelUnlock",
                             L"AllowDevelopmentWithoutDevLicense", REG_DWORD, &value, sizeof(value));
}

} // namespace

Pd::Result<> EnableDeveloperMode()
{
    if (long status = WriteDeveloperMode(1); status != ERROR_SUCCESS)
        return Pd::Fail(ErrorText(Text(TextId::TurningDeveloperModeOn), static_cast<std::uint32_t>(status)));
    return {};
}

Pd::Result<> DisableDeveloperMode()
{
    if (long status = WriteDeveloperMode(0); status != ERROR_SUCCESS)
        return Pd::Fail(ErrorText(Text(TextId::TurningDeveloperModeOff), static_cast<std::uint32_t>(status)));
    return {};
}

Pd::Result<bool> RunDism(bool enable, const LogText& log)
{
    const std::wstring step = Text(enable ? TextId::EnablingVirtualMachinePlatformStep
                                          : TextId::DisablingVirtualMachinePlatformStep);
    std::array<wchar_t, MAX_PATH + 1> system{};
    UINT length = ::GetSystemDirectoryW(system.data(), MAX_PATH);
    if (length == 0 || length > MAX_PATH)
        return Pd::Fail(ErrorText(step, ::GetLastError()));
    const std::wstring tool = fmt::format(L"{}\\dism.exe", std::wstring_view(system.data(), length));
    const std::wstring command =
        fmt::format(L"\"{}\" /online /{}-feature /featurename:VirtualMachinePlatform{} /norestart /quiet",
                    tool, enable ? L"enable" : L"disable", enable ? L" /all" : L"");
    if (log)
        log(Text(enable ? TextId::EnablingVirtualMachinePlatform : TextId::DisablingVirtualMachinePlatform));
    auto exitCode = Pd::Platform::RunDeploymentTool(tool, command);
    if (!exitCode)
        return Pd::Fail(ErrorText(step, exitCode.error()));
    if (*exitCode == RestartRequired)
        return true;
    if (*exitCode == 0)
        return false;
    return Pd::Fail(ErrorText(step, *exitCode));
}

Pd::Result<bool> EnableVmp(const LogText& log)
{
    return RunDism(true, log);
}

Pd::Result<bool> DisableVmp(const LogText& log)
{
    return RunDism(false, log);
}

} // namespace Pd::Core
