#include "tel/apn/ApnConnection.h"

#include "core/Log.h"
#include "core/LogEscape.h"
#include "core/Strings.h"
#include "platform/DnsQuery.h"

#include <fmt/format.h>

#include <cstring>

namespace Pd::Tel
{
namespace
{

SOCKADDR_INET MakeAddress(ADDRESS_FAMILY family, const std::uint8_t* bytes, std::uint16_t port)
{
    SOCKADDR_INET address{};
    address.si_family = family;
    if (family == AF_INET)
    {
        address.Ipv4.sin_port = ::htons(port);
        std::memcpy(&address.Ipv4.sin_addr, bytes, 4);
    }
    else
    {
        address.Ipv6.sin6_port = ::htons(port);
        std::memcpy(&address.Ipv6.sin6_addr, bytes, 16);
    }
    return address;
}

// The addresses of the host's records of the family, asked of the access point's DNS servers.
std::vector<SOCKADDR_INET> AskDns(const MmsRequest& request, const ApnConnection& connection,
                                  ADDRESS_FAMILY family)
{
    std::vector<SOCKADDR_INET> addresses;
    const WORD type = family == AF_INET ? Platform::DnsTypeA : Platform::DnsTypeAaaa;
    const std::size_t size = family == AF_INET ? 4 : 16;
    auto answer = Platform::QueryInterfaceDns(Core::FromUtf8(request.host), type, connection.interfaceIndex);
    if (answer)
        for (const std::vector<std::uint8_t>& bytes : *answer)
            if (bytes.size() == size)
                addresses.push_back(MakeAddress(family, bytes.data(), request.port));
    return addresses;
}

std::string AddressText(const SOCKADDR_INET& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    const void* bytes = address.si_family == AF_INET ? static_cast<const void*>(&address.Ipv4.sin_addr)
                                                     : static_cast<const void*>(&address.Ipv6.sin6_addr);
    ::inet_ntop(address.si_family, bytes, text, sizeof(text));
    return text;
}

} // namespace

std::vector<SOCKADDR_INET> ResolveThroughApn(const MmsRequest& request, const ApnConnection& connection)
{
    const ADDRESS_FAMILY family = connection.address.si_family == AF_INET6 ? AF_INET6 : AF_INET;
    std::vector<SOCKADDR_INET> addresses;
    // A host with a NUL byte would reach the resolver cut short: it names nothing.
    if (request.host.find('\0') == std::string::npos)
    {
        std::uint8_t literal[16] = {};
        if (::inet_pton(family, request.host.c_str(), literal) == 1)
            addresses.push_back(MakeAddress(family, literal, request.port));
        else
            addresses = AskDns(request, connection, family);
    }
    if (addresses.empty())
    {
        Core::Log(fmt::format("mms: the name {} is not known through APN {}",
                              Core::EscapeForLog(request.host), Core::EscapeForLog(request.apn)));
        return addresses;
    }
    const std::vector<SOCKADDR_INET> own = OwnAddresses();
    const bool carriesLoopback = connection.session && connection.session->CarriesLoopbackNetwork();
    std::erase_if(addresses, [&](const SOCKADDR_INET& address) {
        std::optional<std::string_view> refused =
            RefusedServerAddress(address, connection.address, carriesLoopback, own);
        if (refused)
            Core::Log(fmt::format("mms: {} leads to {}, {} - refused", Core::EscapeForLog(request.host),
                                  AddressText(address), *refused));
        return refused.has_value();
    });
    return addresses;
}

} // namespace Pd::Tel
