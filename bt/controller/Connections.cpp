// The connection side of the controller: the inquiry that never finds a device, LE connection
// attempts on the connect worker, the link table, disconnection from either side, the commands
// on an existing connection and the ACL data of the links.
#include "bt/controller/Controller.h"

#include "bt/controller/HciStatus.h"
#include "bt/controller/Opcodes.h"
#include "bt/hci/Events.h"
#include "core/Log.h"

#include <fmt/format.h>

#include <chrono>

namespace Pd::Bt
{
namespace
{

constexpr std::uint16_t FirstHandle = 0x0040;
constexpr std::uint16_t LastHandle = 0x0EFF;
constexpr std::uint16_t KeyDistributionCid = 0xFFFF;

std::uint16_t HandleAt(ByteView parameters)
{
    return ReadLe16(parameters, 0) & 0x0FFF;
}

} // namespace

void Controller::Inquiry(ByteView parameters)
{
    int length = parameters.size() >= 4 ? parameters[3] : 1;
    auto duration = std::chrono::milliseconds(std::min(length * 1280, 10240));
    SendCommandStatus(Op::Inquiry, Hci::Status::Success);
    StopInquiry();
    try
    {
        inquiryWorker_ = std::jthread([this, duration](std::stop_token stop) {
            auto deadline = std::chrono::steady_clock::now() + duration;
            std::unique_lock guard(inquiryLock_);
            inquiryWake_.wait_until(guard, stop, deadline, [] { return false; });
            guard.unlock();
            if (stop.stop_requested())
                return;
            try
            {
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
}

void Controller::InquiryCancel(ByteView)
{
    StopInquiry();
    SendCommandComplete(Op::InquiryCancel, Hci::Status::Success);
}

void Controller::StopInquiry()
{
    inquiryWorker_.request_stop();
    if (inquiryWorker_.joinable())
        inquiryWorker_.join();
}

std::uint16_t Controller::AllocateHandle()
{
    std::lock_guard guard(linkLock_);
    std::uint16_t handle = nextHandle_;
    nextHandle_ = handle >= LastHandle ? FirstHandle : static_cast<std::uint16_t>(handle + 1);
    return handle;
}

void Controller::LeCreateConnection(ByteView parameters)
{
    Need(parameters, 21);
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
        return;
    }
    // The previous worker has reported its attempt but may still be on its way out: join it
    // before the new attempt is marked pending, so that nothing it does on its way out can touch
    // the new attempt's flags. Only this thread marks an attempt pending.
    if (connectWorker_.joinable())
        connectWorker_.join();
    connectPending_ = true;
    connectCancel_ = false;
    SendCommandStatus(Op::LeCreateConnection, Hci::Status::Success);
    request.generation = generation_;
    try
    {
        connectWorker_ = std::jthread([this, request] { RunConnectWorker(request); });
    }
    catch (const std::exception& error)
    {
        // Android waits for the attempt's end: report it failed, and let the next one start.
        Core::Log(fmt::format("hci: command 0x{:04X} failed: {}", Op::LeCreateConnection, error.what()));
        SendLeMetaEvent(Hci::LeSubevent::ConnectionComplete,
                        LeConnectionComplete(request, Hci::Status::HardwareFailure, 0));
        connectPending_ = false;
    }
}

void Controller::RunConnectWorker(const ConnectRequest& request) noexcept
{
    try
    {
        ConnectResult result;
        try
        {
            result = AttemptConnection(request);
        }
        catch (const std::exception& error)
        {
            Core::Log(fmt::format("le: connection to {:012X} failed: {}", request.peerAddress, error.what()));
            result.status = Hci::Status::ConnectionFailed;
            result.link.reset();
        }
        FinishConnection(request, std::move(result));
    }
    catch (...)
    {
        // Out of memory while reporting: the attempt is over all the same.
    }
    connectPending_ = false;
}

Controller::ConnectResult Controller::AttemptConnection(const ConnectRequest& request)
{
    if (request.toFilterAcceptList)
    {
        // No device is sought for the filter accept list: the attempt lasts until cancelled.
        std::unique_lock guard(connectWaitLock_);
        connectWait_.wait(guard, [this] { return connectCancel_.load(); });
        return {Hci::Status::UnknownConnection, 0, nullptr};
    }

    ConnectResult result;
    result.handle = AllocateHandle();
    Core::Log(fmt::format("le: connecting to {:012X}", request.peerAddress));
    bool ownRandom = request.ownAddressType & 0x01;
    LinkAddresses addresses{ownRandom ? ownRandomAddress_.load() : adapterAddress_, ownRandom,
                            request.peerAddress, (request.peerAddressType & 0x01) != 0};
    std::uint16_t handle = result.handle;
    LinkSend send = [this, handle](std::uint16_t cid, Bytes payload) {
        for (Bytes& packet : FragmentL2cap(handle, cid, payload))
            Send(Hci::PacketType::Acl, std::move(packet));
    };
    LinkDisconnected onDisconnect = [this, handle](std::uint8_t reason) {
        OnLinkDisconnected(handle, reason);
    };

    result.status = Hci::Status::ConnectionFailed;
    if (services_.connectLink)
        result.link =
            services_.connectLink(addresses, std::move(send), std::move(onDisconnect), result.status);
    if (!result.link)
    {
        if (result.status == Hci::Status::Success)
            result.status = Hci::Status::ConnectionFailed;
        return result;
    }
    if (connectCancel_)
    {
        CloseLinkAsync(std::move(result.link));
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
    if (generation_ != request.generation)
    {
        // A Reset came in between: Android no longer expects this attempt.
        CloseLinkAsync(std::move(result.link));
        return;
    }
    std::unique_ptr<LeLink> setAside;
    if (result.link)
    {
        {
            std::lock_guard guard(linkLock_);
            if (result.link->IsDisconnected())
                setAside = std::move(result.link);
            else
            {
                // A handle in use since its last round gives its old link up for closing.
                Connection& entry = links_[result.handle];
                CloseLinkAsync(std::move(entry.link));
                entry = Connection{std::move(result.link), {}, request.peerAddress};
            }
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
    if (setAside)
    {
        // The device went away before the link was entered: report the loss at once.
        CloseLinkAsync(std::move(setAside));
        SendDisconnectionComplete(result.handle, Hci::Status::ConnectionTimeout);
    }
}

Bytes Controller::LeCreateConnectionCancel()
{
    if (!connectPending_)
        throw HciStatus(Hci::Status::CommandDisallowed);
    // Android must hear this command's Command Complete before the LE Connection Complete of
    // the cancelled attempt, which its worker may send the moment it is woken.
    afterAnswer_ = [this] { CancelConnect(); };
    return {};
}

bool Controller::AnswerUnknownHandle(std::uint16_t opcode, std::uint16_t handle)
{
    if (HasLink(handle))
        return false;
    SendCommandStatus(opcode, Hci::Status::UnknownConnection);
    return true;
}

void Controller::Disconnect(ByteView parameters)
{
    std::uint16_t handle = HandleAt(parameters);
    std::unique_ptr<LeLink> link;
    bool found = false;
    {
        std::lock_guard guard(linkLock_);
        if (auto entry = links_.find(handle); entry != links_.end())
        {
            link = std::move(entry->second.link);
            links_.erase(entry);
            found = true;
        }
    }
    if (!found)
    {
        SendCommandStatus(Op::Disconnect, Hci::Status::UnknownConnection);
        return;
    }
    SendCommandStatus(Op::Disconnect, Hci::Status::Success);
    Core::Log(fmt::format("le: disconnecting handle 0x{:04X}", handle));
    CloseLinkAsync(std::move(link));
    SendDisconnectionComplete(handle, Hci::Status::TerminatedByLocalHost);
}

void Controller::OnLinkDisconnected(std::uint16_t handle, std::uint8_t reason)
{
    std::unique_ptr<LeLink> link;
    {
        std::lock_guard guard(linkLock_);
        auto entry = links_.find(handle);
        if (entry == links_.end())
            return;
        link = std::move(entry->second.link);
        links_.erase(entry);
    }
    CloseLinkAsync(std::move(link));
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

void Controller::ReadRemoteVersionInformation(ByteView parameters)
{
    std::uint16_t handle = HandleAt(parameters);
    if (AnswerUnknownHandle(Op::ReadRemoteVersionInformation, handle))
        return;
    SendCommandStatus(Op::ReadRemoteVersionInformation, Hci::Status::Success);
    // Version 8, company 0xFFFF, subversion 0.
    SendEvent(Hci::Event::ReadRemoteVersionComplete,
              Hci::ConnectionEventParameters(handle, Bytes{0x08, 0xFF, 0xFF, 0x00, 0x00}));
}

void Controller::LeConnectionUpdate(ByteView parameters)
{
    Need(parameters, 10);
    std::uint16_t handle = HandleAt(parameters);
    if (AnswerUnknownHandle(Op::LeConnectionUpdate, handle))
        return;
    SendCommandStatus(Op::LeConnectionUpdate, Hci::Status::Success);
    // Windows keeps its own parameters; Android is told what it asked for.
    // Interval max, latency and supervision timeout as asked.
    SendLeMetaEvent(Hci::LeSubevent::ConnectionUpdateComplete,
                    Hci::ConnectionEventParameters(handle, parameters.subspan(4, 6)));
}

void Controller::LeReadRemoteFeatures(ByteView parameters)
{
    std::uint16_t handle = HandleAt(parameters);
    if (AnswerUnknownHandle(Op::LeReadRemoteFeatures, handle))
        return;
    SendCommandStatus(Op::LeReadRemoteFeatures, Hci::Status::Success);
    SendLeMetaEvent(
        Hci::LeSubevent::ReadRemoteFeaturesComplete,
        Hci::ConnectionEventParameters(handle, Bytes{0x1F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

void Controller::LeStartEncryption(ByteView parameters)
{
    std::uint16_t handle = HandleAt(parameters);
    // Held throughout, so that no disconnection removes the link between the events and the push.
    std::lock_guard guard(linkLock_);
    auto entry = links_.find(handle);
    if (entry == links_.end())
    {
        SendCommandStatus(Op::LeStartEncryption, Hci::Status::UnknownConnection);
        return;
    }
    SendCommandStatus(Op::LeStartEncryption, Hci::Status::Success);
    SendEvent(Hci::Event::EncryptionChange, Hci::ConnectionEventParameters(handle, Bytes{0x01})); // on
    entry->second.link->PushFromAndroid(KeyDistributionCid, {});
}

void Controller::HandleAclData(ByteView packet)
{
    if (packet.size() <= 3)
        return;
    // Every packet is acknowledged at once, known handle or not: Android's buffer count stays full.
    Bytes completed{0x01, packet[0], static_cast<std::uint8_t>(packet[1] & 0x0F), 0x01, 0x00};
    SendEvent(Hci::Event::NumberOfCompletedPackets, completed);

    std::lock_guard guard(linkLock_);
    auto entry = links_.find(ReadLe16(packet, 0) & 0x0FFF);
    if (entry == links_.end())
        return;
    if (auto pdu = ReassembleAcl(entry->second.reassembly, packet))
        entry->second.link->PushFromAndroid(pdu->cid, std::move(pdu->payload));
}

} // namespace Pd::Bt
