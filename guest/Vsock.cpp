#include "guest/Vsock.h"

#include "core/Handles.h"
#include "core/host/HostChange.h"
#include "core/Log.h"
#include "core/LogEscape.h"
#include "core/SetEventOnStop.h"
#include "core/Strings.h"
#include "guest/AndroidVm.h"
#include "platform/Guid.h"
#include "platform/HvSocket.h"

#include <fmt/format.h>

#include <atomic>
#include <exception>
#include <optional>
#include <string>

namespace Pd::Guest
{
namespace
{

// Loops that currently serve a VM (between its discovery and its end).
std::atomic<int> loopsWithVm{0};

class VmSeen
{
public:
    VmSeen() noexcept { ++loopsWithVm; }
    ~VmSeen() { --loopsWithVm; }
    VmSeen(const VmSeen&) = delete;
    VmSeen& operator=(const VmSeen&) = delete;
};

// Windows Sockets for the length of one loop; cleaned up only when it started.
class WinsockSession
{
public:
    WinsockSession()
    {
        WSADATA data{};
        started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockSession()
    {
        if (started_)
            ::WSACleanup();
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

private:
    bool started_ = false;
};

// Shuts a socket down in both directions and cancels its pending I/O when stop is requested.
struct ShutDownOnStop
{
    SOCKET socket;
    void operator()() const noexcept
    {
        ::shutdown(socket, SD_BOTH);
        ::CancelIoEx(reinterpret_cast<HANDLE>(socket), nullptr);
    }
};

class Loop
{
public:
    Loop(std::uint32_t serviceId, std::string_view name, const VsockVmHandler& handler, std::stop_token stop,
         const VsockTimings& timings, HANDLE stopEvent, HANDLE exitEvent)
        : serviceId_(serviceId), name_(name), handler_(handler), stop_(std::move(stop)), timings_(timings),
          stopEvent_(stopEvent), exitEvent_(exitEvent)
    {
    }

    void Run()
    {
        bool waitingLogged = false;
        std::string passedOverLogged;
        while (!stop_.stop_requested())
        {
            OwnVmLookup lookup = FindOwnAndroidVm();
            if (!lookup.vm)
            {
                if (!waitingLogged)
                    Core::Log(fmt::format("host: waiting for Tovik to start ({})", name_));
                if (lookup.passedOver != passedOverLogged && !lookup.passedOver.empty())
                    Core::Log(fmt::format("host: {} - not served ({})", lookup.passedOver, name_));
                passedOverLogged = std::move(lookup.passedOver);
                ::WaitForSingleObject(stopEvent_, timings_.vmLookupMs);
                waitingLogged = true;
                continue;
            }
            ServeVm(*lookup.vm);
            waitingLogged = false;
            passedOverLogged.clear();
        }
    }

private:
    void ServeVm(const AndroidVm& vm)
    {
        ::ResetEvent(exitEvent_);
        ComputeSystem watch = OpenComputeSystem(vm.id, exitEvent_);
        std::optional<VmSeen> seen(std::in_place);
        Core::Log(fmt::format("host: Tovik VM {} ({}), connecting to vsock port 0x{:08X}",
                              Core::ToUtf8(Platform::GuidText(vm.id, true)), Core::EscapeForLog(vm.owner),
                              serviceId_));
        Host::SignalHostChanged();

        while (!stop_.stop_requested() && !IsSet(exitEvent_))
        {
            ULONGLONG attemptStart = ::GetTickCount64();
            if (Platform::UniqueSocket socket =
                    Platform::ConnectToGuest(vm.id, serviceId_, timings_.connectTimeoutMs))
            {
                // The VM could have ended and its id gone to another account's in between.
                if (!StillOurs(vm))
                {
                    Core::Log(fmt::format("host: Tovik VM {} is no longer this user's ({})",
                                          Core::ToUtf8(Platform::GuidText(vm.id, true)), name_));
                    break;
                }
                Serve(std::move(socket), vm);
            }
            // At most one attempt per spacing period, also after a connection that ended at once:
            // a guest that accepts and closes straight away must not make the loop spin.
            ULONGLONG elapsed = ::GetTickCount64() - attemptStart;
            if (elapsed < timings_.attemptSpacingMs)
            {
                HANDLE wakers[] = {stopEvent_, exitEvent_};
                ::WaitForMultipleObjects(2, wakers, FALSE,
                                         static_cast<DWORD>(timings_.attemptSpacingMs - elapsed));
            }
            if (!watch && !StillOurs(vm))
                break;
        }

        seen.reset();
        if (!stop_.stop_requested())
            Core::Log(fmt::format("host: Tovik VM ended ({})", name_));
        Host::SignalHostChanged();
    }

    void Serve(Platform::UniqueSocket socket, const AndroidVm& vm)
    {
        Core::Log(fmt::format("host: {} connected", name_));
        Host::SignalHostChanged();
        {
            std::stop_callback<ShutDownOnStop> shutDown(stop_, ShutDownOnStop{socket.Get()});
            try
            {
                handler_(socket.Get(), vm, stop_);
            }
            catch (const std::exception& error)
            {
                Core::Log(fmt::format("host: {} connection handler failed: {}", name_, error.what()));
            }
            catch (...)
            {
                Core::Log(fmt::format("host: {} connection handler failed", name_));
            }
        }
        socket.Reset();
        Core::Log(fmt::format("host: {} disconnected", name_));
        Host::SignalHostChanged();
    }

    // Whether the listing still shows the VM as the user's; without an exit watch, also the only
    // sign of its end.
    static bool StillOurs(const AndroidVm& vm)
    {
        std::optional<AndroidVm> now = FindOwnAndroidVm().vm;
        return now && now->id == vm.id;
    }

    static bool IsSet(HANDLE event) { return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

    std::uint32_t serviceId_;
    std::string_view name_;
    const VsockVmHandler& handler_;
    std::stop_token stop_;
    VsockTimings timings_;
    HANDLE stopEvent_;
    HANDLE exitEvent_;
};

} // namespace

void ServeVsock(std::uint32_t serviceId, std::string_view serviceName, const VsockHandler& handler,
                std::stop_token stop, const VsockTimings& timings)
{
    VsockVmHandler withVm;
    if (handler)
        withVm = [&handler](SOCKET socket, const AndroidVm&, std::stop_token stop) { handler(socket, stop); };
    ServeVsock(serviceId, serviceName, withVm, std::move(stop), timings);
}

void ServeVsock(std::uint32_t serviceId, std::string_view serviceName, const VsockVmHandler& handler,
                std::stop_token stop, const VsockTimings& timings)
{
    if (!handler)
    {
        Core::Log(fmt::format("host: {} has no connection handler", serviceName));
        return;
    }
    WinsockSession winsock;
    UniqueHandle stopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle exitEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stopEvent || !exitEvent)
    {
        Core::Log(fmt::format("host: {} cannot create its events (error {})", serviceName, ::GetLastError()));
        return;
    }
    // Declared after the events, so that it is removed before they are closed: a late stop
    // request must never set a closed handle.
    std::stop_callback<Core::SetEventOnStop> wake(stop, Core::SetEventOnStop{stopEvent.Get()});
    Loop(serviceId, serviceName, handler, stop, timings, stopEvent.Get(), exitEvent.Get()).Run();
}

bool AndroidVmSeen() noexcept
{
    return loopsWithVm.load() > 0;
}

bool RemoveVsockService(std::uint32_t serviceId)
{
    std::wstring key =
        L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Virtualization\\GuestCommunicationServices\\" +
        Platform::GuidText(Platform::VsockServiceGuid(serviceId), true);
    return ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str()) == ERROR_SUCCESS;
}

} // namespace Pd::Guest
