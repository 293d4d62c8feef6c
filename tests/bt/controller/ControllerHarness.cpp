#include "ControllerHarness.h"

#include "core/Log.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <stop_token>

namespace Pd::Bt::Test
{
namespace
{

using namespace std::chrono_literals;

std::uint8_t Low(std::uint16_t value)
{
    return static_cast<std::uint8_t>(value);
}

std::uint8_t High(std::uint16_t value)
{
    return static_cast<std::uint8_t>(value >> 8);
}

Bytes Cat(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

class FakeLink final : public LeLink
{
public:
    FakeLink(FakeRadio& radio, std::shared_ptr<FakeLinkRecord> record)
        : radio_(radio), record_(std::move(record))
    {
    }
    ~FakeLink() override
    {
        Close();
        std::lock_guard guard(radio_.lock);
        record_->releasedOn = std::this_thread::get_id();
        radio_.changed.notify_all();
    }
    bool PushFromAndroid(std::uint16_t cid, Bytes pdu) override
    {
        std::lock_guard guard(radio_.lock);
        if (record_->throwOnPush)
            throw std::runtime_error("link queue refused");
        record_->pushed.emplace_back(cid, std::move(pdu));
        return !record_->holdCredits;
    }
    void DistributeKeys() override
    {
        std::lock_guard guard(radio_.lock);
        if (record_->throwOnPush)
            throw std::runtime_error("link queue refused");
        ++record_->keyDistributions;
    }
    bool IsDisconnected() const override
    {
        std::lock_guard guard(radio_.lock);
        return record_->disconnected;
    }
    void Close() override
    {
        std::unique_lock guard(radio_.lock);
        if (std::exchange(closed_, true))
            return;
        ++radio_.closing;
        radio_.changed.notify_all();
        radio_.changed.wait(guard, [this] { return !radio_.holdClose; });
        --radio_.closing;
        ++record_->closes;
        radio_.changed.notify_all();
    }

private:
    FakeRadio& radio_;
    std::shared_ptr<FakeLinkRecord> record_;
    bool closed_ = false;
};

class RecordingScanner final : public Scanner
{
public:
    explicit RecordingScanner(FakeScanner& owner) : owner_(owner) {}
    void Start(bool active) override
    {
        owner_.calls.push_back(active ? "start active" : "start passive");
        if (owner_.heardAtStart)
            owner_.report(*owner_.heardAtStart);
    }
    void Stop() override { owner_.calls.push_back("stop"); }

private:
    FakeScanner& owner_;
};

} // namespace

LinkConnector FakeRadio::Connector()
{
    return [this](const LinkAddresses& addresses, LinkSend send, LinkDisconnected onDisconnect,
                  LinkCreditsFreed creditsFreed, std::uint8_t& status,
                  std::stop_token stop) -> std::unique_ptr<LeLink> {
        status = 0x3E;
        // Noted, not heeded: Windows may finish an attempt that was cancelled.
        std::stop_callback noteCancel(stop, [this] {
            {
                std::lock_guard guard(lock);
                cancelled = true;
            }
            changed.notify_all();
        });
        std::unique_lock guard(lock);
        ++waiting;
        changed.notify_all();
        changed.wait(guard, [this] { return !hold; });
        --waiting;
        auto record = std::make_shared<FakeLinkRecord>(FakeLinkRecord{{},
                                                                      addresses,
                                                                      std::move(send),
                                                                      std::move(onDisconnect),
                                                                      std::move(creditsFreed),
                                                                      lostWhileOpening});
        links.push_back(record);
        changed.notify_all();
        if (fail)
            return nullptr;
        status = 0x00;
        return std::make_unique<FakeLink>(*this, record);
    };
}

void FakeRadio::Release()
{
    std::lock_guard guard(lock);
    hold = false;
    holdClose = false;
    changed.notify_all();
}

bool FakeClock::Wait(std::stop_token stop, std::chrono::milliseconds duration)
{
    std::unique_lock guard(lock);
    waits.push_back(duration);
    ++waiting;
    changed.notify_all();
    unsigned start = ticks;
    bool ranOut = changed.wait(guard, stop, [&] { return ticks != start; });
    --waiting;
    changed.notify_all();
    return ranOut;
}

void FakeClock::Advance()
{
    std::lock_guard guard(lock);
    ++ticks;
    changed.notify_all();
}

bool FakeClock::WaitForWaiters(int count)
{
    std::unique_lock guard(lock);
    return changed.wait_for(guard, Pd::Test::HangLimit, [&] { return waiting == count; });
}

bool FakeRadio::WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    std::unique_lock guard(lock);
    return changed.wait_for(guard, limit, condition);
}

ControllerHarness::ControllerHarness(ControllerServices services)
{
    Core::SetLogSink([this](std::string_view line) {
        std::lock_guard guard(lock_);
        log_.emplace_back(line.substr(line.find(']') + 2));
    });
    if (!services.connectLink)
        services.connectLink = radio.Connector();
    services.wait = [this](std::stop_token stop, std::chrono::milliseconds duration) {
        return clock.Wait(stop, duration);
    };
    if (!services.makeScanner)
        services.makeScanner = [this](AdvertisementCallback callback) {
            scanner.report = std::move(callback);
            return std::make_unique<RecordingScanner>(scanner);
        };
    controller_ = std::make_unique<Controller>(
        [this](Hci::PacketType type, Bytes packet) {
            if (beforeRecording)
                beforeRecording(packet);
            std::lock_guard guard(lock_);
            sent_.emplace_back(type, std::move(packet));
            senders_.push_back(std::this_thread::get_id());
            arrived_.notify_all();
        },
        0x0000C0FFEE42, std::move(services));
}

ControllerHarness::~ControllerHarness()
{
    controller_.reset();
    Core::SetLogSink({});
}

Events ControllerHarness::PacketsSince(std::size_t start)
{
    std::lock_guard guard(lock_);
    Events packets;
    for (std::size_t i = start; i < sent_.size(); ++i)
        if (senders_[i] == std::this_thread::get_id())
            packets.push_back(sent_[i].second);
    return packets;
}

std::size_t ControllerHarness::SentCount()
{
    std::lock_guard guard(lock_);
    return sent_.size();
}

Events ControllerHarness::RawCommand(const Bytes& packet)
{
    std::size_t start = SentCount();
    controller_->HandleCommand(packet);
    return PacketsSince(start);
}

Events ControllerHarness::Command(std::uint16_t opcode, const Bytes& parameters)
{
    return RawCommand(
        Cat({Low(opcode), High(opcode), static_cast<std::uint8_t>(parameters.size())}, parameters));
}

Events ControllerHarness::Acl(const Bytes& packet)
{
    std::size_t start = SentCount();
    controller_->HandleAclData(packet);
    return PacketsSince(start);
}

std::shared_ptr<FakeLinkRecord> ControllerHarness::Connect(std::uint64_t peer)
{
    std::size_t before = SentCount();
    Command(0x200D, CreateConnection(peer));
    EXPECT_TRUE(WaitForPackets(before + 2));
    std::lock_guard guard(radio.lock);
    return radio.links.back();
}

bool ControllerHarness::WaitForPackets(std::size_t count)
{
    std::unique_lock guard(lock_);
    return arrived_.wait_for(guard, Pd::Test::HangLimit, [&] { return sent_.size() >= count; });
}

std::vector<std::pair<Hci::PacketType, Bytes>> ControllerHarness::Sent()
{
    std::lock_guard guard(lock_);
    return sent_;
}

std::vector<std::string> ControllerHarness::LogLines()
{
    std::lock_guard guard(lock_);
    return log_;
}

Bytes CreateConnection(std::uint64_t peer, std::uint8_t filterPolicy, std::uint8_t ownType)
{
    Bytes p = {0x60, 0x00, 0x30, 0x00, filterPolicy, 0x01};
    for (int i = 0; i < 6; ++i)
        p.push_back(static_cast<std::uint8_t>(peer >> (8 * i)));
    p.insert(p.end(), {ownType, 0x18, 0x00, 0x28, 0x00, 0x02, 0x00, 0xC8, 0x00, 0x00, 0x00, 0x00, 0x00});
    return p;
}

Bytes Event(std::uint8_t code, const Bytes& parameters)
{
    return Cat({code, static_cast<std::uint8_t>(parameters.size())}, parameters);
}

Bytes CommandComplete(std::uint16_t opcode, std::uint8_t status, const Bytes& returnParameters)
{
    return Event(0x0E, Cat({0x01, Low(opcode), High(opcode), status}, returnParameters));
}

Bytes CommandStatus(std::uint16_t opcode, std::uint8_t status)
{
    return Event(0x0F, {status, 0x01, Low(opcode), High(opcode)});
}

Bytes LeMeta(std::uint8_t subevent, const Bytes& parameters)
{
    return Event(0x3E, Cat({subevent}, parameters));
}

} // namespace Pd::Bt::Test
