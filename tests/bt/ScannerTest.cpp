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
        AdvertisementType type;
        bool connectable;
        bool scannable;
        std::uint8_t kind;
    };
    const auto other = static_cast<AdvertisementType>(9);
    for (const Case& c : {
             Case{AdvertisementType::ConnectableUndirected, false, false, 0},
             Case{AdvertisementType::ConnectableDirected, false, false, 1},
             Case{AdvertisementType::ScannableUndirected, false, false, 2},
             Case{AdvertisementType::NonConnectableUndirected, true, true, 3},
             Case{AdvertisementType::ScanResponse, true, false, 4},
             Case{AdvertisementType::Extended, true, true, 0},
             Case{AdvertisementType::Extended, false, true, 2},
             Case{AdvertisementType::Extended, false, false, 3},
             Case{other, true, false, 0},
             Case{other, false, false, 3},
         })
        EXPECT_EQ(ToAdvertisement(Received(c.type, c.connectable, c.scannable)).kind, c.kind)
            << "type " << static_cast<int>(c.type) << " connectable " << c.connectable << " scannable "
            << c.scannable;
}

TEST(ToAdvertisement, SignalIsHeldToMinus127To20)
{
    const std::pair<std::int16_t, std::int8_t> cases[] = {
        {-128, -127}, {-127, -127}, {-300, -127}, {25, 20}, {20, 20}, {1000, 20}, {-60, -60}, {0, 0},
    };
    for (const auto& [raw, rssi] : cases)
        EXPECT_EQ(ToAdvertisement(Received(AdvertisementType::ConnectableUndirected, false, false, raw)).rssi,
                  rssi)
            << raw;
}

TEST(ToAdvertisement, CarriesTheAddressAndItsTypeAndReencodesTheSectionsInOrder)
{
    ReceivedAdvertisement received = Received(AdvertisementType::ScanResponse);
    received.address = 0xFFFF'C0FF'EE00'0001; // Windows' 64 bits; only 48 are an address
    received.randomAddress = true;
    received.sections = {
        {0x01, {0x06}}, {0xFF, std::vector<std::uint8_t>(30, 0xAA)}, {0x09, {'K', 'e', 'y'}}};
    Advertisement advertisement = ToAdvertisement(received);
    EXPECT_EQ(advertisement.address, 0xC0FF'EE00'0001u);
    EXPECT_TRUE(advertisement.random);
    EXPECT_EQ(advertisement.data, (Bytes{0x02, 0x01, 0x06, 0x04, 0x09, 'K', 'e', 'y'}))
        << "the 30-byte section is left out, the name after it kept";
}

// Watchers that the scanner creates, with what happened to them; a test may make Windows refuse.
struct FakeWatchers
{
    std::vector<ScanningMode> created;
    std::optional<Pd::Platform::Error> refuseCreate;
    std::optional<Pd::Platform::Error> refuseStart;
    Pd::Platform::ReceivedHandler handler; // the last one registered
    int alive = 0;
    int running = 0;
    int removed = 0;

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

    class Watcher final : public Pd::Platform::AdvertisementWatcher
    {
    public:
        explicit Watcher(FakeWatchers& all) : all_(all) { ++all_.alive; }
        ~Watcher() override
        {
            --all_.alive;
            if (started_)
                --all_.running;
        }
        Pd::Platform::Outcome<std::int64_t> AddReceived(Pd::Platform::ReceivedHandler handler) override
        {
            all_.handler = std::move(handler);
            return 7;
        }
        void RemoveReceived(std::int64_t token) override { all_.removed += token == 7 ? 1 : 100; }
        Pd::Platform::Outcome<> Start() override
        {
            if (all_.refuseStart)
                return std::unexpected(*all_.refuseStart);
            started_ = true;
            ++all_.running;
            return {};
        }
        Pd::Platform::Outcome<> Stop() override
        {
            if (started_)
                --all_.running;
            started_ = false;
            return std::unexpected(Pd::Platform::Error{E_UNEXPECTED, L"stop refused"}); // must not matter
        }

    private:
        FakeWatchers& all_;
        bool started_ = false;
    };
};

TEST(AdvertisementScanner, StartKeepsARunningWatcherAndItsModeAndStopOnlyStopsARunningOne)
{
    LogCapture log;
    FakeWatchers watchers;
    AdvertisementScanner scanner([](const Advertisement&) {}, watchers.Factory());
    scanner.Stop();
    EXPECT_EQ(log.Count("scan: stopped"), 0u) << "nothing ran";
    scanner.Start(true);
    scanner.Start(false);
    EXPECT_EQ(watchers.created, std::vector{ScanningMode::Active});
    EXPECT_EQ(watchers.running, 1);
    EXPECT_EQ(log.Count("scan: started (active)"), 1u);
    scanner.Stop();
    scanner.Stop();
    EXPECT_EQ(log.Count("scan: stopped"), 1u) << "a refused Windows stop still counts";
    EXPECT_EQ(watchers.removed, 1) << "the handler is removed by its token";
    EXPECT_EQ(watchers.alive, 0) << "the watcher is released";
    scanner.Start(false);
    EXPECT_EQ(watchers.created, (std::vector{ScanningMode::Active, ScanningMode::Passive}));
    EXPECT_EQ(log.Count("scan: started (passive)"), 1u);
}

TEST(AdvertisementScanner, AdvertisementsReachTheCallbackOnlyWhileRunning)
{
    FakeWatchers watchers;
    std::vector<Advertisement> reported;
    Pd::Platform::ReceivedHandler late;
    {
        AdvertisementScanner scanner([&](const Advertisement& a) { reported.push_back(a); },
                                     watchers.Factory());
        scanner.Start(true);
        ReceivedAdvertisement received =
            Received(AdvertisementType::NonConnectableUndirected, false, false, -128);
        received.address = 0x112233445566;
        watchers.handler(received);
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_EQ(reported[0].address, 0x112233445566u);
        EXPECT_EQ(reported[0].kind, 3);
        EXPECT_EQ(reported[0].rssi, -127);

        // Windows may still run a handler that was removed, even after the scanner is gone.
        late = watchers.handler;
        scanner.Stop();
        late(received);
        scanner.Start(true);
        watchers.handler(received);
        EXPECT_EQ(reported.size(), 2u) << "the new watcher reports again";
    }
    late(Received(AdvertisementType::ConnectableUndirected));
    watchers.handler(Received(AdvertisementType::ConnectableUndirected));
    EXPECT_EQ(reported.size(), 2u);
    EXPECT_EQ(watchers.alive, 0) << "releasing the scanner released its watcher";
}

TEST(AdvertisementScanner, ARefusedStartIsLoggedLeavesItStoppedAndTheNextStartTriesAgain)
{
    for (bool atCreation : {true, false})
    {
        LogCapture log;
        FakeWatchers watchers;
        int reported = 0;
        AdvertisementScanner scanner([&](const Advertisement&) { ++reported; }, watchers.Factory());
        Pd::Platform::Error refusal{E_ACCESSDENIED, L"Access is denied."};
        (atCreation ? watchers.refuseCreate : watchers.refuseStart) = refusal;
        scanner.Start(true);
        EXPECT_EQ(log.Count("scan: cannot start: 0x80070005 Access is denied."), 1u) << log.Dump();
        EXPECT_EQ(log.Count("scan: started"), 0u);
        EXPECT_EQ(watchers.alive, 0) << "the refused watcher is released";
        if (watchers.handler)
            watchers.handler(Received(AdvertisementType::ConnectableUndirected));
        EXPECT_EQ(reported, 0);
        scanner.Stop();
        EXPECT_EQ(log.Count("scan: stopped"), 0u);

        watchers.refuseCreate.reset();
        watchers.refuseStart.reset();
        scanner.Start(false);
        EXPECT_EQ(watchers.running, 1);
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
    EXPECT_EQ(log.Count("scan: cannot start: 0x80040154 Class not registered"), 1u) << log.Dump();
}

} // namespace
