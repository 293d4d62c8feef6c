// Advertisement reports, the duplicate filter, names and signal strengths.
#include "ControllerHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace
{

using namespace Pd::Bt;
using namespace Pd::Bt::Test;

constexpr std::uint64_t Device = 0x112233445566;

struct Scanning
{
    FakeScanner scanner;
    FakeRadio radio;
    ControllerServices Services()
    {
        ControllerServices services;
        services.makeScanner = scanner.Factory();
        services.connectLink = radio.Connector();
        return services;
    }
    void Advertise(std::uint8_t kind, Bytes data, std::int8_t rssi = -50, bool random = false)
    {
        scanner.report(Advertisement{Device, random, kind, rssi, std::move(data)});
    }
};

Bytes Report(std::uint8_t kind, const Bytes& data, std::int8_t rssi, std::uint8_t addressType = 0)
{
    Bytes p = {0x01, kind, addressType, 0x66, 0x55,
               0x44, 0x33, 0x22,        0x11, static_cast<std::uint8_t>(data.size())};
    std::copy(data.begin(), data.end(), std::back_inserter(p));
    p.push_back(static_cast<std::uint8_t>(rssi));
    return LeMeta(0x02, p);
}

TEST(Scanning, ScanEnableStartsTheScannerInTheModeOfTheScanParameters)
{
    Scanning s;
    ControllerHarness h(s.Services());
    EXPECT_EQ(h.Command(0x200C, {0x01, 0x00}), Events{CommandComplete(0x200C, 0x00)});
    h.Command(0x200B, {0x00, 0x10, 0x00, 0x10, 0x00, 0x00, 0x00});
    h.Command(0x200C, {0x00, 0x00});
    h.Command(0x200C, {0x01, 0x00});
    EXPECT_EQ(h.Command(0x200C, {0x01}), Events{CommandComplete(0x200C, 0x12)});
    EXPECT_EQ(h.Command(0x200B, {}), Events{CommandComplete(0x200B, 0x12)});
    EXPECT_EQ(s.scanner.calls, (std::vector<std::string>{"start active", "stop", "start passive"}));
}

TEST(Scanning, AdvertisementsAreReportedOnlyWhileScanning)
{
    Scanning s;
    ControllerHarness h(s.Services());
    s.Advertise(0, {0x02, 0x01, 0x06});
    EXPECT_TRUE(h.Sent().empty());
    h.Command(0x200C, {0x01, 0x00});
    s.Advertise(0, {0x02, 0x01, 0x06}, -50, true);
    EXPECT_EQ(h.Sent().back().second, Report(0, {0x02, 0x01, 0x06}, -50, 0x01));
}

TEST(Scanning, PassiveScanDropsScanResponsesButLearnsTheirNames)
{
    Scanning s;
    ControllerHarness h(s.Services());
    h.Command(0x200B, {0x00});
    h.Command(0x200C, {0x01, 0x00});
    std::size_t before = h.SentCount();
    s.Advertise(4, {0x04, 0x09, 'K', 'e', 'y'});
    EXPECT_EQ(h.SentCount(), before);
    auto events = h.Command(0x0419, {0x66, 0x55, 0x44, 0x33, 0x22, 0x11});
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], CommandStatus(0x0419, 0x00));
    Bytes expected = {0x00, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 'K', 'e', 'y'};
    expected.resize(255, 0x00);
    EXPECT_EQ(events[1], Event(0x07, expected));
}

TEST(Scanning, DuplicateFilterReportsChangesAndEmptyDataEveryTime)
{
    Scanning s;
    ControllerHarness h(s.Services());
    h.Command(0x200C, {0x01, 0x01});
    std::size_t before = h.SentCount();
    s.Advertise(0, {0x02, 0x01, 0x06});
    s.Advertise(0, {0x02, 0x01, 0x06});
    s.Advertise(3, {0x02, 0x01, 0x06}); // another kind is another key
    s.Advertise(0, {0x02, 0x01, 0x04});
    s.Advertise(0, {});
    s.Advertise(0, {});
    EXPECT_EQ(h.SentCount(), before + 5);
    // A new scan enable forgets what was reported.
    h.Command(0x200C, {0x01, 0x01});
    before = h.SentCount();
    s.Advertise(0, {0x02, 0x01, 0x04});
    EXPECT_EQ(h.SentCount(), before + 1);
}

TEST(Scanning, ResetStopsScanningAndClearsTheScanState)
{
    Scanning s;
    ControllerHarness h(s.Services());
    h.Command(0x200B, {0x00});
    h.Command(0x200C, {0x01, 0x01});
    h.Command(0x0C03);
    std::size_t before = h.SentCount();
    s.Advertise(0, {0x02, 0x01, 0x06});
    EXPECT_EQ(h.SentCount(), before);
    h.Command(0x200C, {0x01, 0x00});
    EXPECT_EQ(s.scanner.calls.back(), "start active") << "Reset makes the scan active again";
}

TEST(RemoteName, UnknownAddressAnswersPageTimeoutWithZeroName)
{
    ControllerHarness h;
    auto events = h.Command(0x0419, {1, 2, 3, 4, 5, 6});
    ASSERT_EQ(events.size(), 2u);
    Bytes expected = {0x04, 1, 2, 3, 4, 5, 6};
    expected.resize(255, 0x00);
    EXPECT_EQ(events[1], Event(0x07, expected));
    EXPECT_EQ(h.Command(0x041A, {1, 2, 3, 4, 5, 6}),
              Events{CommandComplete(0x041A, 0x00, {1, 2, 3, 4, 5, 6})});
}

TEST(ReadRssi, AnswersTheLastSeenSignalOfTheLinksDeviceOrMinus60)
{
    Scanning s;
    ControllerHarness h(s.Services());
    Bytes create = {0x60, 0x00, 0x30, 0x00, 0x00, 0x00, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00,
                    0x18, 0x00, 0x28, 0x00, 0x00, 0x00, 0xC8, 0x00, 0,    0,    0,    0};
    h.Command(0x200D, create);
    ASSERT_TRUE(h.WaitForPackets(2));
    EXPECT_EQ(h.Command(0x1405, {0x40, 0x00}), Events{CommandComplete(0x1405, 0x00, {0x40, 0x00, 0xC4})});
    s.Advertise(0, {}, -71);
    EXPECT_EQ(h.Command(0x1405, {0x40, 0x00}), Events{CommandComplete(0x1405, 0x00, {0x40, 0x00, 0xB9})});
    EXPECT_EQ(h.Command(0x1405, {0x40}), Events{CommandComplete(0x1405, 0x12)});
}

} // namespace
