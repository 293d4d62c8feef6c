#include "platform/DeviceNotifications.h"

#include "platform/RealServices.h"

#include <cfgmgr32.h>

#include <fmt/xchar.h>

namespace Pd::Platform
{
namespace
{

using RegisterFunction = CONFIGRET(WINAPI*)(PCM_NOTIFY_FILTER, PVOID context, PCM_NOTIFY_CALLBACK,
                                            PHCMNOTIFICATION);
using UnregisterFunction = CONFIGRET(WINAPI*)(HCMNOTIFICATION);

struct NotificationFunctions
{
    RegisterFunction registerNotification = nullptr;
    UnregisterFunction unregisterNotification = nullptr;
};

const NotificationFunctions& LoadNotificationFunctions()
{
    static const NotificationFunctions functions = [] {
        NotificationFunctions loaded;
        HMODULE module = ::LoadLibraryExW(L"cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module == nullptr)
            return loaded;
        loaded.registerNotification = reinterpret_cast<RegisterFunction>(
            reinterpret_cast<void*>(::GetProcAddress(module, "CM_Register_Notification")));
        loaded.unregisterNotification = reinterpret_cast<UnregisterFunction>(
            reinterpret_cast<void*>(::GetProcAddress(module, "CM_Unregister_Notification")));
        return loaded;
    }(); // the module stays loaded for the process
    return functions;
}

DWORD CALLBACK SignalDeviceChange(HCMNOTIFICATION, PVOID context, CM_NOTIFY_ACTION, PCM_NOTIFY_EVENT_DATA,
                                  DWORD)
{
    ::SetEvent(static_cast<HANDLE>(context));
    return ERROR_SUCCESS;
}

class ConfigManagerWatch final : public DeviceWatch
{
public:
    ConfigManagerWatch(HCMNOTIFICATION notification, UnregisterFunction unregister)
        : notification_(notification), unregister_(unregister)
    {
    }
    // Waits for a running callback.
    ~ConfigManagerWatch() override { unregister_(notification_); }

private:
    HCMNOTIFICATION notification_;
    UnregisterFunction unregister_;
};

} // namespace

namespace Real
{

Outcome<std::unique_ptr<DeviceWatch>> WatchDeviceInterface(const GUID& interfaceClass, HANDLE wake)
{
    const NotificationFunctions& functions = LoadNotificationFunctions();
    if (functions.registerNotification == nullptr || functions.unregisterNotification == nullptr)
        return Failure(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND),
                       L"CM_Register_Notification is not available");
    CM_NOTIFY_FILTER filter{};
    filter.cbSize = sizeof(filter);
    filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
    filter.u.DeviceInterface.ClassGuid = interfaceClass;
    HCMNOTIFICATION notification = nullptr;
    CONFIGRET status = functions.registerNotification(&filter, wake, &SignalDeviceChange, &notification);
    if (status != CR_SUCCESS)
        return Failure(E_FAIL, fmt::format(L"CM_Register_Notification failed (CONFIGRET {})", status));
    return std::make_unique<ConfigManagerWatch>(notification, functions.unregisterNotification);
}

} // namespace Real

} // namespace Pd::Platform
