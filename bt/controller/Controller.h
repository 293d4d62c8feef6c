// The emulated Bluetooth controller that Android's Bluetooth stack drives through one H4
// connection: answers HCI commands, reports events, carries ACL data for LE links.
#pragma once

#include "bt/controller/ControllerServices.h"
#include "bt/hci/Acl.h"
#include "bt/hci/Bytes.h"
#include "bt/hci/PacketType.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

namespace Pd::Bt
{

// Sends one HCI packet (without its H4 type byte) to Android; called from any thread.
using SendFunction = std::function<void(Hci::PacketType type, Bytes packet)>;

class Controller
{
public:
    Controller(SendFunction send, std::uint64_t adapterAddress, ControllerServices services = {});
    ~Controller();
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    // One command packet: opcode, parameter length, parameters. Answers it; never throws.
    void HandleCommand(ByteView packet);

    // One ACL packet from Android: acknowledged at once, then reassembled for its link.
    void HandleAclData(ByteView packet);

    void SendCommandComplete(std::uint16_t opcode, std::uint8_t status, ByteView returnParameters = {});
    void SendCommandStatus(std::uint16_t opcode, std::uint8_t status);
    void SendEvent(std::uint8_t code, ByteView parameters);
    void SendLeMetaEvent(std::uint8_t subevent, ByteView parameters);

    // Ends the wait of a connection attempt to the filter accept list and marks it cancelled.
    void CancelConnect();

    // Closes a link on a thread of its own; closing can wait long for Windows.
    void CloseLinkAsync(std::unique_ptr<LeLink> link) noexcept;

    // A received advertisement (from the scanner's thread).
    void OnAdvertisement(const Advertisement& advertisement);

    // The real device of a link went away.
    void OnLinkDisconnected(std::uint16_t handle, std::uint8_t reason);

    bool HasLink(std::uint16_t handle);

private:
    using CommandHandler = Bytes (*)(Controller&, ByteView);
    using SpecialCommand = void (Controller::*)(ByteView);

    struct Connection
    {
        std::unique_ptr<LeLink> link;
        AclReassembly reassembly;
        std::uint64_t peerAddress = 0;
    };

    struct ConnectRequest
    {
        std::uint32_t generation = 0;
        bool toFilterAcceptList = false;
        std::uint8_t ownAddressType = 0;
        std::uint8_t peerAddressType = 0;
        std::uint64_t peerAddress = 0;
        std::uint16_t intervalMin = 0;
        std::uint16_t maxLatency = 0;
        std::uint16_t supervisionTimeout = 0;
    };

    struct ConnectResult
    {
        std::uint8_t status = 0;
        std::uint16_t handle = 0;
        std::unique_ptr<LeLink> link;
    };

    void RegisterCommands();
    void Send(Hci::PacketType type, Bytes packet);
    static SpecialCommand FindSpecialCommand(std::uint16_t opcode);
    void RunSpecialCommand(std::uint16_t opcode, SpecialCommand command, ByteView parameters);
    void RunMapCommand(std::uint16_t opcode, CommandHandler handler, ByteView parameters);
    void AnswerUnsupported(std::uint16_t opcode, ByteView parameters);

    // Fixed and stored answers.
    Bytes Reset();
    Bytes WriteLocalName(ByteView parameters);
    Bytes ReadLocalName();
    Bytes ReadBdAddr() const;
    Bytes ReadLocalSupportedCommands() const;
    Bytes LeSetRandomAddress(ByteView parameters);
    Bytes LeEncrypt(ByteView parameters);
    Bytes LeRand();

    // Inquiry, connections and commands on a connection.
    void Inquiry(ByteView parameters);
    void InquiryCancel(ByteView parameters);
    void StopInquiry();
    void LeCreateConnection(ByteView parameters);
    void RunConnectWorker(const ConnectRequest& request) noexcept;
    ConnectResult AttemptConnection(const ConnectRequest& request);
    void FinishConnection(const ConnectRequest& request, ConnectResult result);
    Bytes LeCreateConnectionCancel();
    void Disconnect(ByteView parameters);
    void ReadRemoteVersionInformation(ByteView parameters);
    void LeConnectionUpdate(ByteView parameters);
    void LeReadRemoteFeatures(ByteView parameters);
    void LeStartEncryption(ByteView parameters);
    bool AnswerUnknownHandle(std::uint16_t opcode, std::uint16_t handle);
    void SendDisconnectionComplete(std::uint16_t handle, std::uint8_t reason);
    std::uint16_t AllocateHandle();
    Bytes LeConnectionComplete(const ConnectRequest& request, std::uint8_t status,
                               std::uint16_t handle) const;

    // Scanning, names and signal strength.
    Bytes LeSetScanParameters(ByteView parameters);
    Bytes LeSetScanEnable(ByteView parameters);
    Bytes ReadRssi(ByteView parameters);
    void RemoteNameRequest(ByteView parameters);
    void RemoteNameRequestCancel(ByteView parameters);

    SendFunction send_;
    const std::uint64_t adapterAddress_;
    ControllerServices services_;
    std::map<std::uint16_t, CommandHandler> handlers_;
    std::array<std::uint8_t, 64> supportedCommands_{};

    std::mutex stateLock_; // guards the name, the scan flags and the advertisement maps
    Bytes localName_;
    bool scanActive_ = true;
    bool scanEnabled_ = false;
    bool filterDuplicates_ = false;
    std::map<std::pair<std::uint64_t, std::uint8_t>, Bytes> reportedAdvertisements_;
    std::map<std::uint64_t, std::int8_t> rssiByAddress_;
    std::map<std::uint64_t, Bytes> nameByAddress_;

    std::unique_ptr<Scanner> scanner_;

    std::mutex linkLock_; // guards the link table and the next handle
    std::map<std::uint16_t, Connection> links_;
    std::uint16_t nextHandle_ = 0x0040;

    std::atomic<bool> connectPending_{false};
    std::atomic<bool> connectCancel_{false};
    std::mutex connectWaitLock_;
    std::condition_variable connectWait_;
    std::atomic<std::uint32_t> generation_{0};
    std::atomic<std::uint64_t> ownRandomAddress_{0};

    std::mutex closerLock_;
    std::condition_variable closersDone_;
    std::uint32_t closers_ = 0;
    std::vector<std::unique_ptr<LeLink>> unclosedLinks_; // no thread could be started to close them

    std::mutex inquiryLock_;
    std::condition_variable_any inquiryWake_;
    std::jthread connectWorker_;
    std::jthread inquiryWorker_;

    // Set when the command being dispatched got its Command Complete or Status.
    std::atomic<bool> answered_{false};
    // Work a command leaves to be done once its Command Complete went out, so that nothing it
    // starts can reach Android ahead of that answer. Only the session thread, which dispatches
    // commands, touches it.
    std::function<void()> afterAnswer_;
};

} // namespace Pd::Bt
