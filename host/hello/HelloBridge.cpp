#include "host/hello/HelloBridge.h"

#include "core/ComApartment.h"
#include "core/Elevation.h"
#include "core/Handles.h"
#include "core/host/HostChange.h"
#include "core/Log.h"
#include "core/ObjectSecurity.h"
#include "core/SetEventOnStop.h"
#include "core/Strings.h"
#include "guest/Vsock.h"
#include "host/hello/BridgeHolder.h"
#include "host/hello/HelloSession.h"
#include "host/hello/LockWatch.h"
#include "host/hello/WindowsHello.h"
#include "platform/DeviceNotifications.h"

#include <fmt/format.h>

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace Pd::Bio::Hello
{
namespace
{

constexpr const char* ServiceName = "Android fingerprint HAL";
constexpr std::uint8_t Available = 0;
constexpr std::uint8_t NotAvailable = 3;

using UniqueServiceHandle = Unique<SC_HANDLE, &::CloseServiceHandle>;

// Sends one frame whole under the connection's send lock; a failed send is ignored, the
// connection goes on until reading fails.
void SendFrame(SOCKET socket, std::mutex& sendLock, FrameKind kind, std::uint8_t value)
{
    const auto bytes = EncodeFrameHeader({FrameMagic, static_cast<std::uint8_t>(kind), value, 0});
    std::lock_guard guard(sendLock);
    for (std::size_t sent = 0; sent < bytes.size();)
    {
        int done = ::send(socket, reinterpret_cast<const char*>(bytes.data() + sent),
                          static_cast<int>(bytes.size() - sent), 0);
        if (done <= 0)
            return;
        sent += static_cast<std::size_t>(done);
    }
}

bool ReceiveExactly(SOCKET socket, std::span<std::uint8_t> buffer)
{
    for (std::size_t got = 0; got < buffer.size();)
    {
        int done = ::recv(socket, reinterpret_cast<char*>(buffer.data() + got),
                          static_cast<int>(buffer.size() - got), 0);
        if (done <= 0)
            return false;
        got += static_cast<std::size_t>(done);
    }
    return true;
}

void CALLBACK WakeServiceWatch(void* notify)
{
    ::SetEvent(static_cast<HANDLE>(static_cast<SERVICE_NOTIFYW*>(notify)->pContext));
}

// Signals `changed` whenever the Windows Biometric Service stops or starts, until `stopped` is set.
// The notification arrives as an APC, so the thread waits alertably.
void WatchBiometricService(HANDLE stopped, HANDLE changed)
{
    SERVICE_NOTIFYW notify{}; // outlives the service handle, whose closing cancels a pending notification
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return;
    UniqueServiceHandle service(::OpenServiceW(manager.Get(), L"WbioSrvc", SERVICE_QUERY_STATUS));
    if (!service)
        return;
    for (;;)
    {
        notify = {};
        notify.dwVersion = SERVICE_NOTIFY_STATUS_CHANGE;
        notify.pfnNotifyCallback = &WakeServiceWatch;
        notify.pContext = changed;
        if (::NotifyServiceStatusChangeW(service.Get(), SERVICE_NOTIFY_STOPPED | SERVICE_NOTIFY_RUNNING,
                                         &notify) != ERROR_SUCCESS)
            return;
        // The notification's APC ends the wait with WAIT_IO_COMPLETION: register again.
        if (::WaitForSingleObjectEx(stopped, INFINITE, TRUE) != WAIT_IO_COMPLETION)
            return; // stopped, or the wait failed
    }
}

// Device arrivals and removals of biometric readers, and the biometric service's starts and
// stops, each signal the availability event.
class BiometricWatch
{
public:
    explicit BiometricWatch(HANDLE changed) : stopped_(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        if (auto devices = Platform::WatchDeviceInterface(Platform::BiometricReaderInterfaceClass, changed))
            devices_ = std::move(*devices); // without it, availability goes out after verifications only
        if (stopped_)
            service_ = std::thread(&WatchBiometricService, stopped_.Get(), changed);
    }
    ~BiometricWatch()
    {
        devices_.reset();
        ::SetEvent(stopped_.Get());
        if (service_.joinable())
            service_.join();
    }
    BiometricWatch(const BiometricWatch&) = delete;
    BiometricWatch& operator=(const BiometricWatch&) = delete;

private:
    std::unique_ptr<Platform::DeviceWatch> devices_;
    UniqueHandle stopped_;
    std::thread service_;
};

// Announces availability at once and then each time `changed` is signalled and it differs.
void WatchAvailability(std::stop_token stop, HANDLE changed, const FrameSender& send)
{
    Core::ComApartment apartment(Core::Apartment::Multithreaded);
    UniqueHandle stopped(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stopped)
        return;
    std::stop_callback<Core::SetEventOnStop> wake(stop, Core::SetEventOnStop{stopped.Get()});
    std::optional<bool> announced;
    const HANDLE events[] = {stopped.Get(), changed};
    while (::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
    {
        const bool available = CheckAvailability() == Availability::Available;
        if (announced == available)
            continue;
        Core::Log(fmt::format("hello: Windows Hello {}", available ? "available" : "not available"));
        send(FrameKind::Availability, available ? Available : NotAvailable);
        announced = available;
    }
}

} // namespace

void HandleClient(SOCKET socket, const Guest::AndroidVm& vm, std::stop_token)
{
    UniqueHandle changed(::CreateEventW(nullptr, FALSE, TRUE, nullptr)); // the first availability at once
    if (!changed)
        return;
    std::mutex sendLock;
    const FrameSender send = [socket, &sendLock](FrameKind kind, std::uint8_t value) {
        SendFrame(socket, sendLock, kind, value);
    };
    BiometricWatch biometrics(changed.Get());
    std::jthread watcher([&](std::stop_token stop) { WatchAvailability(stop, changed.Get(), send); });
    {
        Session session(send, changed.Get(), vm.id);
        const ReadExactly read = [socket](std::span<std::uint8_t> buffer) {
            return ReceiveExactly(socket, buffer);
        };
        for (;;)
        {
            auto frame = ReadFrame(read);
            if (!frame)
            {
                if (frame.error().problem == FrameProblem::Invalid)
                    Core::Log(
                        fmt::format("hello: invalid frame (magic=0x{:08X}, len={}), dropping the connection",
                                    frame.error().header.magic, frame.error().header.length));
                break;
            }
            session.OnFrame(*frame);
        }
    } // cancels and joins the verification
    watcher.request_stop();
    watcher.join();
}

int RunBridge(std::stop_token stop)
{
    if (!Core::IsElevated())
    {
        Core::Log("hello: administrator rights are required (Host Compute Service)");
        return 1;
    }
    std::wstring foreign;
    UniqueHandle mutex = Core::CreateSessionMutex(InstanceMutexName, false, &foreign);
    if (!mutex)
    {
        if (!foreign.empty())
            Core::Log(fmt::format("hello: another program holds Peldra's name {} (owner {}), refused",
                                  Core::ToUtf8(InstanceMutexName), Core::ToUtf8(foreign)));
        else
            Core::Log(fmt::format("hello: cannot create the instance mutex (error {})", ::GetLastError()));
        return 0;
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS)
    {
        // Another Peldra serves Windows Hello, or a program of this user took the name first.
        if (auto holder = Core::ForeignOwner(mutex.Get(), false))
            Core::Log(
                fmt::format("hello: another program (owner {}) holds {}: the Windows Hello bridge cannot "
                            "run until it ends",
                            Core::ToUtf8(*holder), Core::ToUtf8(InstanceMutexName)));
        else
            Core::Log("hello: another Peldra process serves Windows Hello");
        Host::SignalHostChanged(); // the window shows who holds it
        return 0;
    }
    Core::Log(fmt::format("Windows Hello bridge ready (vsock port 0x{:08X})", Guest::HelloServiceId));
    LockWatch lockWatch;
    Guest::ServeVsock(Guest::HelloServiceId, ServiceName, &HandleClient, stop);
    Core::Log("Windows Hello bridge stopped");
    return 0;
}

} // namespace Pd::Bio::Hello
