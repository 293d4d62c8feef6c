// The accessors of Peldra.exe: every service is the real one (or unavailable), whatever the
// environment says. Nothing here, nor anything it links, reads a scenario or trusts any
// publisher but the program's own.
#include "platform/DeploymentTool.h"
#include "platform/DnsQuery.h"
#include "platform/Publisher.h"
#include "platform/RealServices.h"
#include "platform/Wmi.h"

namespace Pd::Platform
{

Outcome<std::uint64_t> DefaultBluetoothAdapter()
{
    return Real::DefaultBluetoothAdapter();
}

Outcome<std::unique_ptr<AdvertisementWatcher>> CreateAdvertisementWatcher(ScanningMode mode)
{
    return Real::CreateAdvertisementWatcher(mode);
}

Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(std::uint64_t address, bool randomAddress)
{
    return Real::OpenLeDevice(address, randomAddress);
}

Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(std::uint64_t address, bool randomAddress,
                                                std::stop_token stop)
{
    return Real::OpenLeDevice(address, randomAddress, stop);
}

std::shared_ptr<CellularConnectivity> CellularConnections()
{
    return Real::CellularConnections();
}

std::shared_ptr<ComputeCore> ComputeService()
{
    return Real::ComputeService();
}

std::expected<std::uint32_t, std::uint32_t> RunDeploymentTool(const std::wstring& program,
                                                              const std::wstring& commandLine)
{
    return Real::RunDeploymentTool(program, commandLine);
}

Outcome<std::vector<std::vector<std::uint8_t>>> QueryInterfaceDns(const std::wstring& name, WORD type,
                                                                  std::uint32_t interfaceIndex)
{
    return Real::QueryInterfaceDns(name, type, interfaceIndex);
}

UniqueSocket ConnectToGuest(const GUID& vmId, std::uint32_t port, DWORD connectTimeoutMs)
{
    return Real::ConnectToGuest(vmId, port, connectTimeoutMs);
}

Outcome<std::shared_ptr<MbnInterfaceManager>> MobileBroadband()
{
    return Real::MobileBroadband();
}

std::shared_ptr<NetworkConnectivity> NetworkHints()
{
    return Real::NetworkHints();
}

Outcome<> OpenAsUser(const ShellRequest& request)
{
    return Real::OpenAsUser(request);
}

std::shared_ptr<PackageManager> Packages()
{
    return Real::Packages();
}

std::shared_ptr<SmsRouter> SmsRouting()
{
    return Real::SmsRouting();
}

std::shared_ptr<UserConsentVerifier> UserConsent()
{
    return Real::UserConsent();
}

Outcome<std::unique_ptr<DeviceWatch>> WatchDeviceInterface(const GUID& interfaceClass, HANDLE wake)
{
    return Real::WatchDeviceInterface(interfaceClass, wake);
}

WindowsVersion ReadWindowsVersion()
{
    return Real::ReadWindowsVersion();
}

std::optional<Core::PublisherPins> StandInPublisher()
{
    return std::nullopt;
}

bool StandInCatalogListsMember(const std::wstring&, HANDLE, const Core::PublisherPins&, std::wstring_view)
{
    return false;
}

} // namespace Pd::Platform

namespace Pd::Core
{

std::optional<bool> VmpInstallState()
{
    return Platform::Real::VmpInstallState();
}

} // namespace Pd::Core
