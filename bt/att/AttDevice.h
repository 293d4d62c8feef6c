// What the ATT server asks of the real device behind the mirrored table: value reads, writes
// with or without response, and changes of a characteristic's client configuration. The
// Windows implementation runs each call on Windows' GATT session and waits for its answer.
#pragma once

#include "bt/gatt/Database.h"

#include <cstdint>
#include <string>

namespace Pd::Bt
{

// The device's answer. error is 0 on success, else the ATT error code the result maps to.
// A call that could not run at all (a Windows error, or cancelled because the link stops)
// holds its text in failure instead: the server answers it with Unlikely Error at handle
// 0x0000 and hands the text on to be logged.
struct DeviceAnswer
{
    std::uint8_t error = 0;
    Bytes value; // what a read gave
    std::string failure;
};

enum class ClientConfiguration : std::uint8_t
{
    None = 0,
    Notify = 1,
    Indicate = 2,
};

class AttDevice
{
public:
    virtual ~AttDevice() = default;

    // The current value of a characteristic value or descriptor entry; a CCCD gives the
    // characteristic's configuration as 2 bytes.
    virtual DeviceAnswer Read(const AttributeEntry& entry) = 0;

    // Writes a characteristic value or a descriptor that has a device object (never a CCCD).
    virtual DeviceAnswer Write(const AttributeEntry& entry, ByteView value, bool withResponse) = 0;

    // Writes the client configuration of the CCCD entry's characteristic.
    virtual DeviceAnswer WriteClientConfiguration(const AttributeEntry& cccd, ClientConfiguration mode) = 0;

    // After a successful configuration write: starts, switches or ends the delivery of the
    // characteristic's value changes (through AttServer::QueueNotification). Subscribing again
    // the same way changes nothing.
    virtual DeviceAnswer Subscribe(const AttributeEntry& cccd, bool enable, bool indicate) = 0;
};

} // namespace Pd::Bt
