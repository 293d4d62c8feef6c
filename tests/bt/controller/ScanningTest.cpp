// Advertisement reports, the duplicate filter, names and signal strengths.
#include "ControllerHarness.h"

#include <gtest/gtest.h>

namespace
{

using namespace Pd::Bt;
using namespace Pd::Bt::Test;

constexpr std::uint64_t Device = 0x112233445566;

void Advertise(ControllerHarness& h, std::uint8_t kind, Bytes data, std::int8_t rssi = -50,
               bool random = false)
{
    h.scanner.report(Advertisement{Device, random, kind, rssi, std::move(data)});
}

TEST(Scanning, ScanEnableStartsTheScannerInTheModeOfTheScanParametersUntilReset)
{
    ControllerHarness h;
    EXPECT_EQ(h.Command(0x200C, {0x01, 0x00}), Events{CommandComplete(0x200C, 0x00)});
    h.Command(0x200B, {0x00, 0x10, 0x00, 0x10, 0x00, 0x00, 0x00});
    h.Command(0x200C, {0x00, 0x00});
    h.Command(0x200C, {0x01, 0x00});
    h.Command(0x0C03); // stops scanning and makes the scan active again
    Advertise(h, 0, {0x02, 0x01, 0x06});
    EXPECT_EQ(h.SentCount(), 5u) << "nothing reported after Reset";
    h.Command(0x200C, {0x01, 0x00});
    EXPECT_EQ(h.scanner.calls,
              (std::vector<std::string>{"start active", "stop", "start passive", "stop", "start active"}));
}

TEST(Scanning, AdvertisementsAreReportedOnlyWhileScanningAndAfterScanEnablesAnswer)
{
    ControllerHarness h;
    Advertise(h, 0, {0x02, 0x01, 0x06});
    EXPECT_TRUE(h.Sent().empty());
    // An advertisement heard the moment the scan starts follows the command's answer.
    h.scanner.heardAtStart = Advertisement{Device, false, 0, -60, {0x02, 0x01, 0x06}};
    EXPECT_EQ(h.Command(0x200C, {0x01, 0x00}),
              (Events{CommandComplete(0x200C, 0x00), LeMeta(0x02, {0x01, 0, 0x00, 0x66, 0x55, 0x44, 0x33,
                                                                   0x22, 0x11, 3, 0x02, 0x01, 0x06, 0xC4})}));
    Advertise(h, 3, {0x02, 0x01, 0x06}, -50, true);
    EXPECT_EQ(h.Sent().back().second,
              LeMeta(0x02, {0x01, 3, 0x01, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 3, 0x02, 0x01, 0x06, 0xCE}));
}

TEST(Scanning, PassiveScanDropsScanResponsesButLearnsTheirNames)
{
    ControllerHarness h;
    h.Command(0x200B, {0x00});
    h.Command(0x200C, {0x01, 0x00});
    std::size_t before = h.SentCount();
    Advertise(h, 4, {0x04, 0x09, 'K', 'e', 'y'});
    EXPECT_EQ(h.SentCount(), before);
    Bytes name = {0x00, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 'K', 'e', 'y'};
    name.resize(255, 0x00);
    EXPECT_EQ(h.Command(0x0419, {0x66, 0x55, 0x44, 0x33, 0x22, 0x11}),
              (Events{CommandStatus(0x0419, 0x00), Event(0x07, name)}));
}

TEST(Scanning, DuplicateFilterReportsChangesAndEmptyDataEveryTime)
{
    ControllerHarness h;
    h.Command(0x200C, {0x01, 0x01});
    std::size_t before = h.SentCount();
    Advertise(h, 0, {0x02, 0x01, 0x06});
    Advertise(h, 0, {0x02, 0x01, 0x06});
    Advertise(h, 3, {0x02, 0x01, 0x06}); // another kind is another key
    Advertise(h, 0, {0x02, 0x01, 0x04});
    Advertise(h, 0, {});
    Advertise(h, 0, {});
    EXPECT_EQ(h.SentCount(), before + 5);
    // A new scan enable forgets what was reported.
    h.Command(0x200C, {0x01, 0x01});
    before = h.SentCount();
    Advertise(h, 0, {0x02, 0x01, 0x04});
    EXPECT_EQ(h.SentCount(), before + 1);
}

TEST(ReadRssi, AnswersTheLastSeenSignalOfTheLinksDeviceOrMinus60)
{
    ControllerHarness h;
    h.Connect(Device);
    EXPECT_EQ(h.Command(0x1405, {0x40, 0x00}), Events{CommandComplete(0x1405, 0x00, {0x40, 0x00, 0xC4})});
    Advertise(h, 0, {}, -71);
    EXPECT_EQ(h.Command(0x1405, {0x40, 0x00}), Events{CommandComplete(0x1405, 0x00, {0x40, 0x00, 0xB9})});
}

} // namespace
