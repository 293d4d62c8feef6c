#include "bt/Bridge.h"

#include "bt/Session.h"
#include "core/Elevation.h"
#include "core/Log.h"
#include "guest/Vsock.h"
#include "platform/Bluetooth.h"

#include <fmt/format.h>

namespace Pd::Bt
{
namespace
{

constexpr const char* HciServiceName = "Android Bluetooth stack";
constexpr const char* BridgeVersion = "0.1.0";

} // namespace

std::uint64_t DefaultAdapter()
{
    auto adapter = Platform::DefaultBluetoothAdapter();
    return adapter ? *adapter : 0;
}

BridgeResult RunBridge(std::stop_token stop)
{
    Core::Log(fmt::format("Bluetooth bridge {}", BridgeVersion));
    if (!Core::IsElevated())
    {
        Core::Log("administrator rights are required (Host Compute Service, Hyper-V socket registration)");
        return BridgeResult::AdministratorRequired;
    }
    std::uint64_t address = DefaultAdapter();
    if (address == 0)
    {
        Core::Log("no Bluetooth adapter is available in Windows");
        return BridgeResult::NoAdapter;
    }
    Core::Log(fmt::format("adapter {:012X}", address));

    Guest::ServeVsock(
        Guest::BluetoothServiceId, HciServiceName,
        [address](SOCKET socket, std::stop_token connectionStop) {
            RunSession(socket, address, connectionStop);
        },
        stop);
    Core::Log("bridge stopped");
    return BridgeResult::Stopped;
}

} // namespace Pd::Bt
