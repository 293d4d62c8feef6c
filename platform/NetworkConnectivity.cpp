#include "platform/NetworkConnectivity.h"

#include "core/NetworkChange.h"
#include "platform/RealServices.h"

#include <fmt/xchar.h>

namespace Pd::Platform
{
namespace
{

using HintCallback = void(WINAPI*)(PVOID, Core::NetworkConnectivityHint);
using GetHintFunction = DWORD(WINAPI*)(Core::NetworkConnectivityHint*);
using NotifyHintFunction = DWORD(WINAPI*)(HintCallback, PVOID context, BOOLEAN initialNotification,
                                          HANDLE* notification);

struct HintFunctions
{
    GetHintFunction get = nullptr;
    NotifyHintFunction notify = nullptr;
};

const HintFunctions& LoadHintFunctions()
{
    static const HintFunctions functions = [] {
        HintFunctions loaded;
        HMODULE module = ::LoadLibraryExW(L"iphlpapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module == nullptr)
            return loaded;
        loaded.get = reinterpret_cast<GetHintFunction>(
            reinterpret_cast<void*>(::GetProcAddress(module, "GetNetworkConnectivityHint")));
        loaded.notify = reinterpret_cast<NotifyHintFunction>(
            reinterpret_cast<void*>(::GetProcAddress(module, "NotifyNetworkConnectivityHintChange")));
        return loaded;
    }(); // the module stays loaded for the process
    return functions;
}

Error HintFailure(const wchar_t* function, DWORD status)
{
    return Error{HRESULT_FROM_WIN32(status), fmt::format(L"{} failed ({})", function, status)};
}

class MibWatch final : public ConnectivityWatch
{
public:
    explicit MibWatch(HANDLE notification) : notification_(notification) {}
    ~MibWatch() override { ::CancelMibChangeNotify2(notification_); } // waits for a running callback

private:
    HANDLE notification_;
};

class WindowsConnectivity final : public NetworkConnectivity
{
public:
    Outcome<ConnectivityLevel> Level() override
    {
        const HintFunctions& functions = LoadHintFunctions();
        if (functions.get == nullptr)
            return std::unexpected(HintFailure(L"GetNetworkConnectivityHint", ERROR_PROC_NOT_FOUND));
        Core::NetworkConnectivityHint hint{};
        if (DWORD status = functions.get(&hint); status != NO_ERROR)
            return std::unexpected(HintFailure(L"GetNetworkConnectivityHint", status));
        return static_cast<ConnectivityLevel>(hint.connectivityLevel);
    }

    Outcome<std::unique_ptr<ConnectivityWatch>> Watch(HANDLE wake) override
    {
        const HintFunctions& functions = LoadHintFunctions();
        if (functions.notify == nullptr)
            return std::unexpected(HintFailure(L"NotifyNetworkConnectivityHintChange", ERROR_PROC_NOT_FOUND));
        HANDLE notification = nullptr;
        if (DWORD status = functions.notify(&Core::SignalNetworkChange, wake, TRUE, &notification);
            status != NO_ERROR)
            return std::unexpected(HintFailure(L"NotifyNetworkConnectivityHintChange", status));
        return std::make_unique<MibWatch>(notification);
    }
};

} // namespace

std::shared_ptr<NetworkConnectivity> Real::NetworkHints()
{
    return std::make_shared<WindowsConnectivity>();
}

} // namespace Pd::Platform
