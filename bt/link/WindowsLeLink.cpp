#include "bt/link/WindowsLeLink.h"

#include "bt/att/AttPdu.h"
#include "bt/att/AttServer.h"
#include "bt/device/GattOperations.h"
#include "bt/device/WindowsPairing.h"
#include "bt/gatt/Mirror.h"
#include "bt/hci/Events.h"
#include "bt/l2cap/LeSignalling.h"
#include "bt/smp/SmpResponder.h"
#include "bt/WindowsFailure.h"
#include "core/Log.h"

#include <fmt/format.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <shared_mutex>
#include <thread>

namespace Pd::Bt
{
namespace
{

using Platform::GattSessionStatus;

// The state of a link. Windows' handlers reach it through weak references, so one of them may be
// its last owner: it owns no thread. Its worker belongs to the WindowsLeLink below.
class LinkImpl : public std::enable_shared_from_this<LinkImpl>
{
public:
    LinkImpl(const LinkAddresses& addresses, LinkSend send, LinkDisconnected onDisconnect,
             LinkCreditsFreed creditsFreed, InboundLimits limits)
        : addresses_(addresses), peer_(addresses.peerAddress), send_(std::move(send)),
          onDisconnect_(std::move(onDisconnect)), creditsFreed_(std::move(creditsFreed)), limits_(limits)
    {
    }

    ~LinkImpl() { Close(); }

    // Opens the device, its session and its mirror; false (logged) when that failed, the link
    // then closed.
    bool Open(const LeDeviceOpener& open, std::stop_token stop)
    {
        auto opened = OpenDevice(open, stop);
        if (!opened)
        {
            Core::Log(fmt::format("gatt {:012X}: cannot connect: {}", peer_, FailureText(opened.error())));
            Close();
            return false;
        }
        if (!*opened)
            Close();
        return *opened;
    }

    bool Push(std::uint16_t cid, Bytes pdu)
    {
        if (closed_.load())
            return true;
        {
            std::lock_guard guard(inboundLock_);
            bool full = inbound_.size() >= limits_.entries || inboundBytes_ + pdu.size() > limits_.bytes;
            if (!full)
            {
                inboundBytes_ += pdu.size();
                inbound_.push_back({cid, std::move(pdu)});
                inboundReady_.notify_one();
                if (!BelowHalf())
                    creditsHeld_ = true;
                return !creditsHeld_;
            }
        }
        Overflow(cid, pdu);
        return true;
    }

    // Marks the key distribution due behind the PDUs queued now; one is due at most.
    void DistributeKeys()
    {
        std::lock_guard guard(inboundLock_);
        if (closed_.load() || keysAfter_)
            return;
        keysAfter_ = inbound_.size();
        inboundReady_.notify_one();
    }

    bool IsDisconnected() const { return disconnected_.load(); }

    // Close without a worker.
    void Close()
    {
        if (BeginClose())
            FinishClose();
    }

    // Close in two halves, with the worker joined between them: false when the link had closed.
    bool BeginClose()
    {
        if (closed_.exchange(true))
            return false;
        closing_.store(true);
        {
            std::lock_guard sending(sendLock_); // a send in progress ends first
        }
        stop_.request_stop(); // cancels the Windows operation the worker waits for
        {
            std::lock_guard guard(inboundLock_);
            inbound_.clear();
            inboundBytes_ = 0;
            keysAfter_.reset();
        }
        return true;
    }

    void FinishClose()
    {
        // Every Windows handler still running leaves; later ones see the closed flag.
        std::unique_lock{callbackLock_}.unlock();
        if (operations_)
            operations_->RevokeAll();
        if (session_)
        {
            session_->RemoveSessionStatusChanged(sessionToken_);
            session_.reset();
        }
    }

    // The worker: handles what Android sent, in arrival order, until the link closes.
    void Run()
    {
        const std::stop_token stop = stop_.get_token();
        for (;;)
        {
            Entry entry;
            bool freed = false;
            {
                std::unique_lock guard(inboundLock_);
                inboundReady_.wait(guard, stop, [this] { return !inbound_.empty() || keysAfter_ == 0u; });
                if (stop.stop_requested())
                    return;
                if (keysAfter_ == 0u)
                {
                    keysAfter_.reset();
                    guard.unlock();
                    Handle({.cid = 0, .pdu = {}, .distributeKeys = true});
                    continue;
                }
                if (keysAfter_)
                    --*keysAfter_;
                entry = std::move(inbound_.front());
                inbound_.pop_front();
                inboundBytes_ -= entry.pdu.size();
                if (creditsHeld_ && BelowHalf())
                {
                    creditsHeld_ = false;
                    freed = true;
                }
            }
            if (freed)
                creditsFreed_();
            Handle(entry);
        }
    }

private:
    struct Entry
    {
        std::uint16_t cid = 0;
        Bytes pdu;
        bool distributeKeys = false; // no PDU: the key distribution that became due
    };

    Platform::Outcome<bool> OpenDevice(const LeDeviceOpener& open, std::stop_token stop)
    {
        auto device = open(addresses_.peerAddress, addresses_.peerIsRandom, stop);
        if (!device)
            return std::unexpected(device.error());
        if (!*device)
        {
            Core::Log(fmt::format("gatt {:012X}: device not found", peer_));
            return false;
        }
        device_ = std::move(*device);
        auto session = device_->OpenGattSession(stop);
        if (!session)
            return std::unexpected(session.error());
        if (!*session)
            return std::unexpected(Platform::Error{E_POINTER, L"No GATT session"});
        session_ = std::move(*session);
        if (auto maintained = session_->SetMaintainConnection(true); !maintained)
            return std::unexpected(maintained.error());

        auto mirror = MirrorGattDatabase(*device_, peer_, stop);
        if (!mirror)
            return std::unexpected(mirror.error());
        if (!*mirror)
            return false;
        mirror_.emplace(std::move(**mirror));
        std::weak_ptr<LinkImpl> weak = weak_from_this();
        operations_ = std::make_unique<GattOperations>(
            *mirror_, stop_.get_token(), [weak](std::uint16_t handle, const Bytes& value, bool indicate) {
                if (auto self = weak.lock())
                    self->OnValueChanged(handle, value, indicate);
            });
        att_ = std::make_unique<AttServer>(mirror_->Database(), *operations_,
                                           [this](Bytes pdu) { SendL2cap(AttCid, std::move(pdu)); });
        pairing_ = std::make_unique<WindowsPairing>(device_.get(), stop_.get_token());
        smp_ = std::make_unique<SmpResponder>(addresses_, *pairing_,
                                              [this](Bytes pdu) { SendL2cap(SmpCid, std::move(pdu)); });

        auto token = session_->AddSessionStatusChanged([weak](GattSessionStatus status) {
            if (auto self = weak.lock(); self && status == GattSessionStatus::Closed)
                self->OnSessionClosed();
        });
        if (!token)
            return std::unexpected(token.error());
        sessionToken_ = *token;
        auto status = session_->SessionStatus();
        if (!status)
            return std::unexpected(status.error());
        if (*status == GattSessionStatus::Closed)
        {
            auto connection = device_->ConnectionStatus();
            if (!connection)
                return std::unexpected(connection.error());
            if (*connection == Platform::BluetoothConnectionStatus::Disconnected)
                OnDisconnected();
        }
        return true;
    }

    void OnSessionClosed()
    {
        std::shared_lock guard(callbackLock_);
        if (!closed_.load())
            OnDisconnected();
    }

    void OnDisconnected()
    {
        if (closing_.exchange(true))
            return;
        disconnected_.store(true);
        Core::Log(fmt::format("gatt {:012X}: the device disconnected", peer_));
        onDisconnect_(Hci::Status::ConnectionTimeout);
    }

    void OnValueChanged(std::uint16_t handle, const Bytes& value, bool indicate)
    {
        std::shared_lock guard(callbackLock_);
        if (!closing_.load())
            att_->QueueNotification(handle, value, indicate);
    }

    // Nothing goes out once Close began: the controller may already have given the handle up.
    void SendL2cap(std::uint16_t cid, Bytes pdu)
    {
        std::lock_guard guard(sendLock_);
        if (!closed_.load())
            send_(cid, std::move(pdu));
    }

    bool BelowHalf() const
    {
        return inbound_.size() < (limits_.entries + 1) / 2 && inboundBytes_ < (limits_.bytes + 1) / 2;
    }

    // A PDU past the bound: an ATT request is refused, anything else dropped.
    void Overflow(std::uint16_t cid, const Bytes& pdu)
    {
        if (!overflowLogged_.exchange(true))
            Core::Log(fmt::format("gatt {:012X}: inbound queue full; dropping PDUs and refusing ATT requests",
                                  peer_));
        if (cid != AttCid)
            return;
        if (auto refusal = Att::ErrorAnswer(pdu, Att::InsufficientResources))
            SendL2cap(AttCid, std::move(*refusal));
    }

    void Handle(const Entry& entry)
    {
        try
        {
            Result<> handled;
            if (entry.distributeKeys)
                handled = smp_->CompleteBonding();
            else
                switch (entry.cid)
                {
                case AttCid:
                    handled = att_->HandlePdu(entry.pdu);
                    break;
                case LeSignallingCid:
                    if (auto answer = AnswerLeSignalling(entry.pdu))
                        SendL2cap(LeSignallingCid, std::move(*answer));
                    break;
                case SmpCid:
                    handled = smp_->HandlePdu(entry.pdu);
                    break;
                default:
                    break;
                }
            if (!handled)
                Core::Log(fmt::format("gatt {:012X}: {}", peer_, handled.error()));
        }
        catch (const std::exception& error)
        {
            Core::Log(fmt::format("gatt {:012X}: {}", peer_, error.what()));
            if (entry.cid == AttCid)
                if (auto answer = Att::ErrorAnswer(entry.pdu, Att::UnlikelyError))
                    SendL2cap(AttCid, std::move(*answer));
        }
    }

    const LinkAddresses addresses_;
    const std::uint64_t peer_;
    LinkSend send_;
    LinkDisconnected onDisconnect_;
    LinkCreditsFreed creditsFreed_;
    const InboundLimits limits_;
    std::mutex sendLock_;

    std::unique_ptr<Platform::LeDevice> device_;
    std::shared_ptr<Platform::GattSession> session_;
    std::int64_t sessionToken_ = 0;
    std::optional<GattMirror> mirror_;
    std::stop_source stop_; // the worker's, and every Windows operation's
    std::unique_ptr<GattOperations> operations_;
    std::unique_ptr<AttServer> att_;
    std::unique_ptr<WindowsPairing> pairing_;
    std::unique_ptr<SmpResponder> smp_;

    std::mutex inboundLock_;
    std::condition_variable_any inboundReady_;
    std::deque<Entry> inbound_;
    std::size_t inboundBytes_ = 0;
    // Set while a key distribution is due: how many queued PDUs come before it.
    std::optional<std::size_t> keysAfter_;
    bool creditsHeld_ = false;
    std::atomic<bool> overflowLogged_{false};

    std::shared_mutex callbackLock_;
    std::atomic<bool> closing_{false}, closed_{false}, disconnected_{false};
};

// The link the controller owns, and the owner of its worker. Nothing the worker runs holds this
// object, so it is never released on that thread; Close joins the worker.
class WindowsLeLink final : public LeLink
{
public:
    explicit WindowsLeLink(std::shared_ptr<LinkImpl> impl)
        : impl_(std::move(impl)), worker_([impl = impl_.get()] { impl->Run(); })
    {
    }
    ~WindowsLeLink() override { Close(); }
    bool PushFromAndroid(std::uint16_t cid, Bytes pdu) override { return impl_->Push(cid, std::move(pdu)); }
    void DistributeKeys() override { impl_->DistributeKeys(); }
    bool IsDisconnected() const override { return impl_->IsDisconnected(); }
    void Close() override
    {
        if (!impl_->BeginClose())
            return;
        worker_.join();
        impl_->FinishClose();
    }

private:
    const std::shared_ptr<LinkImpl> impl_;
    std::jthread worker_; // last: ends before the link state it runs on
};

} // namespace

LinkConnector WindowsLinkConnector(LeDeviceOpener open, InboundLimits limits)
{
    return [open = std::move(open), limits](const LinkAddresses& addresses, LinkSend send,
                                            LinkDisconnected onDisconnect, LinkCreditsFreed creditsFreed,
                                            std::uint8_t& status,
                                            std::stop_token stop) -> std::unique_ptr<LeLink> {
        status = Hci::Status::ConnectionFailed;
        auto impl = std::make_shared<LinkImpl>(addresses, std::move(send), std::move(onDisconnect),
                                               std::move(creditsFreed), limits);
        if (!impl->Open(open, stop))
            return nullptr;
        status = Hci::Status::Success;
        return std::make_unique<WindowsLeLink>(std::move(impl));
    };
}

LinkConnector WindowsLinkConnector()
{
    return WindowsLinkConnector([](std::uint64_t address, bool random, std::stop_token stop) {
        return Platform::OpenLeDevice(address, random, stop);
    });
}

} // namespace Pd::Bt
