#include "tel/mms/MmsRelay.h"

#include "core/ComApartment.h"
#include "core/Log.h"
#include "core/LogEscape.h"
#include "guest/Vsock.h"
#include "tel/apn/ApnConnection.h"
#include "tel/mms/MmsConnect.h"
#include "tel/mms/MmsRequest.h"

#include <fmt/format.h>

#include <string>

namespace Pd::Tel
{
namespace
{

// The request line, read one byte per receive so that the exchange's first bytes stay in the
// socket. None when the connection ends first; a line that is too long is reported.
std::optional<std::string> ReadRequestLine(SOCKET android, bool& tooLong)
{
    MmsRequestLineReader reader;
    while (true)
    {
        char byte = 0;
        if (::recv(android, &byte, 1, 0) <= 0)
            return std::nullopt;
        switch (reader.Add(byte))
        {
        case MmsRequestLineReader::State::Reading:
            break;
        case MmsRequestLineReader::State::Complete:
            return reader.Line();
        case MmsRequestLineReader::State::TooLong:
            tooLong = true;
            return std::nullopt;
        }
    }
}

void LogCuts(const MmsPumpResult& result, const MmsExchangeLimits& limits, std::string_view server)
{
    if (result.outTooLarge)
        Core::Log(fmt::format("mms: Android sent more than {} bytes for {} - exchange cut", limits.bytesOut,
                              server));
    if (result.inTooLarge)
        Core::Log(fmt::format("mms: {} answered more than {} bytes - exchange cut", server, limits.bytesIn));
    if (result.serverSilent)
        Core::Log(fmt::format("mms: {} sent nothing for {:g} s after Android's request - exchange ended",
                              server, static_cast<double>(limits.serverSilence.count()) / 1000));
}

} // namespace

bool SendAnswer(SOCKET socket, std::string_view text)
{
    std::string line = std::string(text) + "\n";
    std::string_view rest = line;
    while (!rest.empty())
    {
        int sent = ::send(socket, rest.data(), static_cast<int>(rest.size()), 0);
        if (sent <= 0)
            return false;
        rest.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void ServeMmsRequest(SOCKET android, std::stop_token stop, const MmsExchangeLimits& limits)
{
    bool tooLong = false;
    std::optional<std::string> line = ReadRequestLine(android, tooLong);
    if (!line)
    {
        if (tooLong)
        {
            Core::Log(
                fmt::format("mms: Android's request line is longer than {} bytes", MmsRequestLineLimit));
            SendAnswer(android, "ERR\tbad request");
        }
        return;
    }
    std::optional<MmsRequest> request = ParseMmsRequest(*line);
    if (!request)
    {
        Core::Log("mms: Android sent a request the host does not understand");
        SendAnswer(android, "ERR\tbad request");
        return;
    }

    std::optional<ApnConnection> apn = OpenApn(*request, stop);
    if (!apn)
    {
        // The name holds no control character (the parser refuses them), so it cannot break the line.
        SendAnswer(android, "ERR\tAPN " + request->apn + " not opened");
        return;
    }
    const std::string apnName = Core::EscapeForLog(request->apn);
    const std::string server = fmt::format("{}:{}", Core::EscapeForLog(request->host), request->port);
    std::vector<SOCKADDR_INET> addresses = ResolveThroughApn(*request, *apn);
    Platform::UniqueSocket connection = ConnectThroughApn(*apn, addresses, stop);
    if (!connection)
    {
        Core::Log(fmt::format("mms: {} did not answer through APN {}", server, apnName));
        SendAnswer(android, "ERR\tserver unreachable");
        return; // the access point closes with `apn`
    }

    Core::Log(fmt::format("mms: Android's MMS exchange with {} through APN {}", server, apnName));
    MmsPumpResult result;
    if (SendAnswer(android, "OK"))
        result = PumpSockets(android, connection.Get(), limits, stop);
    connection.Reset();
    LogCuts(result, limits, server);
    Core::Log(fmt::format("mms: exchange done ({} bytes out, {} bytes in)", result.bytesOut, result.bytesIn));
    CloseApn(apn->session);
}

void RunMmsRelay(std::stop_token stop)
{
    Core::ComApartment apartment(Core::Apartment::Multithreaded);
    Guest::ServeVsock(
        Guest::MmsRelayServiceId, "Android MMS relay",
        [](SOCKET android, std::stop_token connectionStop) { ServeMmsRequest(android, connectionStop); },
        stop);
}

} // namespace Pd::Tel
