// Simulated Hyper-V sockets: a guest service is a loopback TCP port, named per vsock port in
// the scenario, where a simulated Android peer listens. Reachable only while the VM runs.
#pragma once

#include "platform/HvSocket.h"

#include <filesystem>

namespace Pd::Platform::Sim
{

UniqueSocket ConnectToGuest(const std::filesystem::path& folder, const GUID& vmId, std::uint32_t port,
                            DWORD connectTimeoutMs);

} // namespace Pd::Platform::Sim
