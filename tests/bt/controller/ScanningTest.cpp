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

// The status of Remote Name Request Complete for the address: 0x00 with a name, 0x04 without.
std::uint8_t NameStatus(ControllerHarness& h, std::uint64_t address)
{
    Bytes parameters;
    for (int i = 0; i < 6; ++i)
        parameters.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    return h.Command(0x0419, parameters).at(1).at(2);
}

TEST(Scanning, AdvertisersHeardLongestAgoGoFirstAndTheRestOutliveScanStopsAndReset)
{
    for (const Bytes& stop : {Bytes{0x0C, 0x20, 0x02, 0x00, 0x00}, Bytes{0x03, 0x0C, 0x00}}) // disable, Reset
    {
        ControllerHarness h;
        h.Command(0x200C, {0x01, 0x01});
        auto hear = [&](std::uint64_t address) {
            std::size_t before = h.SentCount();
            h.scanner.report(Advertisement{address, true, 0, -50, {0x03, 0x09, 'A', 'B'}});
            return h.SentCount() - before; // reports sent
        };
        // Names and signals are kept for 512 addresses, the duplicate filter's entries for 1024.
        for (std::uint64_t address = 1; address <= 1024; ++address)
            hear(address);
        EXPECT_EQ(hear(513), 0u) << "a duplicate, heard again: now the newest";
        hear(1025);
        EXPECT_EQ(NameStatus(h, 513), 0x00);
        EXPECT_EQ(NameStatus(h, 514), 0x04) << "the name heard longest ago is forgotten";
        EXPECT_EQ(NameStatus(h, 1025), 0x00);
        EXPECT_EQ(hear(2), 0u);
        EXPECT_EQ(hear(1), 1u) << "forgotten by the duplicate filter";
        h.RawCommand(stop);
        hear(3); // late from Windows, after the stop
        for (std::uint64_t address : {1, 3, 1025})
            EXPECT_EQ(NameStatus(h, address), 0x00) << address;
        EXPECT_EQ(NameStatus(h, 514), 0x04);
        h.Command(0x200C, {0x01, 0x01});
        EXPECT_EQ(hear(2), 1u) << "the duplicate filter starts afresh";
    }
}

TEST(ReadRssi, AnswersTheLastSignalHeardFromTheLinksDeviceOrMinus60)
{
    ControllerHarness h;
    h.Connect(Device);
    EXPECT_EQ(h.Command(0x1405, {0x40, 0x00}), Events{CommandComplete(0x1405, 0x00, {0x40, 0x00, 0xC4})});
    h.Command(0x200C, {0x01, 0x00});
    Advertise(h, 0, {}, -71);
    EXPECT_EQ(h.Command(0x1405, {0x40, 0x00}), Events{CommandComplete(0x1405, 0x00, {0x40, 0x00, 0xB9})});
    h.Command(0x200C, {0x00, 0x00});
    EXPECT_EQ(h.Command(0x1405, {0x40, 0x00}), Events{CommandComplete(0x1405, 0x00, {0x40, 0x00, 0xB9})});

    // A device connected after it was heard keeps its signal while 512 others crowd it out.
    constexpr std::uint64_t Other = 0xA1A2A3A4A5A6;
    h.scanner.report(Advertisement{Other, false, 0, -40, {}});
    h.Connect(Other);
    for (std::uint64_t address = 1; address <= 512; ++address)
        h.scanner.report(Advertisement{address, true, 0, -90, {}});
    EXPECT_EQ(h.Command(0x1405, {0x41, 0x00}), Events{CommandComplete(0x1405, 0x00, {0x41, 0x00, 0xD8})});
}

} // namespace
