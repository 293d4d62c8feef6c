#include "core/host/ScheduledTask.h"

#include "core/ErrorText.h"
#include "core/host/HostControl.h"
#include "core/Text.h"

#include <windows.h>

#define SECURITY_WIN32
#include <oleauto.h>
#include <secext.h>

#include <fmt/xchar.h>

#include <filesystem>

#include <vector>

namespace Pd::Host
{
namespace
{

constexpr const wchar_t* TaskName = L"Peldra";
constexpr const wchar_t* OlderTaskName = L"Peldra Bluetooth";
constexpr HRESULT TaskNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

// {0}: the user, {1}: the host executable; both already escaped.
constexpr const wchar_t* TaskTemplate =
    L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
    L"<Task version=\"1.4\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n"
    L"  <RegistrationInfo><Description>Gives Android in Peldra this PC's Bluetooth adapter and Windows "
    L"Hello.</Description></RegistrationInfo>\n"
    L"  <Triggers><LogonTrigger><Enabled>true</Enabled><UserId>{0}</UserId></LogonTrigger></Triggers>\n"
    L"  <Principals><Principal id=\"Author\"><UserId>{0}</UserId><LogonType>InteractiveToken</LogonType>"
    L"<RunLevel>HighestAvailable</RunLevel></Principal></Principals>\n"
    L"  <Settings>\n"
    L"    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\n"
    L"    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\n"
    L"    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\n"
    L"    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\n"
    L"    <AllowStartOnDemand>true</AllowStartOnDemand>\n"
    L"    <Priority>7</Priority>\n"
    L"  </Settings>\n"
    L"  <Actions Context=\"Author\"><Exec><Command>\"{1}\"</Command><Arguments>host --background</Arguments>"
    L"</Exec></Actions>\n"
    L"</Task>\n";

UniqueBstr Bstr(const wchar_t* text)
{
    return UniqueBstr(::SysAllocString(text));
}

std::wstring TaskError(HRESULT hr)
{
    return Core::ErrorText(Core::Text(TextId::TaskScheduler),
                           static_cast<std::uint32_t>(hr)); // "Task Scheduler"
}

} // namespace

std::wstring EscapeXml(std::wstring_view text)
{
    std::wstring result;
    result.reserve(text.size());
    for (wchar_t c : text)
    {
        switch (c)
        {
        case L'&':
            result += L"&amp;";
            break;
        case L'<':
            result += L"&lt;";
            break;
        case L'>':
            result += L"&gt;";
            break;
        case L'"':
            result += L"&quot;";
            break;
        default:
            result += c;
        }
    }
    return result;
}

std::wstring TaskXml(std::wstring_view user, std::wstring_view hostExePath)
{
    return fmt::format(fmt::runtime(TaskTemplate), EscapeXml(user), EscapeXml(hostExePath));
}

std::wstring CurrentSamUserName()
{
    ULONG size = 0;
    ::GetUserNameExW(NameSamCompatible, nullptr, &size);
    if (size == 0)
        return {};
    std::vector<wchar_t> buffer(size + 1, L'\0');
    if (!::GetUserNameExW(NameSamCompatible, buffer.data(), &size))
        return {};
    return std::wstring(buffer.data());
}

Pd::Result<Pd::ComPtr<ITaskFolder>> ConnectTaskService()
{
    Pd::ComPtr<ITaskService> service;
    HRESULT hr = ::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                    service.PutVoid());
    if (FAILED(hr))
        return Pd::Fail(TaskError(hr));
    VARIANT empty{};
    ::VariantInit(&empty);
    hr = service->Connect(empty, empty, empty, empty);
    if (FAILED(hr))
        return Pd::Fail(TaskError(hr));
    Pd::ComPtr<ITaskFolder> root;
    UniqueBstr rootPath = Bstr(L"\\");
    hr = service->GetFolder(rootPath.Get(), root.Put());
    if (FAILED(hr))
        return Pd::Fail(TaskError(hr));
    return root;
}

bool IsTaskRegistered()
{
    auto root = ConnectTaskService();
    if (!root)
        return false;
    Pd::ComPtr<IRegisteredTask> task;
    UniqueBstr name = Bstr(TaskName);
    return SUCCEEDED((*root)->GetTask(name.Get(), task.Put())) && task;
}

Pd::Result<> RunTask()
{
    auto root = ConnectTaskService();
    if (!root)
        return Pd::Fail(root.error());
    Pd::ComPtr<IRegisteredTask> task;
    HRESULT hr = (*root)->GetTask(Bstr(TaskName).Get(), task.Put());
    if (hr == TaskNotFound || (SUCCEEDED(hr) && !task))
        return Pd::Fail(Core::Text(TextId::HostTaskMissing));
    if (FAILED(hr))
        return Pd::Fail(TaskError(hr));
    VARIANT none{};
    ::VariantInit(&none);
    Pd::ComPtr<IRunningTask> running;
    hr = task->Run(none, running.Put());
    if (FAILED(hr))
        return Pd::Fail(TaskError(hr));
    return {};
}

Pd::Result<> SetTaskRegistered(bool on)
{
    auto root = ConnectTaskService();
    if (!root)
        return Pd::Fail(root.error());
    static_cast<void>((*root)->DeleteTask(Bstr(OlderTaskName).Get(), 0));

    if (!on)
    {
        HRESULT hr = (*root)->DeleteTask(Bstr(TaskName).Get(), 0);
        if (FAILED(hr) && hr != TaskNotFound)
            return Pd::Fail(TaskError(hr));
        return {};
    }

    // The task starts the host with the highest rights at every logon: from the installed copy
    // only, never from a copy elsewhere that the user's own programs could replace.
    const std::wstring installed = InstalledHostExePath();
    std::error_code error;
    if (!std::filesystem::is_regular_file(installed, error))
        return Pd::Fail(Core::FormatText(TextId::StartWithWindowsCopyMissing, installed));
    UniqueBstr xml = Bstr(TaskXml(CurrentSamUserName(), installed).c_str());
    VARIANT empty{};
    ::VariantInit(&empty);
    Pd::ComPtr<IRegisteredTask> task;
    HRESULT hr = (*root)->RegisterTask(Bstr(TaskName).Get(), xml.Get(), TASK_CREATE_OR_UPDATE, empty, empty,
                                       TASK_LOGON_INTERACTIVE_TOKEN, empty, task.Put());
    if (FAILED(hr))
        return Pd::Fail(TaskError(hr));
    return {};
}

} // namespace Pd::Host
