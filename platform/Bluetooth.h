// Windows Bluetooth (a Windows Runtime service): what the bridge asks of the radio. Synchronous;
// every failure is an HRESULT with a text.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace Pd::Platform
{

// The address of Windows' default Bluetooth adapter (48 bits); 0 when the PC has none.
// Without simulation this build has no Windows Runtime binding: the service is unavailable.
Outcome<std::uint64_t> DefaultBluetoothAdapter();

// ---- LE advertisement watcher ----

enum class ScanningMode
{
    Passive,
    Active,
};

// Windows' advertisement types, with Windows' numbers. A newer Windows may report others.
enum class AdvertisementType : std::int32_t
{
    ConnectableUndirected = 0,
    ConnectableDirected = 1,
    ScannableUndirected = 2,
    NonConnectableUndirected = 3,
    ScanResponse = 4,
    Extended = 5,
};

// One data section of an advertisement: its AD type and its bytes.
struct AdvertisementSection
{
    std::uint8_t type = 0;
    std::vector<std::uint8_t> data;
};

// The fields of one Received event, as plain values.
struct ReceivedAdvertisement
{
    std::uint64_t address = 0; // 48 bits
    bool randomAddress = false;
    AdvertisementType type = AdvertisementType::ConnectableUndirected;
    bool isConnectable = false;
    bool isScannable = false;
    std::int16_t rawSignalStrengthInDBm = 0;
    std::vector<AdvertisementSection> sections; // in the order the advertisement carries them
};

// Runs on a Windows thread, possibly several at once, also shortly after the handler was
// removed or the watcher stopped.
using ReceivedHandler = std::function<void(const ReceivedAdvertisement&)>;

// A watcher without filters. Releasing it stops it.
class AdvertisementWatcher
{
public:
    virtual ~AdvertisementWatcher() = default;

    // Registers the Received handler; the token removes it again.
    virtual Outcome<std::int64_t> AddReceived(ReceivedHandler handler) = 0;
    virtual void RemoveReceived(std::int64_t token) = 0;

    virtual Outcome<> Start() = 0;
    virtual Outcome<> Stop() = 0;
};

// A new watcher scanning in the given mode, not started. Without simulation it is Windows' own
// (0x80040154 where the system has none).
Outcome<std::unique_ptr<AdvertisementWatcher>> CreateAdvertisementWatcher(ScanningMode mode);

// ---- LE devices and their GATT databases ----
// Every listing asks the device itself, not Windows' cache of it. Handles, UUIDs and properties
// are plain values as Windows reports them; the objects stay open while held, so that values
// can later be read and written through them.

// Windows' GattCommunicationStatus numbers.
enum class GattStatus : std::int32_t
{
    Success = 0,
    Unreachable = 1,
    ProtocolError = 2,
    AccessDenied = 3,
};

// One listing: its status, and the items when that is Success.
template <typename T> struct GattListing
{
    GattStatus status = GattStatus::Success;
    std::vector<std::shared_ptr<T>> items;
};

class GattDescriptor
{
public:
    virtual ~GattDescriptor() = default;
    virtual std::uint16_t AttributeHandle() const = 0;
    virtual GUID Uuid() const = 0;
};

class GattCharacteristic
{
public:
    virtual ~GattCharacteristic() = default;
    virtual std::uint16_t AttributeHandle() const = 0; // the declaration's handle
    virtual GUID Uuid() const = 0;
    virtual std::uint32_t Properties() const = 0; // Windows' GattCharacteristicProperties
    virtual Outcome<GattListing<GattDescriptor>> GetDescriptors() = 0;
};

class GattDeviceService
{
public:
    virtual ~GattDeviceService() = default;
    virtual std::uint16_t AttributeHandle() const = 0;
    virtual GUID Uuid() const = 0;
    virtual Outcome<GattListing<GattCharacteristic>> GetCharacteristics() = 0;
};

class LeDevice
{
public:
    virtual ~LeDevice() = default;
    virtual Outcome<GattListing<GattDeviceService>> GetGattServices() = 0;
};

// Opens the LE device with this address (48 bits) and address type; null when Windows does not
// know it. Blocks for as long as Windows needs. Without simulation the class is not registered
// (0x80040154).
Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(std::uint64_t address, bool randomAddress);

} // namespace Pd::Platform
