// The Hyper-V socket loop every bridge runs on: Windows connects to a service that Android
// offers on a vsock port inside its VM, hands each connection to the bridge's handler, and
// follows the VM as it comes and goes.
#pragma once

#include <winsock2.h>

#include <windows.h>

// After Windows Sockets, which must come before windows.h.
#include "guest/AndroidVm.h"

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string_view>

namespace Pd::Guest
{

// The service ids (vsock ports) that Android offers in its VM, one for each bridge.
inline constexpr std::uint32_t BluetoothServiceId = 0x544B4254;
inline constexpr std::uint32_t HelloServiceId = 0x544B4650;
inline constexpr std::uint32_t ElevationServiceId = 0x544B4556;
inline constexpr std::uint32_t RilServiceId = 0x544B524C;          // the radio interface
inline constexpr std::uint32_t MmsRelayServiceId = 0x544B4D4D;     // the MMS relay
inline constexpr std::uint32_t RegistrationServiceId = 0x544B5247; // the device id for registration

// Serves one connection. The loop owns and closes the socket; a stop request shuts it down
// and cancels its I/O, so that blocking calls fail and the handler returns. The handler may
// use the socket from its own threads until it returns.
using VsockHandler = std::function<void(SOCKET socket, std::stop_token stop)>;

// A handler that also learns which VM the connection goes to.
using VsockVmHandler = std::function<void(SOCKET socket, const AndroidVm& vm, std::stop_token stop)>;

// The loop's periods: how often it looks for a VM while none runs, the least time from the
// start of one connection attempt to the next, and the connect time-out.
struct VsockTimings
{
    DWORD vmLookupMs = 5000;
    DWORD attemptSpacingMs = 2000;
    DWORD connectTimeoutMs = 2000;
};

// Runs on the calling thread until stop is requested. Serves only the current user's Android VM
// (FindOwnAndroidVm), checked again before each connection is handed over; Android VMs of other
// accounts, or whose owner names no account, are never connected to, and why is logged once for
// each change. Logs "host: ..." lines with the service name, and announces a host change when the
// VM is found or ends and on each connection and disconnection. A handler that throws is logged
// and its connection ended; the loop goes on.
void ServeVsock(std::uint32_t serviceId, std::string_view serviceName, const VsockHandler& handler,
                std::stop_token stop, const VsockTimings& timings = {});
void ServeVsock(std::uint32_t serviceId, std::string_view serviceName, const VsockVmHandler& handler,
                std::stop_token stop, const VsockTimings& timings = {});

// Whether a loop of this process has found the Android VM and not yet seen it end: what the
// host knows of the VM without asking the Host Compute Service, which can take seconds. Turns
// true before the loop announces the VM and false before it announces the end. False while no
// loop runs.
bool AndroidVmSeen() noexcept;

// Deletes the service's Hyper-V socket registration (the machine's key of the service GUID under
// "Virtualization\GuestCommunicationServices") with everything below it. False when the key is
// missing or cannot be deleted.
bool RemoveVsockService(std::uint32_t serviceId);

} // namespace Pd::Guest
