// The connection side of the controller: the inquiry that never finds a device, LE connection
// attempts on the connect worker, the link table, disconnection from either side, the commands
// on an existing connection and the ACL data of the links.
#include "bt/controller/Controller.h"

#include "bt/controller/Opcodes.h"
#include "bt/hci/Events.h"
#include "core/Log.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>

namespace Pd::Bt
{
namespace
{

constexpr std::uint8_t ConnectionLimitExceeded = 0x09; // every handle is in use or being torn down

// Callers check that the parameters hold the two bytes.
std::uint16_t HandleAt(ByteView parameters)
{
    return ReadLe16(parameters, 0) & 0x0FFF;
}

} // namespace

CommandResult Controller::Inquiry(ByteView parameters)
{
    int length = parameters.size() >= 4 ? parameters[3] : 1;
    auto duration = std::chrono::milliseconds(std::min(length * 1280, 10240));
    SendCommandStatus(Op::Inquiry, Hci::Status::Success);
    StopInquiry();
    try
    {
        inquiryWorker_ = std::jthread([this, duration](std::stop_token stop) {
            try
            {
                if (services_.wait(stop, duration))
                    SendEvent(Hci::Event::InquiryComplete, Bytes{0x00});
            }
            catch (...)
            {
                // Out of memory: the inquiry's end cannot be reported; the session goes on.
            }
        });
    }
    catch (const std::exception& error)
    {
        // Android waits for the inquiry's end: tell it that this one failed.
        Core::Log(fmt::format("hci: command 0x{:04X} failed: {}", Op::Inquiry, error.what()));
        SendEvent(Hci::Event::InquiryComplete, Bytes{Hci::Status::HardwareFailure});
    }
    return {};
}

CommandResult Controller::InquiryCancel(ByteView)
{
    StopInquiry();
    SendCommandComplete(Op::InquiryCancel, Hci::Status::Success);
    return {};
}

void Controller::StopInquiry()
{
    inquiryWorker_.request_stop();
    if (inquiryWorker_.joinable())
        inquiryWorker_.join();
}

std::optional<std::uint16_t> Controller::AllocateHandle()
{
    std::lock_guard guard(linkLock_);
    std::lock_guard closers(closerLock_);
    // A handle still in the table or whose link is still being torn down is skipped: Android
    // must never see two connections under one handle.
    return handles_.Next([this](std::uint16_t handle) {
        return links_.contains(handle) ||
               std::find(tearingDown_.begin(), tearingDown_.end(), handle) != tearingDown_.end();
    });
}

CommandResult Controller::LeCreateConnection(ByteView parameters)
{
    if (parameters.size() < 21)
        return ParametersTooShort();
    ConnectRequest request;
    request.toFilterAcceptList = parameters[4] != 0;
    request.peerAddressType = parameters[5];
    request.peerAddress = ReadAddress(parameters, 6);
    request.ownAddressType = parameters[12];
    request.intervalMin = ReadLe16(parameters, 13);
    request.maxLatency = ReadLe16(parameters, 17);
    request.supervisionTimeout = ReadLe16(parameters, 19);

    if (connectPending_)
    {
        SendCommandStatus(Op::LeCreateConnection, Hci::Status::CommandDisallowed);
        return {};
    }
    // The previous worker has reported its attempt but may still be on its way out: join it
    // before the new attempt is marked pending. Only this thread marks an attempt pending, and
    // each attempt has a stop source of its own, so a late cancel cannot reach the new one.
    if (connectWorker_.joinable())
        connectWorker_.join();
    // Links exist only from here on: the worker that closes them starts with the first attempt.
    if (!closer_.joinable())
        closer_ = std::jthread([this](std::stop_token stop) { RunCloser(stop); });
    connectPending_ = true;
    SendCommandStatus(Op::LeCreateConnection, Hci::Status::Success);
    request.generation = generation_;
    try
    {
        connectWorker_ =
            std::jthread([this, request](std::stop_token cancel) { RunConnectWorker(request, cancel); });
    }
    catch (const std::exception& error)
    {
        // Android waits for the attempt's end: report it failed, and let the next one start.
        Core::Log(fmt::format("hci: command 0x{:04X} failed: {}", Op::LeCreateConnection, error.what()));
        SendLeMetaEvent(Hci::LeSubevent::ConnectionComplete,
                        LeConnectionComplete(request, Hci::Status::HardwareFailure, 0));
        connectPending_ = false;
    }
    return {};
}

void Controller::RunConnectWorker(const ConnectRequest& request, std::stop_token cancel) noexcept
{
    try
    {
        ConnectResult result;
        try
        {
            result = AttemptConnection(request, cancel);
        }
        catch (const std::exception& error)
        {
            Core::Log(fmt::format("le: connection to {:012X} failed: {}", request.peerAddress, error.what()));
            CloseLinkAsync(result.handle, std::move(result.link));
            result.status = Hci::Status::ConnectionFailed;
        }
        FinishConnection(request, std::move(result));
    }
    catch (...)
    {
        // Out of memory while reporting: the attempt is over all the same.
    }
    connectPending_ = false;
}

Controller::ConnectResult Controller::AttemptConnection(const ConnectRequest& request, std::stop_token cancel)
{
    if (request.toFilterAcceptList)
    {
        // No device is sought for the filter accept list: the attempt lasts until cancelled.
        std::unique_lock guard(connectWaitLock_);
        connectWait_.wait(guard, cancel, [] { return false; });
        return {Hci::Status::UnknownConnection, 0, nullptr};
    }

    ConnectResult result;
    std::optional<std::uint16_t> free = AllocateHandle();
    if (!free)
        return {ConnectionLimitExceeded, 0, nullptr};
    std::uint16_t handle = result.handle = *free;
    Core::Log(fmt::format("le: connecting to {:012X}", request.peerAddress));
    bool ownRandom = request.ownAddressType & 0x01;
    LinkAddresses addresses{ownRandom ? ownRandomAddress_.load() : adapterAddress_, ownRandom,
                            request.peerAddress, (request.peerAddressType & 0x01) != 0};
    LinkSend send = [this, handle](std::uint16_t cid, Bytes payload) {
        for (Bytes& packet : FragmentL2cap(handle, cid, payload))
            Send(Hci::PacketType::Acl, std::move(packet));
    };
    LinkDisconnected onDisconnect = [this, handle](std::uint8_t reason) {
        OnLinkDisconnected(handle, reason);
    };
    LinkCreditsFreed creditsFreed = [this, handle] { ReturnHeldCredits(handle); };

    result.status = Hci::Status::ConnectionFailed;
    if (services_.connectLink)
        result.link = services_.connectLink(addresses, std::move(send), std::move(onDisconnect),
                                            std::move(creditsFreed), result.status, cancel);
    if (!result.link)
    {
        if (result.status == Hci::Status::Success)
            result.status = Hci::Status::ConnectionFailed;
        return result;
    }
    if (cancel.stop_requested())
    {
        CloseLinkAsync(handle, std::move(result.link));
        result.status = Hci::Status::UnknownConnection;
        return result;
    }
    result.status = Hci::Status::Success;
    return result;
}

Bytes Controller::LeConnectionComplete(const ConnectRequest& request, std::uint8_t status,
                                       std::uint16_t handle) const
{
    bool connected = status == Hci::Status::Success;
    Bytes event{status};
    Hci::AppendHandle(event, connected ? handle : 0);
    event.push_back(0x00); // central
    event.push_back(request.peerAddressType & 0x01);
    AppendAddress(event, request.peerAddress);
    AppendLe16(event, connected ? request.intervalMin : 0);
    AppendLe16(event, connected ? request.maxLatency : 0);
    AppendLe16(event, connected ? request.supervisionTimeout : 0);
    event.push_back(0x00); // central clock accuracy
    return event;
}

void Controller::FinishConnection(const ConnectRequest& request, ConnectResult result)
{
    // Read first: the state lock is never held with the link lock.
    const std::optional<std::int8_t> rssi = HeardRssi(request.peerAddress);
    // Held until LE Connection Complete (and a Disconnection Complete that follows it) went out:
    // a loss of the device, a Disconnect or a Reset reports only after it.
    std::lock_guard report(reportLock_);
    if (generation_ != request.generation)
    {
        // A Reset came in between: Android no longer expects this attempt.
        CloseLinkAsync(result.handle, std::move(result.link));
        return;
    }
    bool lost = false;
    if (result.link)
    {
        // The link reports a loss it saw from now on through OnLinkDisconnected, which waits for
        // the report lock and then finds the entry.
        lost = result.link->IsDisconnected();
        if (!lost)
        {
            std::lock_guard guard(linkLock_);
            links_[result.handle] = Connection{std::move(result.link), {}, request.peerAddress, 0, rssi};
        }
        Core::Log(
            fmt::format("le: connected to {:012X} as handle 0x{:04X}", request.peerAddress, result.handle));
    }
    else
    {
        Core::Log(fmt::format("le: connection to {:012X} not established (status 0x{:02X})",
                              request.peerAddress, result.status));
    }
    // The attempt is over before Android hears of it, so that a new LE Create Connection sent
    // in answer to this event is accepted.
    connectPending_ = false;
    SendLeMetaEvent(Hci::LeSubevent::ConnectionComplete,
                    LeConnectionComplete(request, result.status, result.handle));
    if (lost)
    {
        // The device went away before the link was entered: report the loss at once.
        CloseLinkAsync(result.handle, std::move(result.link));
        SendDisconnectionComplete(result.handle, Hci::Status::ConnectionTimeout);
    }
}

CommandResult Controller::LeCreateConnectionCancel(ByteView)
{
    if (!connectPending_)
        return Refuse(Hci::Status::CommandDisallowed);
    // Android must hear this command's Command Complete before the LE Connection Complete of
    // the cancelled attempt, which its worker may send the moment it is woken.
    afterAnswer_ = [this] { CancelConnect(); };
    return {};
}

std::shared_ptr<LeLink> Controller::FindLink(std::uint16_t handle)
{
    std::lock_guard guard(linkLock_);
    auto entry = links_.find(handle);
    return entry == links_.end() ? nullptr : entry->second.link;
}

CommandResult Controller::Disconnect(ByteView parameters)
{
    if (parameters.size() < 2)
        return ParametersTooShort();
    std::uint16_t handle = HandleAt(parameters);
    std::lock_guard report(reportLock_);
    bool found = false;
    {
        std::lock_guard guard(linkLock_);
        if (auto entry = links_.find(handle); entry != links_.end())
        {
            CloseLinkAsync(handle, std::move(entry->second.link));
            links_.erase(entry);
            found = true;
        }
    }
    if (!found)
    {
        SendCommandStatus(Op::Disconnect, Hci::Status::UnknownConnection);
        return {};
    }
    SendCommandStatus(Op::Disconnect, Hci::Status::Success);
    Core::Log(fmt::format("le: disconnecting handle 0x{:04X}", handle));
    SendDisconnectionComplete(handle, Hci::Status::TerminatedByLocalHost);
    return {};
}

void Controller::OnLinkDisconnected(std::uint16_t handle, std::uint8_t reason)
{
    std::lock_guard report(reportLock_);
    {
        std::lock_guard guard(linkLock_);
        auto entry = links_.find(handle);
        if (entry == links_.end())
            return;
        CloseLinkAsync(handle, std::move(entry->second.link));
        links_.erase(entry);
    }
    SendDisconnectionComplete(handle, reason);
}

void Controller::SendDisconnectionComplete(std::uint16_t handle, std::uint8_t reason)
{
    SendEvent(Hci::Event::DisconnectionComplete, Hci::ConnectionEventParameters(handle, Bytes{reason}));
}

bool Controller::HasLink(std::uint16_t handle)
{
    std::lock_guard guard(linkLock_);
    return links_.contains(handle & 0x0FFF);
}

CommandResult Controller::ReadRemoteVersionInformation(ByteView parameters)
{
    if (parameters.size() < 2)
        return ParametersTooShort();
    std::uint16_t handle = HandleAt(parameters);
    std::lock_guard report(reportLock_);
    if (!FindLink(handle))
    {
        SendCommandStatus(Op::ReadRemoteVersionInformation, Hci::Status::UnknownConnection);
        return {};
    }
    SendCommandStatus(Op::ReadRemoteVersionInformation, Hci::Status::Success);
    // Version 8, company 0xFFFF, subversion 0.
    SendEvent(Hci::Event::ReadRemoteVersionComplete,
              Hci::ConnectionEventParameters(handle, Bytes{0x08, 0xFF, 0xFF, 0x00, 0x00}));
    return {};
}

CommandResult Controller::LeConnectionUpdate(ByteView parameters)
{
    if (parameters.size() < 10)
        return ParametersTooShort();
    std::uint16_t handle = HandleAt(parameters);
    std::lock_guard report(reportLock_);
    if (!FindLink(handle))
    {
        SendCommandStatus(Op::LeConnectionUpdate, Hci::Status::UnknownConnection);
        return {};
    }
    SendCommandStatus(Op::LeConnectionUpdate, Hci::Status::Success);
    // Windows keeps its own parameters; Android is told what it asked for: interval max,
    // latency and supervision timeout.
    SendLeMetaEvent(Hci::LeSubevent::ConnectionUpdateComplete,
                    Hci::ConnectionEventParameters(handle, parameters.subspan(4, 6)));
    return {};
}

CommandResult Controller::LeReadRemoteFeatures(ByteView parameters)
{
    if (parameters.size() < 2)
        return ParametersTooShort();
    std::uint16_t handle = HandleAt(parameters);
    std::lock_guard report(reportLock_);
    if (!FindLink(handle))
    {
        SendCommandStatus(Op::LeReadRemoteFeatures, Hci::Status::UnknownConnection);
        return {};
    }
    SendCommandStatus(Op::LeReadRemoteFeatures, Hci::Status::Success);
    SendLeMetaEvent(
        Hci::LeSubevent::ReadRemoteFeaturesComplete,
        Hci::ConnectionEventParameters(handle, Bytes{0x1F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    return {};
}

CommandResult Controller::LeStartEncryption(ByteView parameters)
{
    if (parameters.size() < 2)
        return ParametersTooShort();
    std::uint16_t handle = HandleAt(parameters);
    // Held throughout, so that no disconnection is reported between the events and the push.
    std::lock_guard report(reportLock_);
    std::shared_ptr<LeLink> link = FindLink(handle);
    if (!link)
    {
        SendCommandStatus(Op::LeStartEncryption, Hci::Status::UnknownConnection);
        return {};
    }
    SendCommandStatus(Op::LeStartEncryption, Hci::Status::Success);
    SendEvent(Hci::Event::EncryptionChange, Hci::ConnectionEventParameters(handle, Bytes{0x01})); // on
    link->DistributeKeys();
    return {};
}

void Controller::SendCompletedPackets(std::uint16_t handle, std::uint32_t packets)
{
    while (packets > 0)
    {
        auto count = static_cast<std::uint16_t>(std::min<std::uint32_t>(packets, 0xFFFF));
        packets -= count;
        Bytes completed{0x01};
        Hci::AppendHandle(completed, handle);
        AppendLe16(completed, count);
        SendEvent(Hci::Event::NumberOfCompletedPackets, completed);
    }
}

void Controller::HandleAclData(ByteView packet)
{
    if (packet.size() <= 3)
        return;
    std::uint16_t handle = ReadLe16(packet, 0) & 0x0FFF;
    std::optional<L2capPdu> pdu;
    std::shared_ptr<LeLink> link;
    {
        std::lock_guard guard(linkLock_);
        if (auto entry = links_.find(handle); entry != links_.end())
        {
            pdu = ReassembleAcl(entry->second.reassembly, packet);
            link = entry->second.link;
        }
    }
    // Every packet is acknowledged at once, known handle or not, so that Android's buffer count
    // stays full; only a link whose queue is full holds the credit of the packet that completed
    // its PDU back. Pushes come only from this thread, so PDUs reach the link in order.
    if (!pdu || !link || link->PushFromAndroid(pdu->cid, std::move(pdu->payload)))
    {
        SendCompletedPackets(handle, 1);
        return;
    }
    std::lock_guard guard(linkLock_);
    if (auto entry = links_.find(handle); entry != links_.end() && entry->second.link == link)
        ++entry->second.heldCredits;
    // A link already removed had its Disconnection Complete, which returns its credits.
}

void Controller::ReturnHeldCredits(std::uint16_t handle)
{
    // After a Disconnection Complete the handle's credits are Android's already.
    std::lock_guard report(reportLock_);
    std::uint32_t held = 0;
    {
        std::lock_guard guard(linkLock_);
        if (auto entry = links_.find(handle); entry != links_.end())
            held = std::exchange(entry->second.heldCredits, 0);
    }
    SendCompletedPackets(handle, held);
}

} // namespace Pd::Bt
