#include "tel/apn/ApnConnection.h"

#include "core/Log.h"
#include "core/LogEscape.h"
#include "core/Strings.h"

#include <fmt/format.h>

namespace Pd::Tel
{
namespace
{

constexpr HRESULT Canceled = HRESULT_FROM_WIN32(ERROR_CANCELLED);

void LogNotOpened(const MmsRequest& request, HRESULT code)
{
    Core::Log(fmt::format("mms: Windows did not open APN {} (0x{:08X})", Core::EscapeForLog(request.apn),
                          static_cast<std::uint32_t>(code)));
}

} // namespace

ApnConnection::ApnConnection(std::unique_ptr<Platform::ConnectionSession> session,
                             std::uint32_t interfaceIndex, const SOCKADDR_INET& address)
    : session(std::move(session)), interfaceIndex(interfaceIndex), address(address)
{
}

ApnConnection& ApnConnection::operator=(ApnConnection&& other) noexcept
{
    if (this != &other)
    {
        CloseApn(session);
        session = std::move(other.session);
        interfaceIndex = other.interfaceIndex;
        address = other.address;
    }
    return *this;
}

ApnConnection::~ApnConnection()
{
    CloseApn(session);
}

Platform::ApnAuthenticationType ApnAuthentication(std::int32_t requested, const std::string& user)
{
    using Type = Platform::ApnAuthenticationType;
    switch (requested)
    {
    case 0:
        return Type::None;
    case 1:
        return Type::Pap;
    case 2:
    case 3:
        return Type::Chap;
    default:
        return user.empty() ? Type::None : Type::Pap;
    }
}

void CloseApn(std::unique_ptr<Platform::ConnectionSession>& session)
{
    if (!session)
        return;
    static_cast<void>(session->Close()); // the session is released either way
    session.reset();
}

std::optional<ApnConnection> OpenApn(const MmsRequest& request, std::stop_token stop)
{
    Platform::ApnContext context{Core::FromUtf8(request.apn), Core::FromUtf8(request.user),
                                 Core::FromUtf8(request.password),
                                 ApnAuthentication(request.authentication, request.user)};
    auto acquired = Platform::CellularConnections()->AcquireConnection(context, stop);
    if (!acquired)
    {
        LogNotOpened(request, acquired.error().code);
        return std::nullopt;
    }
    std::unique_ptr<Platform::ConnectionSession> session = std::move(*acquired);
    if (!session)
    {
        Core::Log(
            fmt::format("mms: Windows opened APN {} but gave no interface", Core::EscapeForLog(request.apn)));
        return std::nullopt;
    }

    auto adapter = session->NetworkAdapterId();
    if (!adapter || !*adapter)
    {
        if (!adapter)
            LogNotOpened(request, adapter.error().code);
        else
            Core::Log(fmt::format("mms: Windows opened APN {} but gave no interface",
                                  Core::EscapeForLog(request.apn)));
        CloseApn(session);
        return std::nullopt;
    }

    NET_LUID luid{};
    NET_IFINDEX index = 0;
    if (::ConvertInterfaceGuidToLuid(&**adapter, &luid) != NO_ERROR ||
        ::ConvertInterfaceLuidToIndex(&luid, &index) != NO_ERROR)
    {
        Core::Log(fmt::format("mms: the interface of APN {} is not known to the network stack",
                              Core::EscapeForLog(request.apn)));
        CloseApn(session);
        return std::nullopt;
    }

    std::optional<SOCKADDR_INET> address = WaitForApnAddress(luid, stop);
    if (!address)
    {
        // A stop request ends the wait early: that is a cancelled opening, not a missing address.
        if (stop.stop_requested())
            LogNotOpened(request, Canceled);
        else
            Core::Log(fmt::format("mms: APN {} got no address within {} s", Core::EscapeForLog(request.apn),
                                  std::chrono::duration_cast<std::chrono::seconds>(ApnAddressLimit).count()));
        CloseApn(session);
        return std::nullopt;
    }
    return ApnConnection(std::move(session), index, *address);
}

} // namespace Pd::Tel
