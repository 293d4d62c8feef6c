// A controller whose packets are captured, with fake links and a fake scanner behind it.
#pragma once

#include "bt/controller/Controller.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Pd::Bt::Test
{

// What a fake link saw; shared with the test, which outlives the link.
struct FakeLinkRecord
{
    std::mutex lock;
    std::vector<std::pair<std::uint16_t, Bytes>> pushed;
    LinkAddresses addresses;
    LinkSend send;
    LinkDisconnected onDisconnect;
    bool disconnected = false;
    bool throwOnPush = false;
    int closes = 0;
};

class FakeLink final : public LeLink
{
public:
    explicit FakeLink(std::shared_ptr<FakeLinkRecord> record) : record_(std::move(record)) {}
    ~FakeLink() override { Close(); }
    void PushFromAndroid(std::uint16_t cid, Bytes pdu) override;
    bool IsDisconnected() const override;
    void Close() override;

private:
    std::shared_ptr<FakeLinkRecord> record_;
    bool closed_ = false;
};

// Opens fake links; can hold an attempt inside "Windows" until released.
struct FakeRadio
{
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::shared_ptr<FakeLinkRecord>> links; // one per attempt, in order
    bool fail = false;                                  // attempts fail with 0x3E
    bool lostWhileOpening = false;                      // the device is gone by the time the link comes back
    bool hold = false;                                  // attempts wait until released
    int waiting = 0;

    LinkConnector Connector();
    void Release();
    bool WaitUntilHeld(std::chrono::milliseconds timeout);
};

struct FakeScanner
{
    std::mutex lock;
    std::vector<std::string> calls; // "start active", "start passive", "stop"
    AdvertisementCallback report;
    ScannerFactory Factory();
};

class ControllerHarness
{
public:
    explicit ControllerHarness(ControllerServices services = {});
    ~ControllerHarness();

    Controller& controller() { return *controller_; }

    // Sends one command packet; returns the events it caused at once (those sent on the calling
    // thread, not those of the controller's workers).
    std::vector<Bytes> Command(std::uint16_t opcode, const Bytes& parameters = {});
    // Like Command, with a declared length different from the parameter count.
    std::vector<Bytes> RawCommand(const Bytes& packet);
    std::vector<Bytes> Acl(const Bytes& packet);

    // Waits until at least count packets were sent in total.
    bool WaitForPackets(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    std::vector<std::pair<Hci::PacketType, Bytes>> Sent();
    std::size_t SentCount();
    std::vector<std::string> LogLines();
    void Destroy() { controller_.reset(); }

private:
    std::vector<Bytes> PacketsSince(std::size_t start);

    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<std::pair<Hci::PacketType, Bytes>> sent_;
    std::vector<std::thread::id> senders_; // the thread that sent each packet
    std::vector<std::string> log_;
    std::unique_ptr<Controller> controller_;
};

using Events = std::vector<Bytes>;

// Expected events.
Bytes CommandComplete(std::uint16_t opcode, std::uint8_t status, const Bytes& returnParameters = {});
Bytes CommandStatus(std::uint16_t opcode, std::uint8_t status);
Bytes Event(std::uint8_t code, const Bytes& parameters);
Bytes LeMeta(std::uint8_t subevent, const Bytes& parameters);

} // namespace Pd::Bt::Test
