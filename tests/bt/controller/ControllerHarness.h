// A controller whose packets and log lines are captured, with a fake radio and a fake scanner
// behind it.
#pragma once

#include "bt/controller/Controller.h"
#include "tests/support/HangLimit.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace Pd::Bt::Test
{

using Events = std::vector<Bytes>;

// What a fake link saw; shared with the test, which outlives the link.
struct FakeLinkRecord
{
    std::vector<std::pair<std::uint16_t, Bytes>> pushed;
    LinkAddresses addresses;
    LinkSend send;
    LinkDisconnected onDisconnect;
    LinkCreditsFreed creditsFreed;
    bool disconnected = false;
    bool throwOnPush = false; // pushes and key distributions fail
    bool holdCredits = false; // the link's queue is full
    int closes = 0;
    int keyDistributions = 0;
    std::thread::id releasedOn{}; // the thread that released the link's last owner
};

// Opens fake links; can hold an attempt inside "Windows" until released. Its lock guards the
// links' records too.
struct FakeRadio
{
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::shared_ptr<FakeLinkRecord>> links; // one per attempt, in order
    bool fail = false;                                  // attempts fail with 0x3E
    bool lostWhileOpening = false;                      // the device is gone by the time the link comes back
    bool hold = false;                                  // attempts wait until released
    bool holdClose = false;                             // closing waits until released
    bool cancelled = false;                             // an attempt's stop was requested
    int waiting = 0;
    int closing = 0; // closes waiting for release

    LinkConnector Connector();
    void Release();
    // Waits until the condition, checked under the lock, holds (false only when it hangs).
    bool WaitUntil(const std::function<bool()>& condition,
                   std::chrono::milliseconds limit = Pd::Test::HangLimit);
};

// Time that passes only when the test says so.
struct FakeClock
{
    std::mutex lock;
    std::condition_variable_any changed;
    std::vector<std::chrono::milliseconds> waits; // every wait asked for, in order
    int waiting = 0;
    unsigned ticks = 0;

    // Waits until the next Advance or until stopped; true when the time ran out.
    bool Wait(std::stop_token stop, std::chrono::milliseconds duration);
    // Lets the time of every current wait run out.
    void Advance();
    bool WaitForWaiters(int count);
};

struct FakeScanner
{
    std::vector<std::string> calls; // "start active", "start passive", "stop"
    AdvertisementCallback report;
    std::optional<Advertisement> heardAtStart; // reported from within Start, as Windows may
};

class ControllerHarness
{
public:
    // The fake radio and scanner stand in for the services that are not given.
    explicit ControllerHarness(ControllerServices services = {});
    ~ControllerHarness();

    FakeRadio radio;
    FakeScanner scanner;
    FakeClock clock;
    Controller& controller() { return *controller_; }
    void Destroy() { controller_.reset(); }

    // Sends one command packet; returns the events it caused on the calling thread (not those of
    // the controller's workers).
    Events Command(std::uint16_t opcode, const Bytes& parameters = {});
    Events RawCommand(const Bytes& packet);
    Events Acl(const Bytes& packet);
    // Connects to the peer and returns its link once LE Connection Complete went out.
    std::shared_ptr<FakeLinkRecord> Connect(std::uint64_t peer);

    // Waits until at least count packets were sent in total (false only when it hangs).
    bool WaitForPackets(std::size_t count);
    std::size_t SentCount();
    // Runs before each packet is recorded, on the sending thread.
    std::function<void(const Bytes& packet)> beforeRecording;
    std::vector<std::pair<Hci::PacketType, Bytes>> Sent();
    std::vector<std::string> LogLines();

private:
    Events PacketsSince(std::size_t start);

    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<std::pair<Hci::PacketType, Bytes>> sent_;
    std::vector<std::thread::id> senders_; // the thread that sent each packet
    std::vector<std::string> log_;
    std::unique_ptr<Controller> controller_;
};

// The controller's internals that tests set up directly.
struct ControllerProbe
{
    // The handle the next connection attempt tries first.
    static void NextHandleAt(Controller& controller, std::uint16_t handle)
    {
        std::lock_guard guard(controller.linkLock_);
        controller.handles_.StartAt(handle);
    }
};

// LE Create Connection parameters to a peer with a random address.
Bytes CreateConnection(std::uint64_t peer, std::uint8_t filterPolicy = 0, std::uint8_t ownType = 0);

// Expected events.
Bytes Event(std::uint8_t code, const Bytes& parameters);
Bytes CommandComplete(std::uint16_t opcode, std::uint8_t status, const Bytes& returnParameters = {});
Bytes CommandStatus(std::uint16_t opcode, std::uint8_t status);
Bytes LeMeta(std::uint8_t subevent, const Bytes& parameters);

} // namespace Pd::Bt::Test
