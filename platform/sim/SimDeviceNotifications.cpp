#include "platform/sim/SimDeviceNotifications.h"

#include "core/Handles.h"
#include "platform/sim/Scenario.h"

#include <cstdint>
#include <thread>

namespace Pd::Platform::Sim
{
namespace
{

using UniqueChangeNotification = Unique<HANDLE, &::FindCloseChangeNotification, -1>;

// Wakes the watcher whenever the scenario's reader count changes; the scenario folder's change
// notification wakes this thread, so an idle watch costs nothing.
class SimReaderWatch final : public DeviceWatch
{
public:
    SimReaderWatch(std::filesystem::path folder, HANDLE wake, UniqueChangeNotification folderChanged)
        : folder_(std::move(folder)), wake_(wake), folderChanged_(std::move(folderChanged)),
          readers_(LoadScenario(folder_).hello.readers),
          stopped_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), worker_([this] { Run(); })
    {
    }
    ~SimReaderWatch() override
    {
        ::SetEvent(stopped_.Get());
        worker_.join();
    }

private:
    void Run()
    {
        HANDLE handles[] = {stopped_.Get(), folderChanged_.Get()};
        while (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
        {
            ::FindNextChangeNotification(folderChanged_.Get());
            std::uint32_t now = LoadScenario(folder_).hello.readers;
            if (now != readers_)
            {
                readers_ = now;
                ::SetEvent(wake_);
            }
        }
    }

    std::filesystem::path folder_;
    HANDLE wake_;
    UniqueChangeNotification folderChanged_;
    std::uint32_t readers_;
    UniqueHandle stopped_;
    std::thread worker_; // last: it starts once everything it uses exists
};

// A class no simulated device offers: registered, and silent.
class SilentWatch final : public DeviceWatch
{
};

} // namespace

Outcome<std::unique_ptr<DeviceWatch>> WatchDeviceInterface(const std::filesystem::path& folder,
                                                           const GUID& interfaceClass, HANDLE wake)
{
    if (!::IsEqualGUID(interfaceClass, BiometricReaderInterfaceClass))
        return std::make_unique<SilentWatch>();
    UniqueChangeNotification changed(::FindFirstChangeNotificationW(
        folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE));
    if (!changed)
        return Failure(HRESULT_FROM_WIN32(::GetLastError()), L"the scenario folder cannot be watched");
    return std::make_unique<SimReaderWatch>(folder, wake, std::move(changed));
}

} // namespace Pd::Platform::Sim
