#include "tel/bridge/Bridge.h"

#include "core/Log.h"
#include "core/LogEscape.h"
#include "guest/Vsock.h"
#include "tel/bridge/Session.h"
#include "tel/mms/MmsRelay.h"
#include "tel/modem/WindowsModem.h"

#include <fmt/format.h>

#include <memory>
#include <string_view>
#include <thread>

namespace Pd::Tel
{
namespace
{

constexpr std::string_view ServiceName = "Android RIL";

// A partial send is continued; an error drops the rest.
void SendAll(SOCKET socket, std::string_view text)
{
    while (!text.empty())
    {
        int done = ::send(socket, text.data(), static_cast<int>(text.size()), 0);
        if (done <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(done));
    }
}

void LogSnapshot(const ModemState& state)
{
    // The provider's name comes from the network.
    Core::Log(fmt::format("modem: {} - SIM {}, network {} ({}), signal {}",
                          state.imei.empty() ? "no IMEI" : "ready", state.simReady ? "ready" : "not ready",
                          state.providerName.empty() ? "none" : Core::EscapeForLog(state.providerName),
                          Core::EscapeForLog(state.providerId), state.signal));
}

} // namespace

void RunSession(Modem& modem, SOCKET socket, std::stop_token)
{
    ServeStream(modem, {
                           [socket](std::span<char> buffer) {
                               return ::recv(socket, buffer.data(), static_cast<int>(buffer.size()), 0);
                           },
                           [socket](std::string_view text) { SendAll(socket, text); },
                           [socket] { ::shutdown(socket, SD_BOTH); },
                       });
}

void RunBridge(std::stop_token stop)
{
    std::unique_ptr<WindowsModem> modem = WindowsModem::OpenFirst();
    if (!modem)
    {
        Core::Log("modem: no mobile broadband modem on this PC - Android shows no SIM");
        return;
    }
    LogSnapshot(modem->ReadState());
    modem->ReceiveRoutedNotices();
    // The relay follows the bridge's own stop token: once the service below returns, it is ending too.
    std::jthread relay([stop] { RunMmsRelay(stop); });
    Guest::ServeVsock(
        Guest::RilServiceId, ServiceName,
        [&modem](SOCKET socket, std::stop_token connection) { RunSession(*modem, socket, connection); },
        stop);
    relay.join();
    modem.reset();
}

} // namespace Pd::Tel
