#include "ControllerHarness.h"

#include "core/Log.h"

#include <stdexcept>

namespace Pd::Bt::Test
{

void FakeLink::PushFromAndroid(std::uint16_t cid, Bytes pdu)
{
    std::lock_guard guard(record_->lock);
    if (record_->throwOnPush)
        throw std::runtime_error("link queue refused");
    record_->pushed.emplace_back(cid, std::move(pdu));
}

bool FakeLink::IsDisconnected() const
{
    std::lock_guard guard(record_->lock);
    return record_->disconnected;
}

void FakeLink::Close()
{
    if (closed_)
        return;
    closed_ = true;
    std::lock_guard guard(record_->lock);
    ++record_->closes;
}

LinkConnector FakeRadio::Connector()
{
    return [this](const LinkAddresses& addresses, LinkSend send, LinkDisconnected onDisconnect,
                  std::uint8_t& status) -> std::unique_ptr<LeLink> {
        status = 0x3E;
        std::unique_lock guard(lock);
        ++waiting;
        changed.notify_all();
        changed.wait(guard, [this] { return !hold; });
        --waiting;
        auto record = std::make_shared<FakeLinkRecord>();
        record->addresses = addresses;
        record->send = std::move(send);
        record->onDisconnect = std::move(onDisconnect);
        record->disconnected = lostWhileOpening;
        links.push_back(record);
        changed.notify_all();
        if (fail)
            return nullptr;
        status = 0x00;
        return std::make_unique<FakeLink>(record);
    };
}

void FakeRadio::Release()
{
    std::lock_guard guard(lock);
    hold = false;
    changed.notify_all();
}

bool FakeRadio::WaitUntilHeld(std::chrono::milliseconds timeout)
{
    std::unique_lock guard(lock);
    return changed.wait_for(guard, timeout, [this] { return waiting > 0; });
}

namespace
{

class RecordingScanner final : public Scanner
{
public:
    explicit RecordingScanner(FakeScanner& owner) : owner_(owner) {}
    void Start(bool active) override
    {
        std::lock_guard guard(owner_.lock);
        owner_.calls.push_back(active ? "start active" : "start passive");
    }
    void Stop() override
    {
        std::lock_guard guard(owner_.lock);
        owner_.calls.push_back("stop");
    }

private:
    FakeScanner& owner_;
};

} // namespace

ScannerFactory FakeScanner::Factory()
{
    return [this](AdvertisementCallback callback) {
        report = std::move(callback);
        return std::make_unique<RecordingScanner>(*this);
    };
}

ControllerHarness::ControllerHarness(ControllerServices services)
{
    Core::SetLogSink([this](std::string_view line) {
        std::lock_guard guard(lock_);
        log_.emplace_back(line.substr(line.find(']') + 2));
    });
    controller_ = std::make_unique<Controller>(
        [this](Hci::PacketType type, Bytes packet) {
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

std::vector<Bytes> ControllerHarness::PacketsSince(std::size_t start)
{
    std::lock_guard guard(lock_);
    std::vector<Bytes> packets;
    for (std::size_t i = start; i < sent_.size(); ++i)
        if (senders_[i] == std::this_thread::get_id())
            packets.push_back(sent_[i].second);
    return packets;
}

std::vector<Bytes> ControllerHarness::RawCommand(const Bytes& packet)
{
    std::size_t start = SentCount();
    controller_->HandleCommand(packet);
    return PacketsSince(start);
}

std::vector<Bytes> ControllerHarness::Command(std::uint16_t opcode, const Bytes& parameters)
{
    Bytes packet{static_cast<std::uint8_t>(opcode), static_cast<std::uint8_t>(opcode >> 8),
                 static_cast<std::uint8_t>(parameters.size())};
    packet.insert(packet.end(), parameters.begin(), parameters.end());
    return RawCommand(packet);
}

std::vector<Bytes> ControllerHarness::Acl(const Bytes& packet)
{
    std::size_t start = SentCount();
    controller_->HandleAclData(packet);
    return PacketsSince(start);
}

bool ControllerHarness::WaitForPackets(std::size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock guard(lock_);
    return arrived_.wait_for(guard, timeout, [&] { return sent_.size() >= count; });
}

std::vector<std::pair<Hci::PacketType, Bytes>> ControllerHarness::Sent()
{
    std::lock_guard guard(lock_);
    return sent_;
}

std::size_t ControllerHarness::SentCount()
{
    std::lock_guard guard(lock_);
    return sent_.size();
}

std::vector<std::string> ControllerHarness::LogLines()
{
    std::lock_guard guard(lock_);
    return log_;
}

Bytes Event(std::uint8_t code, const Bytes& parameters)
{
    Bytes packet{code, static_cast<std::uint8_t>(parameters.size())};
    packet.insert(packet.end(), parameters.begin(), parameters.end());
    return packet;
}

Bytes CommandComplete(std::uint16_t opcode, std::uint8_t status, const Bytes& returnParameters)
{
    Bytes parameters{0x01, static_cast<std::uint8_t>(opcode), static_cast<std::uint8_t>(opcode >> 8), status};
    parameters.insert(parameters.end(), returnParameters.begin(), returnParameters.end());
    return Event(0x0E, parameters);
}

Bytes CommandStatus(std::uint16_t opcode, std::uint8_t status)
{
    return Event(0x0F,
                 {status, 0x01, static_cast<std::uint8_t>(opcode), static_cast<std::uint8_t>(opcode >> 8)});
}

Bytes LeMeta(std::uint8_t subevent, const Bytes& parameters)
{
    Bytes withSubevent{subevent};
    withSubevent.insert(withSubevent.end(), parameters.begin(), parameters.end());
    return Event(0x3E, withSubevent);
}

} // namespace Pd::Bt::Test
