// The access point for MMS traffic on a simulated PC whose cellular access point is this PC's
// loopback interface, so that addresses, the interface index and bound sockets are real.
#include "tel/apn/ApnConnection.h"

#include "platform/sim/SimCellularApn.h"
#include "tests/support/HangLimit.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

namespace
{

using Pd::Platform::ApnAuthenticationType;
using Pd::Test::LogCapture;
using Pd::Test::SimScenario;
using namespace std::chrono_literals;

Pd::Tel::MmsRequest Request(std::int32_t authentication = 0, std::string user = "",
                            std::string host = "mms.example")
{
    return {"internet", authentication, std::move(user), "secret", std::move(host), 8080};
}

MIB_IF_ROW2 LoopbackInterface()
{
    MIB_IF_ROW2 found{};
    PMIB_IF_TABLE2 table = nullptr;
    if (::GetIfTable2(&table) == NO_ERROR)
    {
        for (ULONG i = 0; i < table->NumEntries; ++i)
            if (table->Table[i].Type == IF_TYPE_SOFTWARE_LOOPBACK)
                found = table->Table[i];
        ::FreeMibTable(table);
    }
    return found;
}

std::string AddressText(const SOCKADDR_INET& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.si_family == AF_INET)
        ::inet_ntop(AF_INET, &address.Ipv4.sin_addr, text, sizeof(text));
    else
        ::inet_ntop(AF_INET6, &address.Ipv6.sin6_addr, text, sizeof(text));
    return text;
}

std::uint16_t Port(const SOCKADDR_INET& address)
{
    return ::ntohs(address.si_family == AF_INET ? address.Ipv4.sin_port : address.Ipv6.sin6_port);
}

SOCKADDR_INET Ipv4(const char* text)
{
    SOCKADDR_INET address{};
    address.si_family = AF_INET;
    ::inet_pton(AF_INET, text, &address.Ipv4.sin_addr);
    return address;
}

SOCKADDR_INET Ipv6(const char* text)
{
    SOCKADDR_INET address{};
    address.si_family = AF_INET6;
    ::inet_pton(AF_INET6, text, &address.Ipv6.sin6_addr);
    return address;
}

MIB_UNICASTIPADDRESS_ROW Row(std::uint64_t luid, SOCKADDR_INET address,
                             NL_DAD_STATE state = IpDadStatePreferred)
{
    MIB_UNICASTIPADDRESS_ROW row{};
    row.InterfaceLuid.Value = luid;
    row.Address = address;
    row.DadState = state;
    return row;
}

TEST(ApnAuthentication, MapsAndroidsNumbersToTheWindowsTypes)
{
    struct Case
    {
        std::int32_t requested;
        const char* user;
        ApnAuthenticationType expected;
    };
    const Case cases[] = {
        {0, "user", ApnAuthenticationType::None}, {1, "", ApnAuthenticationType::Pap},
        {2, "", ApnAuthenticationType::Chap},     {3, "user", ApnAuthenticationType::Chap},
        {-1, "user", ApnAuthenticationType::Pap}, {-1, "", ApnAuthenticationType::None},
        {7, "", ApnAuthenticationType::None},     {4, "u", ApnAuthenticationType::Pap},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Pd::Tel::ApnAuthentication(c.requested, c.user), c.expected)
            << c.requested << " with user \"" << c.user << "\"";
}

TEST(FindApnAddress, PrefersIpv4AndSkipsOtherInterfacesUnsettledAndLinkLocalAddresses)
{
    const MIB_UNICASTIPADDRESS_ROW ipv4[] = {
        Row(9, Ipv4("10.9.9.9")), Row(5, Ipv4("10.0.0.1"), IpDadStateTentative), Row(5, Ipv4("10.0.0.2"))};
    const MIB_UNICASTIPADDRESS_ROW ipv6[] = {Row(5, Ipv6("fe80::1")), Row(5, Ipv6("febf::2")),
                                             Row(5, Ipv6("2001:db8::5"))};
    NET_LUID luid{};
    luid.Value = 5;

    auto both = Pd::Tel::FindApnAddress(luid, ipv4, ipv6);
    ASSERT_TRUE(both);
    EXPECT_EQ(AddressText(*both), "10.0.0.2");

    auto onlyIpv6 = Pd::Tel::FindApnAddress(luid, {}, ipv6);
    ASSERT_TRUE(onlyIpv6);
    EXPECT_EQ(AddressText(*onlyIpv6), "2001:db8::5");

    const MIB_UNICASTIPADDRESS_ROW linkLocalOnly[] = {Row(5, Ipv6("fe80::1")), Row(5, Ipv6("fe9f::7"))};
    EXPECT_FALSE(Pd::Tel::FindApnAddress(luid, {}, linkLocalOnly));
    EXPECT_FALSE(Pd::Tel::FindApnAddress(luid, {}, {}));
}

TEST(WaitForApnAddress, FindsTheInterfacesAddressAndGivesUpWithoutOne)
{
    const MIB_IF_ROW2 loopback = LoopbackInterface();
    ASSERT_NE(loopback.InterfaceLuid.Value, 0u);
    auto address = Pd::Tel::WaitForApnAddress(loopback.InterfaceLuid);
    ASSERT_TRUE(address);
    EXPECT_EQ(AddressText(*address), "127.0.0.1");

    NET_LUID unknown{};
    unknown.Value = 0x00FFFFFF12345678ull;
    EXPECT_FALSE(Pd::Tel::WaitForApnAddress(unknown, {}, 300ms));

    std::stop_source stop;
    stop.request_stop();
    EXPECT_FALSE(Pd::Tel::WaitForApnAddress(loopback.InterfaceLuid, stop.get_token()));
}

TEST(OpenApn, OpensWithTheRequestsCredentialsAndClosesWhenTheConnectionGoes)
{
    SimScenario pc(R"({"cellular": {"adapter": "loopback"}})");
    LogCapture log;
    const MIB_IF_ROW2 loopback = LoopbackInterface();
    {
        auto connection = Pd::Tel::OpenApn(Request(3, "carrier"));
        ASSERT_TRUE(connection) << log.Dump();
        EXPECT_EQ(connection->interfaceIndex, loopback.InterfaceIndex);
        EXPECT_EQ(AddressText(connection->address), "127.0.0.1");
        EXPECT_EQ(Port(connection->address), 0);
        EXPECT_TRUE(connection->session->CarriesLoopbackNetwork()) << "the simulator's, and only it";

        auto sessions = Pd::Platform::Sim::RecordedApnSessions(pc.Folder());
        ASSERT_EQ(sessions.size(), 1u);
        EXPECT_EQ(sessions[0].context.accessPointName, L"internet");
        EXPECT_EQ(sessions[0].context.userName, L"carrier");
        EXPECT_EQ(sessions[0].context.password, L"secret");
        EXPECT_EQ(sessions[0].context.authenticationType, ApnAuthenticationType::Chap);
        EXPECT_FALSE(sessions[0].closed);
    }
    auto sessions = Pd::Platform::Sim::RecordedApnSessions(pc.Folder());
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_TRUE(sessions[0].closed);
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
}

TEST(OpenApn, FailuresAreLoggedWithTheirTextsAndLeaveNoAccessPointOpen)
{
    struct Case
    {
        const char* scenario;
        const char* line;
        size_t sessions;
    };
    const Case cases[] = {
        {R"({})", "mms: Windows did not open APN internet (0x80040154)", 0},
        {R"({"cellular": {"acquire": "0x80070490"}})", "mms: Windows did not open APN internet (0x80070490)",
         0},
        {R"({"cellular": {"acquire": "canceled"}})", "mms: Windows did not open APN internet (0x800704C7)",
         0},
        {R"({"cellular": {"acquire": "noSession"}})",
         "mms: Windows opened APN internet but gave no interface", 0},
        {R"({"cellular": {"acquire": "noAdapter"}})",
         "mms: Windows opened APN internet but gave no interface", 1},
        {R"({"cellular": {"adapter": "{0BADC0DE-0000-4000-8000-00000000F00D}"}})",
         "mms: the interface of APN internet is not known to the network stack", 1},
    };
    for (const Case& c : cases)
    {
        SimScenario pc(c.scenario);
        LogCapture log;
        EXPECT_FALSE(Pd::Tel::OpenApn(Request()));
        EXPECT_EQ(log.Count(c.line), 1u) << c.scenario << "\n" << log.Dump();
        EXPECT_EQ(log.Lines().size(), 1u) << log.Dump();
        auto sessions = Pd::Platform::Sim::RecordedApnSessions(pc.Folder());
        ASSERT_EQ(sessions.size(), c.sessions) << c.scenario;
        for (const auto& session : sessions)
            EXPECT_TRUE(session.closed) << c.scenario;
    }
}

TEST(OpenApn, WithoutSimulationTheServiceIsUnavailable)
{
    LogCapture log;
    EXPECT_FALSE(Pd::Tel::OpenApn(Request()));
    EXPECT_EQ(log.Count("mms: Windows did not open APN internet (0x80040154)"), 1u) << log.Dump();
}

TEST(OpenApn, AStopRequestCancelsAnOpeningThatTakesLong)
{
    SimScenario pc(R"({"cellular": {"acquireMs": 600000}})"); // far longer than a hang's limit
    LogCapture log;
    std::stop_source stop;
    std::jthread stopper([&] {
        std::this_thread::sleep_for(100ms);
        stop.request_stop();
    });
    auto opening =
        std::async(std::launch::async, [&] { return Pd::Tel::OpenApn(Request(), stop.get_token()); });
    ASSERT_EQ(opening.wait_for(Pd::Test::HangLimit), std::future_status::ready)
        << "not at the end of the ten-minute opening";
    EXPECT_FALSE(opening.get());
    EXPECT_EQ(log.Count("mms: Windows did not open APN internet (0x800704C7)"), 1u) << log.Dump();
    EXPECT_TRUE(Pd::Platform::Sim::RecordedApnSessions(pc.Folder()).empty());
}

TEST(CloseApn, ReleasesTheSessionEvenWhenClosingFails)
{
    SimScenario pc(R"({"cellular": {"closeFails": true}})");
    auto connection = Pd::Tel::OpenApn(Request());
    ASSERT_TRUE(connection);
    Pd::Tel::CloseApn(connection->session);
    EXPECT_EQ(connection->session, nullptr);
    auto sessions = Pd::Platform::Sim::RecordedApnSessions(pc.Folder());
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_FALSE(sessions[0].closed);
}

} // namespace
