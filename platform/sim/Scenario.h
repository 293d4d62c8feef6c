// The simulated PC, as scenario.json describes it (UTF-8; every key optional):
//
// {
//   "windows": {
//     "build": 22631, "ubr": 4169, "productName": "Windows 10 Pro", "displayVersion": "23H2",
//     "virtualMachinePlatform": true,     // true or false; absent or null: WMI cannot answer
//     "dismExitCode": 3010                // what dism.exe ends with (default 0); 0 and 3010 switch
//   },                                    // the feature, anything else leaves it as it was
//   "computeSystems": [                   // the Host Compute Service's listing, in this order
//     {
//       "id": "2B1B9D9E-...",             // listed as written (need not be a valid GUID)
//       "owner": "TovikAndroid", "systemType": "VirtualMachine", "state": "Running",
//       "exitAfterMs": 500,               // ends this long after it was first listed
//       "shutdown": true,                 // ends when Android is asked to shut down ...
//       "shutdownDelayMs": 0,             // ... this long after the request
//       "terminate": "works",             // works | refused | fails | ignored | endedFirst
//       "account": "current",             // whose VM it is: "current" (this process's user, the
//                                         // default), a SID text, or "" (the owner names none);
//                                         // listed as the owner followed by the SID
//       "services": { "544B4650": 50124 } // its own guest services (default: the scenario's)
//     }
//   ],
//   "services": { "544B4254": 50123 },    // vsock port (hex) -> loopback TCP port of the peer
//   "packages": [                         // registered packages, in enumeration order
//     {
//       "name": "TovikPackage", "publisherId": "...", "version": "1.2.3.4",
//       "architecture": "x64", "installLocation": "C:\\Tovik",   // absent: unreadable
//       "developmentMode": true,
//       "users": ["current", "S-1-5-21-..."], // accounts holding it; "current" is this one
//       "keepsRegistration": true         // registering its name from another folder fails
//     }
//   ],
//   "packageWalkFailsAfter": 2,          // package walks fail after this many packages
//   "publisherIds": { "CN=Ormel": "tv9kp7a3nqe2r" },  // publisher -> id of registered packages
//   "deploymentFailures": {              // these deployments fail with this HRESULT
//     "add": "0x80073CF9", "register": "0x80073CF6", "remove": "0x80073CFA"
//   },
//   "appSettings": {                     // local settings values per package family
//     "TovikPackage_tv9kp7a3nqe2r": { "DeveloperModeEnabled": true }
//   },
//   "bluetooth": {
//     "adapter": "001A7DDA7113",         // the default adapter's address (12 hex digits);
//                                        // absent: the PC has no Bluetooth adapter
//     "advertisers": [ ... ],            // LE advertisers around the PC (below)
//     "devices": [ ... ]                 // LE devices Windows can open, with their GATT (below)
//   },
//   "hello": {                           // Windows Hello; members default to 0 (absent: no device)
//     "availability": 0,                 // what the availability check answers: 0-4 (any whole
//                                        // number passes as Windows hands it) or "fails"
//     "result": 0,                       // how every prompt ends: 0-6, or "fails"
//     "promptMs": 1500,                  // how long a prompt stays open before it ends
//     "readers": 1                       // biometric readers plugged in (default 0): each one
//   },                                   // that arrives or leaves notifies the device watches
//   "network": {                         // the connectivity hint (absent: unavailable, as in Wine)
//     "connectivity": "internet",        // unknown | none | local | internet | constrained |
//                                        // hidden, or "fails" (the hint cannot be read)
//     "changes": 0                       // raise it to notify a change that keeps the level
//   },
//   "shell": {
//     "opensPages": true,                // false: the desktop shell opens nothing (pages, files,
//                                        // folders, programs)
//     "schemes": ["http", "https"]       // the address schemes a program opens (this default);
//   },                                   // the shell refuses an address of another one (1155)
//   "trust": {                           // the publisher this PC trusts in place of the
//     "publisher": "Peldra Test ...",    // program's own: the leaf's simple name, the root
//     "rootPrefix": "Peldra Test Code ", // name's prefix and the root keys (SHA-256 of the DER
//     "rootKeys": ["89fe...", "..."]     // SubjectPublicKeyInfo); absent: it trusts nobody
//   }
// }
//
// A dism run with exit code 0 or 3010 sets Virtual Machine Platform to what it asked for, in
// state.json ("features"), which then overrides "virtualMachinePlatform"; every run's command
// line is kept there too ("dismRuns"), in order.
//
// While the folder holds a file named deployments.hold, every deployment waits before it changes
// anything (a test ends a run there, then removes the file).
// Deployments keep the changed package list in state.json ("packages", the scenario's form),
// which from then on stands in for the scenario's; settings values likewise ("appSettings").
// A registration reads the Identity element (Name, Publisher, Version, ProcessorArchitecture)
// and the PackageDependency elements of the AppxManifest.xml it is given; a simulated package
// file (.appx) holds the text of its manifest. A publisher without an entry in "publisherIds"
// gets the first 13 hexadecimal digits of the SHA-256 of its name as its id.
//
// LE advertisers, each heard by a running advertisement watcher when it starts and then every
// everyMs (default 100) on the watcher's own delivery thread, as Windows delivers them:
//   { "address": "C0FFEE000001", "random": true,  // 12 hex digits; random address (default false)
//     "type": 0,                      // Windows' advertisement type number, 5 extended (default 0)
//     "connectable": true, "scannable": false,    // what an extended advertisement says
//     "rssi": -60,                    // raw signal strength in dBm (default -60)
//     "sections": [{"type": 9, "hex": "4B6579"}], // data sections in order: AD type, bytes
//     "everyMs": 100 }
//
// LE devices with their GATT databases, opened by address and address type:
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
//
// Every Windows Hello prompt is kept in state.json ("helloPrompts": its text and whether it had
// an owner window), so that a test can see what was shown. A prompt cancelled before promptMs
// ends as canceled; without a "hello" key the check and every prompt answer 1 (device not present).
//
// A compute system ends for good (also for other processes) when it is terminated, shut down
// or its exitAfterMs passes; a stopped one is no longer listed. Terminate modes: "refused"
// rejects the request, "fails" accepts it and then reports failure, "ignored" succeeds without
// ending the system, "endedFirst" has the system end by itself just before the request, which
// then fails as the real service fails for a system that is gone.
//
// Watchers of the connectivity hint are told once at once, and then whenever "network" changes
// (level, failure or "changes"), as soon as scenario.json is replaced. Everything the desktop shell
// opens for the user is kept in state.json ("openedPages"), in order; a program is also started.
//
// Cellular access points ("cellular"; absent: the PC has no cellular modem and every acquisition
// fails with "class not registered"):
//   "cellular": {
//     "acquire": "opens",       // opens | noSession (completes without a session) | noAdapter
//                               // (a session without an adapter) | canceled | "0x80070490"
//                               // (fails with that HRESULT)
//     "acquireMs": 0,           // how long an acquisition takes; a stop request cancels it
//     "adapter": "loopback",    // the opened access point's interface: "loopback" (this PC's
//                               // loopback interface, so that traffic stays on 127.0.0.1 and ::1)
//                               // or a GUID in braces
//     "closeFails": false,      // closing a session fails
//     "names": { "mms.example": ["127.0.0.1", "::1"] }  // what the access point's DNS servers
//   }                           // answer: A records from the IPv4 entries, AAAA from the IPv6 ones
// Every acquisition that opens a session is kept in state.json ("apnSessions": the access point,
// user, password, authentication type number and whether the session was closed), in order.
//
// The mobile broadband modem ("modem"; absent: the PC has none, and the interface manager cannot
// be created). Numbers are the Mobile Broadband service's own; HRESULTs are "0x" and 8 digits:
//   "modem": {
//     "imei": "490154203237518", "simReady": true,     // MBN_READY_STATE_INITIALIZED or not
//     "iccid": "89014103211118510720", "imsi": "310410123456789",
//     "registerState": 3,       // MBN_REGISTER_STATE: 2 searching, 3 home, 4 roaming, 6 denied
//     "providerId": "310410", "providerName": "Nordwind",
//     "dataClass": 32,          // MBN_DATA_CLASS bits of the current data class (32: LTE)
//     "signal": 20,             // GetSignalStrength (0-31; 99 unknown)
//     "serviceCentre": "+31624000000",
//     "registration": true, "signalInterface": true, "smsInterface": true,  // false: the
//                               // interface does not answer for that part (no SMS: no modem)
//     "gone": false,            // the modem was pulled out: no interface is listed, and every
//                               // call on one opened before fails with 0x800710DF
//     "changes": [              // later states, each counted from when this process opened the
//       { "afterMs": 500, "registerState": 4, "signal": 12, "dataClass": 8, "gone": true } ],
//                               // modem; a change holds the keys above that it changes
//     "store": [ { "index": 1, "status": 0, "pdu": "0791..." } ],   // the message store at
//                               // first (status 0 new, 1 old, 2 draft, 3 sent)
//     "capacity": 20,           // the store reports itself full at this many messages
//     "incoming": [ { "pdu": "0791...", "class0": false } ],  // messages the network delivers,
//                               // once each, while a process has the modem open: stored and
//                               // announced by a status change (class 0: handed in an event of
//                               // their own, not stored); a test may append entries at run time
//     "sendCall": "0x80070057", // SmsSendPdu fails at once with this HRESULT
//     "send": "sent",           // how a send completes: sent, silent (never) or an HRESULT
//     "sendMs": 0,              // how long a send takes to complete
//     "readCall": "0x...",      // SmsRead fails at once
//     "read": "answers",        // how a read completes: answers, silent or an HRESULT
//     "readParts": 1,           // a read's messages come in this many completions, at once
//                               // from as many threads
//     "deleteStatus": "0x..."   // deletes complete with this failure (the message stays)
//   }
// Events reach the sinks advised on the modem's connection points only. The message store, once
// changed (a delete, an incoming message), is kept in state.json ("modemStore"), with the number
// of "incoming" entries taken so far ("modemIncoming") and every PDU sent ("modemSent").
//
// Windows' SMS router ("smsRouter"; absent: every call fails with "class not registered"):
//   "smsRouter": {
//     "registerFails": "0x80070005",     // registering fails with this HRESULT
//     "registrations": ["Peldra"],       // ids registered before the program runs (earlier runs)
//     "messages": [                      // what the router hands every registration, each on
//       { "type": 2,                     // the router's own thread afterMs after the registration;
//         "from": "+4915112345678",      // type is SmsMessageType's number (2 WAP), all are
//         "contentType": "application/vnd.wap.mms-message",    // delivered whatever the type,
//         "hex": "8C82...",              // the body; timestamp in 100-ns units since 1601;
//         "timestamp": 133497000000000000, "afterMs": 200,     // readFails: reading the message
//         "readFails": "0x8000000E" } ]  // fails with this HRESULT
//   }
// Messages appended to the list while a registration lives reach it too, at once when their
// afterMs is past.
// The registrations as they stand are kept in state.json ("smsRegistrations", ids in order);
// they outlive the program, as the router's do.
#pragma once

#include "core/Json.h"
#include "core/Result.h"
#include "platform/Bluetooth.h"

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Pd::Platform::Sim
{

enum class TerminateMode
{
    Works,
    Refused,
    Fails,
    Ignored,
    EndedFirst,
};

struct ScenarioWindows
{
    std::uint32_t build = 0;
    std::uint32_t ubr = 0;
    std::wstring productName;
    std::wstring displayVersion;
    std::optional<bool> virtualMachinePlatform;
    std::uint32_t dismExitCode = 0;
};

struct ScenarioComputeSystem
{
    std::wstring id;
    std::wstring owner;
    std::wstring systemType = L"VirtualMachine";
    std::wstring state = L"Running";
    std::optional<std::uint64_t> exitAfterMs;
    bool shutdown = true;
    std::uint64_t shutdownDelayMs = 0;
    TerminateMode terminate = TerminateMode::Works;
    std::wstring account = L"current"; // whose VM it is: "current", a SID text, or "" for none
    std::optional<std::map<std::uint32_t, std::uint16_t>> services; // its own, else the scenario's

    // The owner text the listing shows: the owner, then the account's SID ("current" stands for
    // this process's user) when there is one.
    std::wstring ListedOwner() const;

    // The id read as a GUID, when it is one.
    std::optional<GUID> Guid() const;
};

struct ScenarioPackage
{
    std::wstring name;
    std::wstring publisherId;
    std::uint16_t version[4] = {};
    std::wstring architecture = L"x64";
    std::optional<std::wstring> installLocation;
    bool developmentMode = false;
    std::vector<std::wstring> users; // SIDs as text, or "current"
    bool keepsRegistration = false;
};

// An LE device that advertises around the simulated PC.
struct ScenarioAdvertiser
{
    std::uint64_t address = 0;
    bool random = false;
    std::int32_t type = 0; // Pd::Platform::AdvertisementType's number
    bool connectable = false;
    bool scannable = false;
    std::int16_t rssi = -60;
    std::vector<AdvertisementSection> sections;
    std::uint32_t everyMs = 100;
};

// ---- LE devices and their GATT databases ----

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

struct ScenarioBluetooth
{
    std::uint64_t adapter = 0; // 0: no adapter
    std::vector<ScenarioAdvertiser> advertisers;
    std::vector<ScenarioLeDevice> devices;
};

// One Windows Hello answer: a value as Windows hands it, or a failed call.
struct ScenarioHelloAnswer
{
    std::uint32_t value = 0;
    bool fails = false;
};

struct ScenarioHello
{
    ScenarioHelloAnswer availability{1}; // device not present
    ScenarioHelloAnswer result{1};
    std::uint32_t promptMs = 0;
    std::uint32_t readers = 0;
};

// The cellular modem's access points; present only with a "cellular" key.
struct ScenarioCellular
{
    bool present = false;
    std::wstring acquire = L"opens"; // opens | noSession | noAdapter | canceled | "0x..." HRESULT
    std::uint32_t acquireMs = 0;
    std::optional<GUID> adapter; // absent: the loopback interface
    bool closeFails = false;
    std::map<std::wstring, std::vector<std::wstring>> names; // host -> addresses as text
};

// What the simulated modem reports at one moment.
struct ScenarioModemRadio
{
    std::wstring imei;
    bool simReady = true;
    std::wstring iccid;
    std::wstring imsi;
    std::uint32_t registerState = 0;
    std::wstring providerId;
    std::wstring providerName;
    std::uint32_t dataClass = 0;
    std::uint32_t signal = 99;
    std::wstring serviceCentre;
    bool gone = false;

    bool operator==(const ScenarioModemRadio&) const = default;
};

struct ScenarioModemChange
{
    std::uint64_t afterMs = 0;
    ScenarioModemRadio radio; // the whole state from then on
};

struct ScenarioStoredSms
{
    std::uint32_t index = 0;
    std::uint32_t status = 0;
    std::wstring pdu;
};

struct ScenarioIncomingSms
{
    std::wstring pdu;
    bool class0 = false;
};

// The mobile broadband modem; present only with a "modem" key.
struct ScenarioModem
{
    bool present = false;
    ScenarioModemRadio radio;
    std::vector<ScenarioModemChange> changes; // in the order written
    bool registration = true;
    bool signalInterface = true;
    bool smsInterface = true;
    std::vector<ScenarioStoredSms> store;
    std::uint32_t capacity = 20;
    std::vector<ScenarioIncomingSms> incoming;
    std::optional<HRESULT> sendCall;
    std::wstring send = L"sent"; // sent | silent | an HRESULT as text
    std::uint32_t sendMs = 0;
    std::optional<HRESULT> readCall;
    std::wstring read = L"answers"; // answers | silent | an HRESULT as text
    std::uint32_t readParts = 1;
    std::optional<HRESULT> deleteStatus;
};

// A message of Windows' SMS router; see "smsRouter" above.
struct ScenarioSmsMessage
{
    std::int32_t type = 2;
    std::wstring from;
    std::wstring contentType;
    std::vector<std::uint8_t> body;
    std::uint64_t timestamp = 0;
    std::uint32_t afterMs = 0;
    std::optional<HRESULT> readFails;
};

// Windows' SMS router; present only with a "smsRouter" key.
struct ScenarioSmsRouter
{
    bool present = false;
    std::optional<HRESULT> registerFails;
    std::vector<std::wstring> registrations;
    std::vector<ScenarioSmsMessage> messages;
};

// The connectivity hint; present only with a "network" key.
struct ScenarioNetwork
{
    bool present = false;
    std::int32_t level = 0; // Pd::Platform::ConnectivityLevel's number
    bool fails = false;
    std::uint64_t changes = 0;

    bool operator==(const ScenarioNetwork&) const = default;
};

// The trusted publisher's pins (Pd::Core::PublisherPins in the product's terms).
struct ScenarioTrust
{
    std::wstring publisher;
    std::wstring rootPrefix;
    std::vector<std::wstring> rootKeys;
};

struct Scenario
{
    ScenarioWindows windows;
    std::vector<ScenarioComputeSystem> computeSystems;
    std::map<std::uint32_t, std::uint16_t> services; // vsock port -> loopback TCP port
    std::vector<ScenarioPackage> packages;
    std::optional<std::size_t> packageWalkFailsAfter;
    std::map<std::wstring, std::wstring> publisherIds;
    std::map<std::wstring, HRESULT> deploymentFailures; // "add", "register", "remove"
    Json::Value appSettings;                            // family -> object of values
    ScenarioBluetooth bluetooth;
    ScenarioHello hello;
    ScenarioCellular cellular;
    ScenarioModem modem;
    ScenarioSmsRouter smsRouter;
    ScenarioNetwork network;
    bool opensWebPages = true;
    std::vector<std::wstring> shellSchemes{L"http", L"https"}; // address schemes a program opens
    ScenarioTrust trust;
};

// Reads the scenario from its JSON; an error names the first key that is wrong.
Pd::Result<Scenario> ParseScenario(const Json::Value& document);

// One entry of "packages", read and written in the same form (state.json keeps the list).
Pd::Result<ScenarioPackage> ParsePackage(const Json::Value& entry);
Json::Value PackageJson(const ScenarioPackage& package);

// "0x80070057": a failure HRESULT in the scenario's form.
std::optional<HRESULT> ParseFailureHresult(std::wstring_view text);

// Reads "<folder>/scenario.json". A scenario that cannot be read is reported once (program
// log) and gives the empty PC.
Scenario LoadScenario(const std::filesystem::path& folder);

} // namespace Pd::Platform::Sim
