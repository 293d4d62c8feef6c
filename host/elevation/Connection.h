// One connection of the elevation bridge: the socket, the send lock that keeps answer frames
// whole, and the one request that may be asked at a time.
#pragma once

#include "host/elevation/Frames.h"

#include <winsock2.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <thread>

namespace Pd::Bio::Elevation
{

struct Connection
{
    SOCKET socket = INVALID_SOCKET;
    Mode mode;
    std::mutex sendLock;
    std::atomic<bool> busy{false}; // a request is being asked
    std::atomic<std::uint32_t> currentId{0};
    std::stop_source cancel; // of the request being asked
    std::thread requestThread;
};

// Calls send until every byte is out; false when a send failed.
bool SendAll(SOCKET socket, const void* data, std::size_t size);

// Sends the 12-byte answer frame under the send lock; a failed send is ignored.
void SendAnswer(Connection& connection, Answer answer, std::uint32_t requestId);

// The request thread: the Windows Hello prompt, the log lines, the answer.
void AskForRoot(Connection& connection, std::stop_token cancel, const Request& request);

} // namespace Pd::Bio::Elevation
