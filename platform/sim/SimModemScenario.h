// The scenario's mobile broadband modem (SimModem.cpp): "modem"; absent: the PC has none, and the
// interface manager cannot be created. Numbers are the Mobile Broadband service's own; HRESULTs are
// "0x" and 8 digits:
//
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

Pd::Result<> ReadModem(const Json::Value& modem, ScenarioModem& target);

} // namespace Pd::Platform::Sim
