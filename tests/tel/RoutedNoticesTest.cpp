// MMS notices routed by Windows' SMS router on a simulated PC: kept until Android starts, the
// registrations of earlier runs replaced, and hostile or late pushes dropped.
#include "tel/modem/RoutedNotices.h"
#include "tel/modem/WindowsModem.h"

#include "platform/sim/SimSmsRouter.h"
#include "tel/sms/MmsNoticePdu.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{

using Pd::Test::LogCapture;
using Id = std::uint32_t;
using Handed = std::vector<std::pair<Id, std::string>>;
const std::string Notice = "004405912143F50004523070415090000F0605040B8423F0000603BEAF848C82";

TEST(RoutedNotices, AreKeptUntilAndroidStartsAndTheRegistrationEndsWithTheModem)
{
    LogCapture log;
    Pd::Test::SimScenario pc(R"({"modem": {}, "smsRouter": {"registrations": ["Peldra", "Other", "Peldra"],
        "messages": [{"type": 2, "from": "+12345", "contentType": "application/vnd.wap.mms-message",
        "timestamp": 133858299090000000, "hex": "8C82"}, {"type": 1}, {"readFails": "0x8000000E"}]}})");
    auto modem = Pd::Tel::WindowsModem::OpenFirst();
    ASSERT_TRUE(modem);
    modem->ReceiveRoutedNotices();
    ASSERT_TRUE(log.WaitFor("router could not be read (0x8000000E)"));
    EXPECT_EQ(log.Count("router (2 octets, 1 part) - kept until Android starts"), 1u) << log.Dump();
    Handed handed;
    modem->SetMessageHandler({[&](const std::string& pdu, Id id) { handed.emplace_back(id, pdu); }, {}});
    modem->DeliverStored(); // hands kept notices on this thread
    EXPECT_EQ(handed, (Handed{{0x40000000, Notice}}));
    modem->Close();
    EXPECT_EQ(Pd::Platform::Sim::SmsRegistrations(pc.Folder()), (std::vector<std::wstring>{L"Other"}));
}

TEST(RoutedNotices, HostilePushesAndLateOnesAreDropped)
{
    const auto wap = Pd::Platform::SmsMessageType::Wap;
    const std::pair<Pd::Platform::RoutedSmsMessage, const char*> cases[] = {
        {{wap, L"+1", L"text/plain", {}}, "refused: it has no body (from \"+1\")"},
        {{wap, L"+1", L"text/plain", std::vector<std::uint8_t>(255 * 128 + 1)}, "its body of 32641 octets"},
        {{wap, L"+1\n2", L"text/plain", {1}}, "holds control characters (from \"+1\\x0A2\")"},
        {{wap, std::wstring(257, L'1'), L"text/plain", {1}}, "refused: its originator is too long"},
        {{wap, L"+1", L"text/\x85", {1}}, "refused: its content type"},
        {{wap, L"\"+1\"", L"application/vnd.wap.sic", {1}},
         "refused: it carries application/vnd.wap.sic, not an MMS notification (from \"\\x22+1\\x22\")"},
        {{wap, L"+1", L"text/plain", {1}}, nullptr}, // arriving after Close
    };
    for (const auto& [message, line] : cases)
    {
        LogCapture log;
        Pd::Tel::Shared shared;
        shared.closed = !line;
        Pd::Tel::OnRoutedMessage(shared, message);
        EXPECT_TRUE(shared.keptNotices.empty());
        EXPECT_EQ(log.Lines().size(), line ? 1u : 0u) << log.Dump();
        EXPECT_TRUE(!line || log.Count(line) == 1) << log.Dump();
    }
}

TEST(RoutedNotices, KeptOnesStayWithinTheirBoundsTheOldestGoingFirstWithAllTheirParts)
{
    using namespace Pd::Tel;
    LogCapture log;
    Shared shared;
    auto push = [&](std::size_t body, const wchar_t* type = L"application/vnd.wap.mms-message") {
        OnRoutedMessage(shared, Pd::Platform::RoutedSmsMessage{Pd::Platform::SmsMessageType::Wap, L"+1", type,
                                                               std::vector<std::uint8_t>(body, 0x41)});
        std::size_t text = 0;
        for (const KeptNotice& notice : shared.keptNotices)
            text += notice.pdu.size();
        EXPECT_LE(shared.keptNotices.size(), MaxKeptNotices);
        EXPECT_LE(text, MaxKeptNoticeText);
    };
    for (int i = 0; i < 600; ++i)
        push(2, i % 2 ? L"Application/VND.WAP.MMS-Message; charset=x" : L"application/vnd.wap.mms-message");
    ASSERT_EQ(shared.keptNotices.size(), MaxKeptNotices);
    EXPECT_EQ(shared.keptNotices.front().id, FirstNoticeId + 600 - MaxKeptNotices);
    EXPECT_EQ(log.Count("the oldest (1 part) was dropped"), 600 - MaxKeptNotices);
    // The largest notices (255 parts): the first goes whole, after every small one.
    push((MaxParts - 1) * ConcatenatedPartData);
    push((MaxParts - 1) * ConcatenatedPartData);
    const std::vector<KeptNotice>& kept = shared.keptNotices;
    ASSERT_GE(kept.size(), 250u);
    EXPECT_TRUE(std::ranges::all_of(
        kept, [&](const KeptNotice& notice) { return notice.message == kept[0].message; }));
    EXPECT_EQ(log.Count("the oldest (" + std::to_string(kept.size()) + " parts) was dropped"), 1u)
        << log.Dump();
}

} // namespace
