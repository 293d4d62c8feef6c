#include "tel/mms/MmsRelay.h"

#include "core/Handles.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <thread>

namespace Pd::Tel
{
namespace
{

constexpr std::size_t BufferSize = 16384;

enum class CopyEnd
{
    Closed,   // the sender closed its side
    Failed,   // a receive or send failed (also after a shutdown by the other side of the pump)
    TooLarge, // the bound was passed; the chunk that passed it was not forwarded
};

bool SendAll(SOCKET socket, const char* data, std::size_t size)
{
    while (size > 0)
    {
        int sent = ::send(socket, data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// Makes every blocking call on the socket fail at once.
void EndSocket(SOCKET socket) noexcept
{
    ::shutdown(socket, SD_BOTH);
    ::CancelIoEx(reinterpret_cast<HANDLE>(socket), nullptr);
}

struct EndBoth
{
    SOCKET android;
    SOCKET server;
    void operator()() const noexcept
    {
        EndSocket(android);
        EndSocket(server);
    }
};

// Copies until the sender closes, a call fails or the bound is passed. lastProgress, when
// given, is stamped whenever bytes arrive or have been passed on.
CopyEnd CopyStream(SOCKET from, SOCKET to, std::uint64_t limit, std::uint64_t& bytes,
                   std::atomic<ULONGLONG>* lastProgress)
{
    char buffer[BufferSize];
    while (true)
    {
        int received = ::recv(from, buffer, sizeof(buffer), 0);
        if (received == 0)
            return CopyEnd::Closed;
        if (received < 0)
            return CopyEnd::Failed;
        if (lastProgress)
            lastProgress->store(::GetTickCount64());
        if (static_cast<std::uint64_t>(received) > limit - bytes)
            return CopyEnd::TooLarge;
        if (!SendAll(to, buffer, static_cast<std::size_t>(received)))
            return CopyEnd::Failed;
        if (lastProgress)
            lastProgress->store(::GetTickCount64());
        bytes += static_cast<std::uint64_t>(received);
    }
}

} // namespace

MmsPumpResult PumpSockets(SOCKET android, SOCKET server, const MmsExchangeLimits& limits,
                          std::stop_token stop)
{
    MmsPumpResult result;
    UniqueHandle serverDone(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<ULONGLONG> lastFromServer{::GetTickCount64()};
    std::stop_callback<EndBoth> endOnStop(stop, EndBoth{android, server});
    {
        std::jthread serverToAndroid([&] {
            CopyEnd end = CopyStream(server, android, limits.bytesIn, result.bytesIn, &lastFromServer);
            result.inTooLarge = end == CopyEnd::TooLarge;
            if (end == CopyEnd::Closed)
                ::shutdown(android, SD_SEND); // Android reads the end of the answer
            else
                EndBoth{android, server}();
            if (serverDone)
                ::SetEvent(serverDone.Get());
        });

        CopyEnd end = CopyStream(android, server, limits.bytesOut, result.bytesOut, nullptr);
        result.outTooLarge = end == CopyEnd::TooLarge;
        // Android's half-close ends its request, not the exchange: the server learns of it and
        // its answer is still carried whole, as long as it keeps sending.
        if (end == CopyEnd::Closed && !stop.stop_requested() && serverDone)
        {
            ::shutdown(server, SD_SEND);
            const auto silence = static_cast<ULONGLONG>(limits.serverSilence.count());
            while (true)
            {
                ULONGLONG quiet = ::GetTickCount64() - lastFromServer.load();
                DWORD wait = quiet >= silence ? 0 : static_cast<DWORD>(silence - quiet);
                if (::WaitForSingleObject(serverDone.Get(), wait) == WAIT_OBJECT_0)
                    break;
                if (::GetTickCount64() - lastFromServer.load() >= silence)
                {
                    result.serverSilent = true;
                    break;
                }
            }
        }
        EndSocket(server); // ends the other copy's receive; the thread is joined here
    }
    return result;
}

} // namespace Pd::Tel
