#include "platform/sim/SimDeviceNotifications.h"

#include "platform/sim/FolderWatch.h"
#include "platform/sim/Scenario.h"

#include <cstdint>

namespace Pd::Platform::Sim
{
namespace
{

// Wakes the watcher whenever the scenario's reader count changes.
class SimReaderWatch final : public DeviceWatch
{
public:
    SimReaderWatch(std::filesystem::path folder, HANDLE wake)
        : folder_(std::move(folder)), wake_(wake), readers_(LoadScenario(folder_).hello.readers),
          watch_(folder_, [this] { return Check(); })
    {
    }
    const FolderWatch& Watch() const { return watch_; }
    bool Start() { return watch_.Start(INFINITE); }

private:
    std::optional<DWORD> Check()
    {
        std::uint32_t now = LoadScenario(folder_).hello.readers;
        if (now != readers_)
        {
            readers_ = now;
            ::SetEvent(wake_);
        }
        return INFINITE;
    }

    std::filesystem::path folder_;
    HANDLE wake_;
    std::uint32_t readers_;
    FolderWatch watch_; // last: it ends first, so no check runs on what is gone
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
    auto watch = std::make_unique<SimReaderWatch>(folder, wake);
    if (!watch->Watch().SeesChanges())
        return Failure(watch->Watch().ChangesError(), L"the scenario folder cannot be watched");
    if (!watch->Start())
        return Failure(E_FAIL, L"the scenario folder cannot be watched");
    return watch;
}

} // namespace Pd::Platform::Sim
