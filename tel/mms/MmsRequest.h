// One MMS relay request from Android: the access point to open and the MMS server to reach
// through it.
#pragma once

#include <cstdint>
#include <string>

namespace Pd::Tel
{

struct MmsRequest
{
    std::string apn;             // access point name, never empty
    std::int32_t authentication; // 0 none, 1 PAP, 2 CHAP, 3 PAP or CHAP; -1 when no number
    std::string user;            // may be empty
    std::string password;        // may be empty
    std::string host;            // MMS server name or address literal, never empty
    std::uint16_t port;          // 1 to 65535
};

} // namespace Pd::Tel
