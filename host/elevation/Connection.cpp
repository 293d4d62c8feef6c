// One connection of the elevation bridge: the opening frames, then Android's frames until reading
// fails.
#include "host/elevation/Connection.h"

#include "core/host/HostChange.h"
#include "core/host/HostObjects.h"
#include "core/host/HostSettings.h"
#include "core/Log.h"
#include "core/ObjectSecurity.h"
#include "core/Settings.h"
#include "host/elevation/ElevationBridge.h"

#include <fmt/format.h>

#include <string>
#include <system_error>

namespace Pd::Bio::Elevation
{
namespace
{

bool ReadAll(SOCKET socket, void* data, std::size_t size)
{
    auto* at = static_cast<char*>(data);
    while (size > 0)
    {
        int got = ::recv(socket, at, static_cast<int>(size), 0);
        if (got <= 0)
            return false;
        at += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// Android reports its Magisk mode; "off" ends a pending turn-off, and the host then leaves the
// turning-off phase.
void TakeAndroidMagiskMode(std::uint8_t value)
{
    const bool on = (value & StateMagiskOn) != 0;
    Core::Log(fmt::format("elevate: Magisk mode is {} in Android (from its next start)", on ? "on" : "off"));
    Core::WriteUserDword(L"MagiskInAndroid", on ? 1 : 0);
    if (!on && Host::MagiskOffPending())
    {
        Core::WriteUserDword(L"MagiskOffPending", 0);
        Core::SignalNamedEvent(Host::ReloadEventName);
    }
    Host::SignalHostChanged();
}

void StartRequest(Connection& connection, Request request)
{
    if (connection.mode.magiskTurningOff)
        return SendAnswer(connection, Answer::Denied, request.id);
    if (connection.busy.exchange(true))
        return SendAnswer(connection, Answer::Busy, request.id);
    if (connection.requestThread.joinable())
        connection.requestThread.join();
    connection.cancel = std::stop_source();
    connection.currentId = request.id;
    try
    {
        connection.requestThread =
            std::thread([&connection, token = connection.cancel.get_token(), request = std::move(request)] {
                AskForRoot(connection, token, request);
            });
    }
    catch (const std::system_error&)
    {
        Core::Log(
            fmt::format("elevate: request {} cannot be asked (no thread)", connection.currentId.load()));
        connection.busy = false;
        SendAnswer(connection, Answer::Denied, connection.currentId);
    }
}

void CancelRequest(Connection& connection, std::string_view payload)
{
    auto id = ParseCancel(payload);
    if (id && connection.busy && *id == connection.currentId)
        connection.cancel.request_stop();
}

// Reads and handles frames until reading fails or a frame ends the connection.
void ReadFrames(Connection& connection)
{
    for (;;)
    {
        std::array<std::uint8_t, FrameHeaderSize> raw{};
        if (!ReadAll(connection.socket, raw.data(), raw.size()))
            return;
        const FrameHeader header = DecodeFrameHeader(raw);
        if (!Acceptable(header))
        {
            Core::Log(fmt::format("elevate: invalid frame (magic=0x{:08X}, len={}), dropping the connection",
                                  header.magic, header.length));
            return;
        }
        std::string payload(header.length, '\0');
        if (!ReadAll(connection.socket, payload.data(), payload.size()))
            return;
        switch (static_cast<Kind>(header.kind))
        {
        case Kind::State:
            TakeAndroidMagiskMode(header.value);
            break;
        case Kind::MagiskApk:
            Core::Log(fmt::format("elevate: Android {} the Magisk APK",
                                  header.value == 1 ? "stored" : "could not store"));
            break;
        case Kind::Request: {
            Request request = ParseRequest(payload);
            if (!request.valid)
            {
                Core::Log("elevate: malformed request, dropping the connection");
                return;
            }
            StartRequest(connection, std::move(request));
            break;
        }
        case Kind::Cancel:
            CancelRequest(connection, payload);
            break;
        default:
            break;
        }
    }
}

} // namespace

bool SendAll(SOCKET socket, const void* data, std::size_t size)
{
    const auto* at = static_cast<const char*>(data);
    while (size > 0)
    {
        int sent = ::send(socket, at, static_cast<int>(size), 0);
        if (sent <= 0)
            return false;
        at += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

void SendAnswer(Connection& connection, Answer answer, std::uint32_t requestId)
{
    const auto frame = AnswerFrame(answer, requestId);
    std::lock_guard lock(connection.sendLock);
    SendAll(connection.socket, frame.data(), frame.size());
}

void HandleClient(SOCKET socket, const Mode& mode)
{
    Connection connection;
    connection.socket = socket;
    connection.mode = mode;
    const std::uint8_t state = StateByte(mode, Host::MagiskOffPending());
    if (mode.magisk)
        SendMagiskApk(socket);
    {
        const auto frame = StateFrame(state);
        std::lock_guard lock(connection.sendLock);
        SendAll(socket, frame.data(), frame.size());
    }
    ReadFrames(connection);
    connection.cancel.request_stop();
    if (connection.requestThread.joinable())
        connection.requestThread.join();
}

} // namespace Pd::Bio::Elevation
