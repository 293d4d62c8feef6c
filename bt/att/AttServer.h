// The ATT server of one LE link: answers discovery from the mirrored attribute table, carries
// reads and writes to the real device, keeps the prepare-write queue and the MTU, and passes
// the device's notifications and indications on with one indication outstanding at a time.
//
// HandlePdu runs on the link's worker only. QueueNotification and Mtu may run on any thread;
// the send callback is then called from that thread too, and the indication lock is held
// while it runs (indication lock before the caller's send lock).
#pragma once

#include "bt/att/AttDevice.h"
#include "bt/gatt/Database.h"
#include "bt/Result.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace Pd::Bt
{

// Sends one ATT PDU to the client (L2CAP CID 4).
using AttSend = std::function<void(Bytes pdu)>;

class AttServer
{
public:
    // The database and the device must outlive the server.
    AttServer(const GattDatabase& database, AttDevice& device, AttSend send);

    // Handles one PDU from the client and sends its answer; only requests are answered (an
    // indication is confirmed). A request shorter than its opcode's fixed part is answered with
    // Invalid PDU. The error is the text of a device call that could not run; it has been
    // answered already.
    Result<> HandlePdu(ByteView pdu);

    // A value change of the characteristic value at this handle: sent at once as a
    // notification, or as an indication when none is outstanding, else queued (the 64 newest
    // wait). The value is cut to MTU - 3.
    void QueueNotification(std::uint16_t valueHandle, ByteView value, bool indicate);

    std::uint16_t Mtu() const { return mtu_.load(); }

    // How the server takes one opcode. Each opcode it knows has one row, in AttOpcodes.cpp; of
    // the others, a request is answered with Request Not Supported and a command is ignored.
    struct OpcodeRow
    {
        std::uint8_t opcode;
        bool request;          // answered: with its response, or with an Error Response
        std::uint8_t shortest; // its fixed part: a shorter request is answered with Invalid PDU
        Result<> (AttServer::*handle)(ByteView pdu); // null: a response or notification, ignored
    };
    static const OpcodeRow* FindOpcode(std::uint8_t opcode);

private:
    struct Fragment
    {
        std::uint16_t offset = 0;
        Bytes value;
    };
    struct PreparedWrite
    {
        std::uint16_t handle = 0;
        std::vector<Fragment> fragments; // arrival order
    };

    // Sends an Error Response, which answers the request.
    Result<> SendError(std::uint8_t request, std::uint16_t handle, std::uint8_t code);

    // The handlers of the opcode table. Discovery (AttDiscovery.cpp):
    bool CheckRange(std::uint8_t request, std::uint16_t start, std::uint16_t end);
    Result<> FindInformation(ByteView pdu);
    Result<> FindByTypeValue(ByteView pdu);
    Result<> ReadByType(ByteView pdu);
    Result<> ReadByGroupType(ByteView pdu);
    std::vector<const AttributeEntry*> InRange(std::uint16_t start, std::uint16_t end) const;

    // Values on the device:
    DeviceAnswer ReadAttribute(const AttributeEntry& entry);
    Result<bool> WriteAttribute(std::uint16_t handle, ByteView value, std::uint8_t request);
    DeviceAnswer WriteToDevice(std::uint16_t handle, ByteView value, bool withResponse);
    Result<> ExchangeMtu(ByteView pdu);
    Result<> Read(ByteView pdu);
    // Whether a write's PDU fits the MTU and its value, up to valueEnd, the longest attribute.
    bool WriteFits(ByteView pdu, std::size_t valueEnd) const;
    Result<> Write(ByteView pdu);
    Result<> PrepareWrite(ByteView pdu);
    Result<> ExecuteWrite(ByteView pdu);

    // Indications: the client confirmed ours; the client's own server sent one.
    Result<> Confirmation(ByteView pdu);
    Result<> ConfirmIndication(ByteView pdu);

    const GattDatabase& database_;
    AttDevice& device_;
    AttSend send_;
    std::atomic<std::uint16_t> mtu_;

    std::vector<PreparedWrite> prepared_; // in the order each handle was first prepared
    std::size_t preparedBudget_ = 0;

    std::mutex indicationLock_;
    bool indicationOutstanding_ = false;
    std::deque<Bytes> waitingIndications_;
};

} // namespace Pd::Bt
