// The scenario's LE devices ("bluetooth" "devices") with their GATT databases, opened by address
// and address type (SimLeDevice.cpp, with the waits and timed events of SimGattOperations.cpp):
//
//   { "address": "C0FFEE000001", "random": true, "name": "Thermometer",
//     "servicesStatus": 0,            // Windows' GattCommunicationStatus of the service listing
//     "servicesError": "0x80070005",  // the service listing fails with this HRESULT instead
//     "services": [
//       { "uuid": "180F",             // 4 hex digits (a 16-bit UUID) or the 36-character GUID
//         "handle": 1,                // optional, see below
//         "status": 0,                // status of its characteristic listing
//         "characteristics": [
//           { "uuid": "2A19", "handle": 2, "properties": 18, "status": 0,   // of its descriptors
//             "descriptors": [{ "uuid": "2902", "handle": 4 }] } ] } ] }
// Values, answers and behaviour over time (all optional):
//   characteristic: "value": "6400" (hex bytes; writes replace it), "readStatus": 2 and
//     "readError": 5 (how reads end: GattCommunicationStatus, ATT error of a ProtocolError),
//     "writeStatus"/"writeError" likewise, "changes": ["01", "02"] (values taken in turn, one
//     every "changeEveryMs" (default 100), while its CCCD is set to notify or indicate, each
//     raising ValueChanged);
//   descriptor: "value": "4B6579";
//   device: "operationMs": 50 (every GATT operation and the opening take this long),
//     "hangs": ["open", "session", "discover", "read", "write", "configure", "pair"] (these never
//     complete; only a cancel ends them; "discover" is every listing of the database),
//     "disconnectAfterMs": 500 (the session closes and the device disconnects this long after the
//     session opened; then every operation is Unreachable), "pairing": { "paired": false,
//     "canPair": true, "result": 0, "ms": 0 } (a pairing ends after ms with this
//     DevicePairingResultStatus: 0 paired, 7 timed out, 9 refused...).
// Listings come in the order written. Without a "handle", an attribute takes the next one after
// what precedes it in the file, as a GATT server numbers them: a service the next handle, a
// characteristic the next (its value the one after), a descriptor the next; the first is 1.
#pragma once

#include "core/Json.h"
#include "core/Result.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Pd::Platform::Sim
{

// How the device answers one kind of operation: a GattCommunicationStatus, and for
// ProtocolError the ATT error byte (none: Windows gives none).
struct ScenarioGattAnswer
{
    std::int32_t status = 0;
    std::optional<std::uint8_t> protocolError;
};

struct ScenarioGattDescriptor
{
    std::uint16_t handle = 0;
    GUID uuid{};
    std::vector<std::uint8_t> value;
};

struct ScenarioGattCharacteristic
{
    std::uint16_t handle = 0;
    GUID uuid{};
    std::uint32_t properties = 0;
    std::int32_t status = 0; // of the descriptor listing
    std::vector<ScenarioGattDescriptor> descriptors;
    std::vector<std::uint8_t> value;
    ScenarioGattAnswer read;
    ScenarioGattAnswer write;
    std::vector<std::vector<std::uint8_t>> changes; // the values it takes in turn while configured
    std::uint32_t changeEveryMs = 100;
};

struct ScenarioGattService
{
    std::uint16_t handle = 0;
    GUID uuid{};
    std::int32_t status = 0; // of the characteristic listing
    std::vector<ScenarioGattCharacteristic> characteristics;
};

struct ScenarioLeDevice
{
    std::uint64_t address = 0;
    bool random = false;
    std::wstring name;
    std::int32_t servicesStatus = 0;
    std::optional<HRESULT> servicesError;
    std::vector<ScenarioGattService> services;
    std::uint32_t operationMs = 0;       // how long every GATT operation and the opening take
    std::vector<std::wstring> hangs;     // operations that never complete until cancelled
    std::uint32_t disconnectAfterMs = 0; // 0: the device stays
    bool paired = false;
    bool canPair = true;
    std::int32_t pairingResult = 0; // DevicePairingResultStatus of a pairing
    std::uint32_t pairingMs = 0;
};

// The "devices" of the "bluetooth" object.
Pd::Result<> ReadLeDevices(const Json::Value& bluetooth, std::vector<ScenarioLeDevice>& target);

} // namespace Pd::Platform::Sim
