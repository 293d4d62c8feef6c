// The accessors of the simulated build: the simulator's service while PELDRA_SIMULATION names a
// scenario folder, the real one (or unavailable) otherwise.
#include "platform/DeploymentTool.h"
#include "platform/DnsQuery.h"
#include "platform/RealServices.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/SimAdvertisementWatcher.h"
#include "platform/sim/SimCellularApn.h"
#include "platform/sim/SimComputeCore.h"
#include "platform/sim/SimDeviceNotifications.h"
#include "platform/sim/SimHvSocket.h"
#include "platform/sim/SimLeDevice.h"
#include "platform/sim/SimModem.h"
#include "platform/sim/SimNetwork.h"
#include "platform/sim/SimPackageManager.h"
#include "platform/sim/SimSmsRouter.h"
#include "platform/sim/Simulation.h"
#include "platform/sim/SimUserConsent.h"
#include "platform/sim/SimWindows.h"
#include "platform/Wmi.h"

namespace Pd::Platform
{

Outcome<std::uint64_t> DefaultBluetoothAdapter()
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::LoadScenario(*folder).bluetooth.adapter;
    return Real::DefaultBluetoothAdapter();
}

Outcome<std::unique_ptr<AdvertisementWatcher>> CreateAdvertisementWatcher(ScanningMode mode)
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::CreateAdvertisementWatcher(Sim::LoadScenario(*folder).bluetooth.advertisers, mode);
    return Real::CreateAdvertisementWatcher(mode);
}

Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(std::uint64_t address, bool randomAddress)
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::OpenLeDevice(Sim::LoadScenario(*folder).bluetooth.devices, address, randomAddress);
    return Real::OpenLeDevice(address, randomAddress);
}

Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(std::uint64_t address, bool randomAddress,
                                                std::stop_token stop)
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::OpenLeDevice(Sim::LoadScenario(*folder).bluetooth.devices, address, randomAddress, stop);
    return Real::OpenLeDevice(address, randomAddress, stop);
}

std::shared_ptr<CellularConnectivity> CellularConnections()
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::MakeCellularConnectivity(*folder);
    return Real::CellularConnections();
}

std::shared_ptr<ComputeCore> ComputeService()
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::MakeComputeCore(*folder);
    return Real::ComputeService();
}

std::expected<std::uint32_t, std::uint32_t> RunDeploymentTool(const std::wstring& program,
                                                              const std::wstring& commandLine)
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::RunDism(*folder, commandLine);
    return Real::RunDeploymentTool(program, commandLine);
}

Outcome<std::vector<std::vector<std::uint8_t>>> QueryInterfaceDns(const std::wstring& name, WORD type,
                                                                  std::uint32_t interfaceIndex)
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::QueryApnDns(*folder, name, type);
    return Real::QueryInterfaceDns(name, type, interfaceIndex);
}

UniqueSocket ConnectToGuest(const GUID& vmId, std::uint32_t port, DWORD connectTimeoutMs)
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::ConnectToGuest(*folder, vmId, port, connectTimeoutMs);
    return Real::ConnectToGuest(vmId, port, connectTimeoutMs);
}

Outcome<std::shared_ptr<MbnInterfaceManager>> MobileBroadband()
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::MakeMobileBroadband(*folder);
    return Real::MobileBroadband();
}

std::shared_ptr<NetworkConnectivity> NetworkHints()
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::MakeNetworkHints(*folder);
    return Real::NetworkHints();
}

Outcome<> OpenAsUser(const ShellRequest& request)
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::OpenAsUser(*folder, request);
    return Real::OpenAsUser(request);
}

std::shared_ptr<PackageManager> Packages()
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::MakePackageManager(*folder);
    return Real::Packages();
}

std::shared_ptr<SmsRouter> SmsRouting()
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::MakeSmsRouter(*folder);
    return Real::SmsRouting();
}

std::shared_ptr<UserConsentVerifier> UserConsent()
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::MakeUserConsentVerifier(*folder);
    return Real::UserConsent();
}

Outcome<std::unique_ptr<DeviceWatch>> WatchDeviceInterface(const GUID& interfaceClass, HANDLE wake)
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::WatchDeviceInterface(*folder, interfaceClass, wake);
    return Real::WatchDeviceInterface(interfaceClass, wake);
}

WindowsVersion ReadWindowsVersion()
{
    if (auto folder = Sim::ActiveScenarioFolder())
        return Sim::ReadWindowsVersion(*folder);
    return Real::ReadWindowsVersion();
}

} // namespace Pd::Platform

namespace Pd::Core
{

std::optional<bool> VmpInstallState()
{
    if (auto folder = Platform::Sim::ActiveScenarioFolder())
        return Platform::Sim::VirtualMachinePlatformState(*folder);
    return Platform::Real::VmpInstallState();
}

} // namespace Pd::Core
