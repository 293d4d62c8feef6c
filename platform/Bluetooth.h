// Windows Bluetooth (a Windows Runtime service): what the bridge asks of the radio. Synchronous;
// every failure is an HRESULT with a text.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
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

// ---- GATT operations on an open device ----
// Every operation waits for Windows' answer. A stop request cancels it (IAsyncInfo::Cancel) and
// it fails with HRESULT_FROM_WIN32(ERROR_CANCELLED). Operations added after the listings answer
// "unavailable" (E_NOTIMPL) where a build has no binding for them.

// The result of ReadValueAsync (cache mode Uncached): the value when the status is Success;
// ProtocolError carries the device's ATT error byte when Windows provides it.
struct GattReadResult
{
    GattStatus status = GattStatus::Success;
    std::optional<std::uint8_t> protocolError;
    std::vector<std::uint8_t> value;
};

// The result of a Write...WithResultAsync.
struct GattWriteResult
{
    GattStatus status = GattStatus::Success;
    std::optional<std::uint8_t> protocolError;
};

// Windows' GattWriteOption.
enum class GattWriteOption : std::int32_t
{
    WriteWithResponse = 0,
    WriteWithoutResponse = 1,
};

// Windows' GattClientCharacteristicConfigurationDescriptorValue.
enum class GattClientConfiguration : std::int32_t
{
    None = 0,
    Notify = 1,
    Indicate = 2,
};

// ReadClientCharacteristicConfigurationDescriptorAsync: the configuration when Success.
struct GattConfigurationResult
{
    GattStatus status = GattStatus::Success;
    std::optional<std::uint8_t> protocolError;
    GattClientConfiguration configuration = GattClientConfiguration::None;
};

// A ValueChanged event's value. Runs on a Windows thread, possibly shortly after removal.
using GattValueChangedHandler = std::function<void(const std::vector<std::uint8_t>& value)>;

class GattDescriptor
{
public:
    virtual ~GattDescriptor() = default;
    virtual std::uint16_t AttributeHandle() const = 0;
    virtual GUID Uuid() const = 0;

    virtual Outcome<GattReadResult> ReadValue(std::stop_token stop);
    virtual Outcome<GattWriteResult> WriteValueWithResult(const std::vector<std::uint8_t>& value,
                                                          std::stop_token stop);
};

class GattCharacteristic
{
public:
    virtual ~GattCharacteristic() = default;
    virtual std::uint16_t AttributeHandle() const = 0; // the declaration's handle
    virtual GUID Uuid() const = 0;
    virtual std::uint32_t Properties() const = 0; // Windows' GattCharacteristicProperties
    // The listings below ask the device; a stop request cancels them.
    virtual Outcome<GattListing<GattDescriptor>> GetDescriptors(std::stop_token stop) = 0;

    virtual Outcome<GattReadResult> ReadValue(std::stop_token stop);
    virtual Outcome<GattWriteResult> WriteValueWithResult(const std::vector<std::uint8_t>& value,
                                                          GattWriteOption option, std::stop_token stop);
    virtual Outcome<GattConfigurationResult> ReadClientCharacteristicConfigurationDescriptor(
        std::stop_token stop);
    virtual Outcome<GattWriteResult> WriteClientCharacteristicConfigurationDescriptorWithResult(
        GattClientConfiguration configuration, std::stop_token stop);

    // Registers the ValueChanged handler; the token removes it again. Once removal returned,
    // the handler no longer runs.
    virtual Outcome<std::int64_t> AddValueChanged(GattValueChangedHandler handler);
    virtual void RemoveValueChanged(std::int64_t token);
};

class GattDeviceService
{
public:
    virtual ~GattDeviceService() = default;
    virtual std::uint16_t AttributeHandle() const = 0;
    virtual GUID Uuid() const = 0;
    virtual Outcome<GattListing<GattCharacteristic>> GetCharacteristics(std::stop_token stop) = 0;
};

// Windows' GattSessionStatus.
enum class GattSessionStatus : std::int32_t
{
    Closed = 0,
    Active = 1,
};

// Runs on a Windows thread with the new status, possibly shortly after removal.
using GattSessionStatusHandler = std::function<void(GattSessionStatus status)>;

// The GATT session of a device (GattSession.FromDeviceIdAsync). Releasing it closes it.
class GattSession
{
public:
    virtual ~GattSession() = default;
    virtual Outcome<> SetMaintainConnection(bool maintain) = 0;
    virtual Outcome<GattSessionStatus> SessionStatus() = 0;
    // SessionStatusChanged; once removal returned, the handler no longer runs.
    virtual Outcome<std::int64_t> AddSessionStatusChanged(GattSessionStatusHandler handler) = 0;
    virtual void RemoveSessionStatusChanged(std::int64_t token) = 0;
};

// Windows' BluetoothConnectionStatus.
enum class BluetoothConnectionStatus : std::int32_t
{
    Disconnected = 0,
    Connected = 1,
};

// Windows' DevicePairingResultStatus numbers that the bridge tells apart; others pass as they
// come.
inline constexpr std::int32_t PairingPaired = 0;
inline constexpr std::int32_t PairingAlreadyPaired = 3;

// The device's DeviceInformation.Pairing, paired through Windows' ordinary pairing: Windows shows
// its own prompt, and only the user accepts.
class DeviceInformationPairing
{
public:
    virtual ~DeviceInformationPairing() = default;
    virtual Outcome<bool> IsPaired() = 0;
    virtual Outcome<bool> CanPair() = 0;
    // PairAsync: the DevicePairingResultStatus.
    virtual Outcome<std::int32_t> PairAsync(std::stop_token stop) = 0;
};

class LeDevice
{
public:
    virtual ~LeDevice() = default;
    virtual Outcome<GattListing<GattDeviceService>> GetGattServices(std::stop_token stop) = 0;

    virtual Outcome<BluetoothConnectionStatus> ConnectionStatus();
    // ConnectionStatusChanged, with the new status; once removal returned it no longer runs.
    virtual Outcome<std::int64_t> AddConnectionStatusChanged(
        std::function<void(BluetoothConnectionStatus)> handler);
    virtual void RemoveConnectionStatusChanged(std::int64_t token);

    // GattSession.FromDeviceIdAsync with the device's BluetoothDeviceId.
    virtual Outcome<std::shared_ptr<GattSession>> OpenGattSession(std::stop_token stop);

    // DeviceInformation.Pairing.
    virtual Outcome<std::shared_ptr<DeviceInformationPairing>> Pairing();
};

// Opens the LE device with this address (48 bits) and address type; null when Windows does not
// know it. Blocks for as long as Windows needs. Without simulation the class is not registered
// (0x80040154).
Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(std::uint64_t address, bool randomAddress);

// The same, cancelled by a stop request (HRESULT_FROM_WIN32(ERROR_CANCELLED)).
Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(std::uint64_t address, bool randomAddress,
                                                std::stop_token stop);

// The failure of an operation a stop request cancelled.
Error CancelledOperation();

} // namespace Pd::Platform
