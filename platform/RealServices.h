// The real side of every service behind an accessor: the Windows call (case 2), or the answer
// "unavailable" where this build has no binding (case 3). The accessors themselves are chosen
// when an exe is linked: Peldra.exe takes these directly (ShippedServices.cpp); the simulated
// build takes them whenever simulation is off.
#pragma once

#include "platform/Bluetooth.h"
#include "platform/CellularApn.h"
#include "platform/ComputeCore.h"
#include "platform/DeviceNotifications.h"
#include "platform/HvSocket.h"
#include "platform/MobileBroadband.h"
#include "platform/NetworkConnectivity.h"
#include "platform/PackageManager.h"
#include "platform/SmsRouter.h"
#include "platform/UserConsent.h"
#include "platform/WebPage.h"
#include "platform/WindowsVersion.h"

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Pd::Platform::Real
{

Outcome<std::uint64_t> DefaultBluetoothAdapter();
Outcome<std::unique_ptr<AdvertisementWatcher>> CreateAdvertisementWatcher(ScanningMode mode);
Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(std::uint64_t address, bool randomAddress);
Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(std::uint64_t address, bool randomAddress,
                                                std::stop_token stop);
std::shared_ptr<CellularConnectivity> CellularConnections();
std::shared_ptr<ComputeCore> ComputeService();
std::expected<std::uint32_t, std::uint32_t> RunDeploymentTool(const std::wstring& program,
                                                              const std::wstring& commandLine);
Outcome<std::vector<std::vector<std::uint8_t>>> QueryInterfaceDns(const std::wstring& name, WORD type,
                                                                  std::uint32_t interfaceIndex);
UniqueSocket ConnectToGuest(const GUID& vmId, std::uint32_t port, DWORD connectTimeoutMs);
Outcome<std::shared_ptr<MbnInterfaceManager>> MobileBroadband();
std::shared_ptr<NetworkConnectivity> NetworkHints();
Outcome<> OpenAsUser(const ShellRequest& request);
std::shared_ptr<PackageManager> Packages();
std::shared_ptr<SmsRouter> SmsRouting();
std::shared_ptr<UserConsentVerifier> UserConsent();
Outcome<std::unique_ptr<DeviceWatch>> WatchDeviceInterface(const GUID& interfaceClass, HANDLE wake);
WindowsVersion ReadWindowsVersion();
std::optional<bool> VmpInstallState();

} // namespace Pd::Platform::Real
