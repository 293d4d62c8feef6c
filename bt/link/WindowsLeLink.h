// The LE link behind the controller: a real LE device opened through Windows, its GATT session,
// the mirror of its database served over ATT, pairing over SMP, and the loss of the device
// reported once. One worker per link handles what Android sends, in arrival order.
//
// The inbound queue is bounded in entries and bytes: from half the bound on, the link holds
// back Android's ACL credits until the worker has caught up, so a host that keeps to flow
// control never reaches the bound; past it, commands and other PDUs are dropped and ATT
// requests answered with Insufficient Resources (logged once per link). A key distribution the
// controller asks for is a single mark behind the PDUs queued at that moment, never an entry of
// its own. Close discards what is still queued and cancels the Windows operation the worker
// waits for.
//
// Threads: the controller's (Connect, PushFromAndroid, Close), the worker, and Windows threads
// (session status and value changes). Lock order: callback lock, indication lock (the ATT
// server's), send lock; the inbound lock is never held while another is taken.
#pragma once

#include "bt/controller/LeLink.h"
#include "platform/Bluetooth.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <stop_token>

namespace Pd::Bt
{

struct InboundLimits
{
    std::size_t entries = 256;
    std::size_t bytes = 64 * 1024;
};

// Opens the LE device with this address and type (null when Windows does not know it),
// cancelled by a stop request.
using LeDeviceOpener = std::function<Platform::Outcome<std::unique_ptr<Platform::LeDevice>>(
    std::uint64_t address, bool randomAddress, std::stop_token stop)>;

// The connector the bridge gives its controller: links to devices opened through `open`.
LinkConnector WindowsLinkConnector(LeDeviceOpener open, InboundLimits limits = {});

// The same over the platform's devices.
LinkConnector WindowsLinkConnector();

} // namespace Pd::Bt
