// One MMS relay request from Android: the access point to open and the MMS server to reach
// through it. The request line is read and parsed here, bytes in; platform-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// The longest request line, without its line feed.
inline constexpr std::size_t MmsRequestLineLimit = 2047;

// "MMS", APN, authentication, user, password, host and port, separated by tabs. None when the
// line does not have exactly these seven fields, when the APN or host is empty, when the port is
// not 1 to 65535, or when the APN, user or host holds a control character (they name things to
// Windows and are logged).
std::optional<MmsRequest> ParseMmsRequest(std::string_view line);

// Collects the request line one byte at a time, so that nothing after its line feed is taken
// from the connection before the exchange starts.
class MmsRequestLineReader
{
public:
    enum class State
    {
        Reading,  // more bytes wanted
        Complete, // Line() holds the line, without its line feed
        TooLong,  // MmsRequestLineLimit bytes passed without a line feed
    };

    State Add(char byte);
    const std::string& Line() const { return line_; }

private:
    std::string line_;
    State state_ = State::Reading;
};

} // namespace Pd::Tel
