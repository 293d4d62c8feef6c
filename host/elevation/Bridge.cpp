#include "host/elevation/ElevationBridge.h"

#include "core/Elevation.h"
#include "core/Log.h"
#include "guest/Vsock.h"

#include <fmt/format.h>

namespace Pd::Bio::Elevation
{

void RunBridge(std::stop_token stop, Mode mode)
{
    if (!Core::IsElevated())
    {
        Core::Log("elevate: administrator rights are required (Host Compute Service)");
        return;
    }
    Core::Log(fmt::format("elevation bridge ready (vsock port 0x{:08X}, su for root apps {}, Magisk mode {})",
                          Guest::ElevationServiceId, mode.su ? "on" : "off",
                          mode.magisk             ? "on"
                          : mode.magiskTurningOff ? "turning off"
                                                  : "off"));
    Guest::ServeVsock(
        Guest::ElevationServiceId, "Android elevation daemon",
        [mode](SOCKET socket, std::stop_token) { HandleClient(socket, mode); }, stop);
    Core::Log("elevation bridge stopped");
}

} // namespace Pd::Bio::Elevation
