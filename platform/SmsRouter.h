// Windows' SMS router (a Windows Runtime service): a program registers under an id with filter
// rules, and the router hands it the messages the rules match on a callback thread of its own.
// Here only what the modem needs: registrations that copy every WAP message (peek mode, so
// that the other receivers still get it), and the removal of registrations an earlier run left.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Pd::Platform
{

// SmsMessageType, numbered as the Windows Runtime numbers it.
enum class SmsMessageType : std::int32_t
{
    Binary = 0,
    Text = 1,
    Wap = 2,
    App = 3,
    Broadcast = 4,
    Voicemail = 5,
    Status = 6,
};

// A message the router copied to this program (SmsMessageReceivedTriggerDetails); the WAP
// fields (SmsWapMessage) are read only for a WAP message.
struct RoutedSmsMessage
{
    SmsMessageType type = SmsMessageType::Wap;
    std::wstring from;
    std::wstring contentType;
    std::vector<std::uint8_t> body;
    std::int64_t timestamp = 0; // 100-ns units since 1601 (a Windows FILETIME)
};

// Called on the router's thread for every message, or with the failure of reading one.
using RoutedSmsHandler = std::function<void(Outcome<RoutedSmsMessage>)>;

// A registration; the router keeps it until Unregister, also after this object and the program
// are gone. Destroying the object only stops the handler's calls.
class SmsRegistration
{
public:
    virtual ~SmsRegistration() = default;
    virtual Outcome<> Unregister() = 0;
};

class SmsRouter
{
public:
    virtual ~SmsRouter() = default;

    // Unregisters every registration (AllRegistrations) whose Id is exactly `id`; how many there were.
    virtual Outcome<std::size_t> UnregisterAll(std::wstring_view id) = 0;

    // Registers `id` with one Peek rule for WAP messages and installs the handler.
    virtual Outcome<std::unique_ptr<SmsRegistration>> RegisterWapPeek(std::wstring_view id,
                                                                      RoutedSmsHandler handler) = 0;
};

// The simulator's router when simulating; otherwise Windows' own.
std::shared_ptr<SmsRouter> SmsRouting();

} // namespace Pd::Platform
