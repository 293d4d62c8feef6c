// The MMS relay: a Hyper-V socket service through which Android's MMS app has Windows open the
// carrier's MMS access point and carry one TCP exchange with the MMS server over it. Each
// connection carries one request line, one answer line and then the exchange's raw bytes in
// both directions.
#pragma once

#include <winsock2.h>

#include <chrono>
#include <cstdint>
#include <stop_token>
#include <string_view>

namespace Pd::Tel
{

// Bounds of one exchange. Carriers take MMS of a few hundred kilobytes to a few megabytes; an
// exchange that passes a bound is cut. After Android has finished sending, a server that sends
// nothing for `serverSilence` is given up, so that one silent server cannot hold the relay.
struct MmsExchangeLimits
{
    std::uint64_t bytesOut = 8u << 20; // Android to the server
    std::uint64_t bytesIn = 8u << 20;  // the server to Android
    std::chrono::milliseconds serverSilence{120000};
};

// The thread body: serves the relay service until stop is requested.
void RunMmsRelay(std::stop_token stop);

// One connection, from the request line to the end of its exchange. The caller owns the socket.
void ServeMmsRequest(SOCKET android, std::stop_token stop, const MmsExchangeLimits& limits = {});

// Sends the text and a line feed; false when a send fails.
bool SendAnswer(SOCKET socket, std::string_view text);

// How an exchange went: the bytes carried each way, and which bound (if any) cut it.
struct MmsPumpResult
{
    std::uint64_t bytesOut = 0;
    std::uint64_t bytesIn = 0;
    bool outTooLarge = false;
    bool inTooLarge = false;
    bool serverSilent = false;
};

// Copies both ways until the exchange ends: Android's half-close is passed on to the server,
// whose answer is still carried whole; the server's close is passed on to Android. A stop
// request, a failure or a passed bound ends both directions at once.
MmsPumpResult PumpSockets(SOCKET android, SOCKET server, const MmsExchangeLimits& limits,
                          std::stop_token stop);

} // namespace Pd::Tel
