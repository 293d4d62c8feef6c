// The emulated Bluetooth controller that Android's Bluetooth stack drives through one H4
// connection: answers HCI commands, reports events, carries ACL data for LE links.
#pragma once

#include "bt/controller/CommandResult.h"
#include "bt/controller/ControllerServices.h"
#include "bt/controller/HandleAllocator.h"
#include "bt/controller/RecentTable.h"
#include "bt/hci/Acl.h"
#include "bt/hci/Bytes.h"
#include "bt/hci/PacketType.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

namespace Pd::Bt
{

// Sends one HCI packet (without its H4 type byte) to Android; called from any thread.
using SendFunction = std::function<void(Hci::PacketType type, Bytes packet)>;

class Controller;

namespace Test
{
struct ControllerProbe; // what tests see of the controller's internals
}

// How a command of the controller's table is answered.
enum class CommandAnswer : std::uint8_t
{
    Returns,     // the dispatch sends Command Complete with what the handler returns
    OwnStatus,   // the handler sends Command Status and its events itself
    OwnComplete, // the handler sends Command Complete itself
    // Not supported, and answered Unknown Command in the form its host waits for (no handler).
    UnknownComplete, // with Command Complete
    UnknownStatus,   // with Command Status
};

// What a failed Command Complete carries after its status, taken from the command's parameters,
// so that the host can tell which connection or device the failure is about.
enum class CommandEcho : std::uint8_t
{
    None,
    Handle,  // the connection handle of parameter bytes 0-1
    Address, // the Bluetooth address of parameter bytes 0-5
};

// One command the controller answers. Each command is registered once, in CommandEntries().
struct CommandEntry
{
    std::uint16_t opcode;
    CommandResult (*run)(Controller&, ByteView parameters); // null for the unsupported ones
    CommandAnswer answer;
    CommandEcho echo = CommandEcho::None;
    // The size of its return parameters after the status. A failure that echoes the handle or
    // address still fills them all (zeros after the echo): hosts parse the whole structure.
    std::uint8_t returnSize = 0;
};

// Lock order, outermost first: report lock, link lock, closer lock; the session's send lock is
// always taken last. The state lock is never held together with the report or link lock, and
// the connect wait lock is taken alone. Nothing calls out to a link or to the send function under
// the link lock or the closer lock; under the report lock only the link calls that never block
// for long (IsDisconnected, PushFromAndroid, DistributeKeys) and sends happen.
class Controller
{
public:
    Controller(SendFunction send, std::uint64_t adapterAddress, ControllerServices services = {});
    ~Controller();
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    // One command packet: opcode, parameter length, parameters. Answers it; never throws.
    void HandleCommand(ByteView packet);

    // One ACL packet from Android: acknowledged at once (unless its link holds the credit back),
    // then reassembled for its link.
    void HandleAclData(ByteView packet);

    // Command Complete carries the return parameters given, whatever the status.
    void SendCommandComplete(std::uint16_t opcode, std::uint8_t status, ByteView returnParameters = {});
    void SendCommandStatus(std::uint16_t opcode, std::uint8_t status);
    void SendEvent(std::uint8_t code, ByteView parameters);
    void SendLeMetaEvent(std::uint8_t subevent, ByteView parameters);

    // Ends the connection attempt under way, whether it waits for the filter accept list or in
    // Windows; an attempt that still makes its link reports status 0x02 and closes it.
    void CancelConnect();

    // Hands a removed link to the closer worker, which then holds its only share and releases
    // it; its handle is not handed out again until the link is closed. Never blocks and never
    // calls out.
    void CloseLinkAsync(std::uint16_t handle, std::shared_ptr<LeLink> link) noexcept;

    // A received advertisement (from the scanner's thread).
    void OnAdvertisement(const Advertisement& advertisement);

    // The real device of a link went away.
    void OnLinkDisconnected(std::uint16_t handle, std::uint8_t reason);

    // A link that held back ACL credits has room again: Android gets them back.
    void ReturnHeldCredits(std::uint16_t handle);

    bool HasLink(std::uint16_t handle);

    // Every command the controller answers, the unsupported ones with Unknown Command, and the
    // supported-commands bitmap the supported ones make.
    static std::span<const CommandEntry> CommandEntries();
    static std::array<std::uint8_t, 64> SupportedCommands();

private:
    friend struct Test::ControllerProbe;

    struct Connection
    {
        std::shared_ptr<LeLink> link;
        AclReassembly reassembly;
        std::uint64_t peerAddress = 0;
        std::uint32_t heldCredits = 0; // ACL packets acknowledged only once the link has room
        // The device's signal when the link was made, kept should the table of heard devices
        // let the device go while it is connected.
        std::optional<std::int8_t> rssiWhenConnected;
    };

    struct ClosingLink
    {
        std::uint16_t handle = 0;
        std::shared_ptr<LeLink> link;
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
        std::shared_ptr<LeLink> link;
    };

    template <CommandResult (Controller::*Handler)(ByteView)>
    static CommandResult Call(Controller& c, ByteView p)
    {
        return (c.*Handler)(p);
    }

    void Send(Hci::PacketType type, Bytes packet);
    void RunCommand(const CommandEntry& command, ByteView parameters);
    void AnswerUnsupported(std::uint16_t opcode, ByteView parameters, bool complete);
    void RunCloser(std::stop_token stop) noexcept;

    // Fixed and stored answers.
    CommandResult Reset(ByteView);
    CommandResult WriteLocalName(ByteView parameters);
    CommandResult ReadLocalName(ByteView);
    CommandResult ReadBdAddr(ByteView);
    CommandResult ReadLocalSupportedCommands(ByteView);
    CommandResult LeSetRandomAddress(ByteView parameters);
    CommandResult LeEncrypt(ByteView parameters);
    CommandResult LeRand(ByteView);

    // Inquiry, connections and commands on a connection.
    CommandResult Inquiry(ByteView parameters);
    CommandResult InquiryCancel(ByteView);
    void StopInquiry();
    CommandResult LeCreateConnection(ByteView parameters);
    void RunConnectWorker(const ConnectRequest& request, std::stop_token cancel) noexcept;
    ConnectResult AttemptConnection(const ConnectRequest& request, std::stop_token cancel);
    void FinishConnection(const ConnectRequest& request, ConnectResult result);
    CommandResult LeCreateConnectionCancel(ByteView);
    CommandResult Disconnect(ByteView parameters);
    CommandResult ReadRemoteVersionInformation(ByteView parameters);
    CommandResult LeConnectionUpdate(ByteView parameters);
    CommandResult LeReadRemoteFeatures(ByteView parameters);
    CommandResult LeStartEncryption(ByteView parameters);
    std::shared_ptr<LeLink> FindLink(std::uint16_t handle);
    void SendDisconnectionComplete(std::uint16_t handle, std::uint8_t reason);
    void SendCompletedPackets(std::uint16_t handle, std::uint32_t packets);
    std::optional<std::uint16_t> AllocateHandle();
    Bytes LeConnectionComplete(const ConnectRequest& request, std::uint8_t status,
                               std::uint16_t handle) const;

    // Scanning, names and signal strength.
    CommandResult LeSetScanParameters(ByteView parameters);
    CommandResult LeSetScanEnable(ByteView parameters);
    CommandResult ReadRssi(ByteView parameters);
    CommandResult RemoteNameRequest(ByteView parameters);
    CommandResult RemoteNameRequestCancel(ByteView parameters);

    SendFunction send_;
    const std::uint64_t adapterAddress_;
    ControllerServices services_;

    // What was last heard from an advertiser's address.
    struct Heard
    {
        std::int8_t rssi = 0;
        Bytes name; // empty until one is advertised
    };

    // The signal last heard from the address, if the table of heard devices still holds it.
    std::optional<std::int8_t> HeardRssi(std::uint64_t address);

    std::mutex stateLock_; // guards the name, the scan flags and the advertisement tables
    Bytes localName_;
    bool scanActive_ = true;
    bool scanEnabled_ = false;
    bool filterDuplicates_ = false;
    // Bounded, so that advertisers that rotate their addresses cannot grow the host: the one
    // heard longest ago goes first. The devices heard are kept for the controller's life, across
    // scans and Reset, as Remote Name Request and Read RSSI answer from them.
    RecentTable<std::pair<std::uint64_t, std::uint8_t>, Bytes> reportedAdvertisements_{1024};
    RecentTable<std::uint64_t, Heard> heard_{512};

    std::unique_ptr<Scanner> scanner_;

    // Held while a change of the link table is reported to Android (LE Connection Complete,
    // Disconnection Complete, Reset, the answers of commands on a connection, returned credits),
    // so that the events about one link leave in the order its table entry changed.
    std::mutex reportLock_;

    std::mutex linkLock_; // guards the link table and the handles
    std::map<std::uint16_t, Connection> links_;
    HandleAllocator handles_;

    std::atomic<bool> connectPending_{false};
    std::mutex connectWaitLock_;
    std::condition_variable_any connectWait_;
    std::atomic<std::uint32_t> generation_{0};
    std::atomic<std::uint64_t> ownRandomAddress_{0};

    std::mutex closerLock_; // guards the closing queue and the handles being torn down
    std::condition_variable_any closerWake_;
    std::deque<ClosingLink> closing_;
    std::vector<std::uint16_t> tearingDown_; // queued or being closed

    std::jthread connectWorker_; // stop requested = the attempt is cancelled
    std::jthread inquiryWorker_;
    std::jthread closer_; // started by the first connection attempt

    // Set when the command being dispatched got its Command Complete or Status.
    std::atomic<bool> answered_{false};
    // Work a command leaves to be done once its Command Complete went out, so that nothing it
    // starts can reach Android ahead of that answer. Only the session thread, which dispatches
    // commands, touches it.
    std::function<void()> afterAnswer_;
};

} // namespace Pd::Bt
