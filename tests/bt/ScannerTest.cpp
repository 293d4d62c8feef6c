// The advertisement watcher behind LE scanning: what a Received event becomes, and the scanner's
// starts and stops around a fake watcher, or around none at all.
#include "bt/AdvertisementScanner.h"

#include "bt/controller/Controller.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <optional>

namespace
{

using namespace Pd::Bt;
using Pd::Platform::AdvertisementType;
using Pd::Platform::ReceivedAdvertisement;
using Pd::Platform::ScanningMode;
using Pd::Test::LogCapture;

ReceivedAdvertisement Received(AdvertisementType type, bool connectable = false, bool scannable = false,
                               std::int16_t rssi = -60)
{
    ReceivedAdvertisement received;
    received.type = type;
    received.isConnectable = connectable;
    received.isScannable = scannable;
    received.rawSignalStrengthInDBm = rssi;
    return received;
}

TEST(ToAdvertisement, LegacyTypesKeepTheirNumbersOthersGoByConnectableThenScannable)
{
    struct Case
    {
        int type;
        bool connectable;
        bool scannable;
        std::uint8_t kind;
    };
    for (const Case& c : {Case{0, false, false, 0}, Case{1, false, false, 1}, Case{2, false, false, 2},
                          Case{3, true, true, 3}, Case{4, true, false, 4}, Case{5, true, true, 0},
                          Case{5, false, true, 2}, Case{5, false, false, 3}, Case{9, true, false, 0}})
        EXPECT_EQ(
            ToAdvertisement(Received(static_cast<AdvertisementType>(c.type), c.connectable, c.scannable))
                .kind,
            c.kind)
            << "type " << c.type << " connectable " << c.connectable << " scannable " << c.scannable;
}

TEST(ToAdvertisement, SignalIsHeldToMinus127To20AndTheAddressTo48Bits)
{
    const std::pair<std::int16_t, std::int8_t> cases[] = {
        {-128, -127}, {-300, -127}, {25, 20}, {20, 20}, {-60, -60}};
    for (const auto& [raw, rssi] : cases)
        EXPECT_EQ(ToAdvertisement(Received(AdvertisementType::ScanResponse, false, false, raw)).rssi, rssi)
            << raw;
    ReceivedAdvertisement received = Received(AdvertisementType::ScanResponse);
    received.address = 0xFFFF'C0FF'EE00'0001;
    EXPECT_EQ(ToAdvertisement(received).address, 0xC0FF'EE00'0001u);
}

// Watchers that the scanner creates, with what happened to them; a test may make Windows refuse.
struct FakeWatchers
{
    std::vector<ScanningMode> created;
    std::optional<Pd::Platform::Error> refuseCreate;
    std::optional<Pd::Platform::Error> refuseStart;
    Pd::Platform::ReceivedHandler handler; // the last one registered
    int alive = 0;
    int starts = 0;
    std::vector<std::int64_t> removed;

    class Watcher final : public Pd::Platform::AdvertisementWatcher
    {
    public:
        explicit Watcher(FakeWatchers& all) : all_(all) { ++all_.alive; }
        ~Watcher() override { --all_.alive; }
        Pd::Platform::Outcome<std::int64_t> AddReceived(Pd::Platform::ReceivedHandler handler) override
        {
            all_.handler = std::move(handler);
            return 7;
        }
        void RemoveReceived(std::int64_t token) override { all_.removed.push_back(token); }
        Pd::Platform::Outcome<> Start() override
        {
            if (all_.refuseStart)
                return std::unexpected(*all_.refuseStart);
            ++all_.starts;
            return {};
        }
        // A stop that Windows refuses must not keep the scanner running.
        Pd::Platform::Outcome<> Stop() override
        {
            return std::unexpected(Pd::Platform::Error{E_UNEXPECTED, L"no"});
        }

    private:
        FakeWatchers& all_;
    };

    WatcherFactory Factory()
    {
        return [this](ScanningMode mode)
                   -> Pd::Platform::Outcome<std::unique_ptr<Pd::Platform::AdvertisementWatcher>> {
            if (refuseCreate)
                return std::unexpected(*refuseCreate);
            created.push_back(mode);
            return std::make_unique<Watcher>(*this);
        };
    }
};

TEST(AdvertisementScanner, StartKeepsARunningWatcherAndItsModeAndStopOnlyStopsARunningOne)
{
    LogCapture log;
    FakeWatchers watchers;
    AdvertisementScanner scanner([](const Advertisement&) {}, watchers.Factory());
    scanner.Stop();
    scanner.Start(true);
    scanner.Start(false);
    EXPECT_EQ(watchers.created, std::vector{ScanningMode::Active});
    EXPECT_EQ(watchers.starts, 1);
    EXPECT_EQ(log.Count("scan: started (active)"), 1u);
    scanner.Stop();
    scanner.Stop();
    EXPECT_EQ(log.Count("scan: stopped"), 1u) << "only the running watcher is stopped";
    EXPECT_EQ(watchers.removed, std::vector<std::int64_t>{7}) << "the handler is removed by its token";
    EXPECT_EQ(watchers.alive, 0) << "the watcher is released";
    scanner.Start(false);
    EXPECT_EQ(watchers.created, (std::vector{ScanningMode::Active, ScanningMode::Passive}));
    EXPECT_EQ(log.Count("scan: started (passive)"), 1u);
}

TEST(AdvertisementScanner, AdvertisementsReachTheCallbackOnlyWhileRunning)
{
    FakeWatchers watchers;
    int reported = 0;
    Pd::Platform::ReceivedHandler late;
    const ReceivedAdvertisement received = Received(AdvertisementType::ConnectableUndirected);
    {
        AdvertisementScanner scanner([&](const Advertisement&) { ++reported; }, watchers.Factory());
        scanner.Start(true);
        watchers.handler(received);
        EXPECT_EQ(reported, 1);
        // Windows may still run a removed handler, even after the scanner is gone.
        late = watchers.handler;
        scanner.Stop();
        late(received);
        EXPECT_EQ(reported, 1);
        scanner.Start(true);
        watchers.handler(received);
        EXPECT_EQ(reported, 2) << "the new watcher reports again";
    }
    late(received);
    watchers.handler(received);
    EXPECT_EQ(reported, 2);
}

TEST(AdvertisementScanner, ARefusedStartIsLoggedLeavesItStoppedAndTheNextStartTriesAgain)
{
    for (bool atCreation : {true, false})
    {
        LogCapture log;
        FakeWatchers watchers;
        int reported = 0;
        AdvertisementScanner scanner([&](const Advertisement&) { ++reported; }, watchers.Factory());
        (atCreation ? watchers.refuseCreate : watchers.refuseStart) = {E_ACCESSDENIED, L"Access is denied."};
        scanner.Start(true);
        EXPECT_EQ(log.Count("scan: cannot start: 0x80070005 Access is denied."), 1u) << log.Dump();
        EXPECT_EQ(watchers.alive, 0) << "the refused watcher is released";
        if (watchers.handler)
            watchers.handler(Received(AdvertisementType::ConnectableUndirected));
        EXPECT_EQ(reported, 0);
        scanner.Stop();
        EXPECT_EQ(log.Count("scan: stopped"), 0u);

        watchers.refuseCreate.reset();
        watchers.refuseStart.reset();
        scanner.Start(false);
        EXPECT_EQ(log.Count("scan: started (passive)"), 1u);
    }
}

TEST(AdvertisementScanner, WithoutAWatcherInWindowsScanEnableIsStillAnswered)
{
    ASSERT_EQ(::GetEnvironmentVariableW(L"PELDRA_SIMULATION", nullptr, 0), 0u);
    LogCapture log;
    std::vector<Bytes> events;
    ControllerServices services;
    services.makeScanner = AdvertisementScannerFactory();
    Controller controller([&](Hci::PacketType, Bytes packet) { events.push_back(std::move(packet)); },
                          0x001A7DDA7113, std::move(services));
    controller.HandleCommand(Bytes{0x0C, 0x20, 0x02, 0x01, 0x00}); // LE Set Scan Enable: on
    EXPECT_EQ(events, (std::vector<Bytes>{{0x0E, 0x04, 0x01, 0x0C, 0x20, 0x00}}));
    EXPECT_EQ(log.Count("scan: cannot start: 0x80040154 "), 1u) << log.Dump(); // the class is not registered
}

} // namespace
