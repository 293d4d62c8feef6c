// Name resolution through the access point and a server socket bound to its interface, on a
// simulated PC whose access point is this PC's loopback interface.
#include "tel/apn/ApnConnection.h"

#include "tests/support/HangLimit.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace
{

using Pd::Test::LogCapture;
using Pd::Test::SimScenario;
using namespace std::chrono_literals;

constexpr const char* Names = R"({"cellular": {"names": {
    "mms.example": ["10.0.0.7", "2001:db8::7", "10.0.0.8"],
    "::1": ["10.1.1.1"],
    "v6.example": ["2001:db8::9"],
    "inside.example": ["127.0.0.1", "169.254.0.9", "10.0.0.9"]}}})";

Pd::Tel::MmsRequest Request(std::string host, std::uint16_t port = 8080)
{
    return {"internet", 0, "", "", std::move(host), port};
}

Pd::Tel::ApnConnection Connection(ADDRESS_FAMILY family)
{
    SOCKADDR_INET address{};
    address.si_family = family;
    return Pd::Tel::ApnConnection(nullptr, 1, address);
}

std::vector<std::string> Texts(const std::vector<SOCKADDR_INET>& addresses, std::uint16_t port)
{
    std::vector<std::string> texts;
    for (const SOCKADDR_INET& address : addresses)
    {
        char text[INET6_ADDRSTRLEN] = {};
        const bool ipv4 = address.si_family == AF_INET;
        ::inet_ntop(address.si_family,
                    ipv4 ? static_cast<const void*>(&address.Ipv4.sin_addr) : &address.Ipv6.sin6_addr, text,
                    sizeof(text));
        EXPECT_EQ(::ntohs(ipv4 ? address.Ipv4.sin_port : address.Ipv6.sin6_port), port) << text;
        texts.emplace_back(text);
    }
    return texts;
}

TEST(ResolveThroughApn, AsksOnlyForAddressesOfTheAccessPointsFamily)
{
    SimScenario pc(Names);
    LogCapture log;
    EXPECT_EQ(Texts(Pd::Tel::ResolveThroughApn(Request("mms.example"), Connection(AF_INET)), 8080),
              (std::vector<std::string>{"10.0.0.7", "10.0.0.8"}));
    EXPECT_EQ(Texts(Pd::Tel::ResolveThroughApn(Request("mms.example", 80), Connection(AF_INET6)), 80),
              (std::vector<std::string>{"2001:db8::7"}));
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
}

TEST(ResolveThroughApn, AnAddressLiteralOfTheFamilyIsUsedWithoutAskingDns)
{
    SimScenario pc(Names);
    EXPECT_EQ(Texts(Pd::Tel::ResolveThroughApn(Request("192.0.2.10", 9000), Connection(AF_INET)), 9000),
              (std::vector<std::string>{"192.0.2.10"}));
    EXPECT_EQ(Texts(Pd::Tel::ResolveThroughApn(Request("2001:db8::1"), Connection(AF_INET6)), 8080),
              (std::vector<std::string>{"2001:db8::1"}));
    // An IPv6 literal is a name to an IPv4 access point: the DNS answer for it counts.
    EXPECT_EQ(Texts(Pd::Tel::ResolveThroughApn(Request("::1"), Connection(AF_INET)), 8080),
              (std::vector<std::string>{"10.1.1.1"}));
}

TEST(ResolveThroughApn, ANameWithoutAddressesOfTheFamilyIsLoggedAndGivesNone)
{
    SimScenario pc(Names);
    LogCapture log;
    EXPECT_TRUE(Pd::Tel::ResolveThroughApn(Request("nowhere.example"), Connection(AF_INET)).empty());
    EXPECT_TRUE(Pd::Tel::ResolveThroughApn(Request("v6.example"), Connection(AF_INET)).empty());
    EXPECT_TRUE(
        Pd::Tel::ResolveThroughApn(Request(std::string("10.0.0.7\0x", 10)), Connection(AF_INET)).empty());
    EXPECT_EQ(log.Count("mms: the name nowhere.example is not known through APN internet"), 1u) << log.Dump();
    EXPECT_EQ(log.Count("mms: the name v6.example is not known through APN internet"), 1u) << log.Dump();
    EXPECT_EQ(log.Lines().size(), 3u) << log.Dump();
}

SOCKADDR_INET Address(const char* text)
{
    SOCKADDR_INET address{};
    address.si_family = std::string_view(text).contains(':') ? AF_INET6 : AF_INET;
    ::inet_pton(address.si_family, text,
                address.si_family == AF_INET ? static_cast<void*>(&address.Ipv4.sin_addr)
                                             : &address.Ipv6.sin6_addr);
    return address;
}

TEST(ResolveThroughApn, AddressesIntoThisPcOrOfNoSingleServerAreRefused)
{
    const SOCKADDR_INET cellular = Address("10.64.0.2"), loopback = Address("127.0.0.1");
    const SOCKADDR_INET own[] = {cellular, Address("192.168.1.20"), Address("2001:db8::20")};
    const std::pair<const char*, const char*> cases[] = {
        // The address, and why it is refused (none: the relay connects).
        {"10.0.0.7", "none"},
        {"2001:db8::7", "none"},
        {"0.1.2.3", "an unspecified address"},
        {"::", "an unspecified address"},
        {"127.9.9.9", "a loopback address"},
        {"::ffff:127.0.0.1", "a loopback address"},
        {"169.254.0.9", "a link-local address"},
        {"fe80::1", "a link-local address"},
        {"224.0.0.1", "a multicast address"},
        {"ff02::1", "a multicast address"},
        {"255.255.255.255", "the broadcast address"},
        {"10.64.0.2", "an address of this PC"},
        {"::ffff:192.168.1.20", "an address of this PC"},
        {"2001:db8::20", "an address of this PC"},
    };
    for (const auto& [address, refused] : cases)
        for (bool carriesLoopback : {false, true})
            EXPECT_EQ(Pd::Tel::RefusedServerAddress(Address(address), cellular, carriesLoopback, own)
                          .value_or("none"),
                      refused)
                << address;
    // Only a simulated access point on the loopback interface carries the loopback network; a real
    // one with a loopback address leads into this PC.
    EXPECT_FALSE(Pd::Tel::RefusedServerAddress(Address("127.0.0.1"), loopback, true, own));
    EXPECT_EQ(Pd::Tel::RefusedServerAddress(Address("127.0.0.1"), loopback, false, own),
              "a loopback address");
    EXPECT_EQ(Pd::Tel::RefusedServerAddress(Address("::1"), Address("::1"), false, own),
              "a loopback address");

    SimScenario pc(Names);
    LogCapture log;
    EXPECT_EQ(Texts(Pd::Tel::ResolveThroughApn(Request("inside.example"), Connection(AF_INET)), 8080),
              (std::vector<std::string>{"10.0.0.9"}));
    EXPECT_EQ(log.Count("mms: inside.example leads to 127.0.0.1, a loopback address - refused"), 1u)
        << log.Dump();
    EXPECT_EQ(log.Count("mms: inside.example leads to 169.254.0.9, a link-local address - refused"), 1u);
    // An access point that is not the simulator's refuses loopback even on a loopback address.
    Pd::Tel::ApnConnection onLoopback = Connection(AF_INET);
    onLoopback.address = loopback;
    EXPECT_EQ(Texts(Pd::Tel::ResolveThroughApn(Request("inside.example"), onLoopback), 8080),
              (std::vector<std::string>{"10.0.0.9"}));
}

TEST(ApnConnection, ASocketBoundToTheAccessPointReachesTheResolvedServer)
{
    Pd::Test::LoopbackPeer server(Pd::Test::LoopbackPeer::CloseAtOnce);
    SimScenario pc(R"({"cellular": {"adapter": "loopback", "names": {"mms.example": ["127.0.0.1"]}}})");
    auto connection = Pd::Tel::OpenApn(Request("mms.example"));
    ASSERT_TRUE(connection);
    auto addresses = Pd::Tel::ResolveThroughApn(Request("mms.example", server.Port()), *connection);
    ASSERT_EQ(addresses.size(), 1u);

    SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(socket, INVALID_SOCKET);
    DWORD index = ::htonl(connection->interfaceIndex);
    ::setsockopt(socket, IPPROTO_IP, 31 /* IP_UNICAST_IF */, reinterpret_cast<const char*>(&index),
                 sizeof(index));
    EXPECT_EQ(::bind(socket, reinterpret_cast<const sockaddr*>(&connection->address), sizeof(sockaddr_in)),
              0);
    EXPECT_EQ(::connect(socket, reinterpret_cast<const sockaddr*>(&addresses[0]), sizeof(sockaddr_in)), 0)
        << ::WSAGetLastError();
    sockaddr_in local{};
    int length = sizeof(local);
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length);
    EXPECT_EQ(local.sin_addr.s_addr, connection->address.Ipv4.sin_addr.s_addr);
    ::closesocket(socket);
    EXPECT_TRUE(server.WaitForConnections(1, Pd::Test::HangLimit));
}

} // namespace
