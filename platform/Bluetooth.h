// Windows Bluetooth (a Windows Runtime service): what the bridge asks of the radio. Synchronous;
// every failure is an HRESULT with a text. The LE device, GATT and advertisement services join
// this interface with the LE links.
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

// A new watcher scanning in the given mode, not started. Without simulation the class is not
// registered (0x80040154).
Outcome<std::unique_ptr<AdvertisementWatcher>> CreateAdvertisementWatcher(ScanningMode mode);

} // namespace Pd::Platform
