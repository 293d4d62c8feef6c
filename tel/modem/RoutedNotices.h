// MMS notices that Windows' SMS router copies to this program: each WAP push becomes the
// SMS-DELIVER PDUs Android's radio interface takes, kept in the modem's shared state under
// notice ids until Android acknowledges them.
#pragma once

#include "platform/SmsRouter.h"
#include "tel/modem/Shared.h"

#include <optional>
#include <string>

namespace Pd::Tel
{

// The id the router knows this program by.
inline constexpr wchar_t RouterId[] = L"Peldra";

// Why a routed WAP push is not passed on (empty body, an originator or content type that is
// too long or holds control characters, a body too long for one concatenated message); none
// when it can be.
std::optional<std::string> RefuseRoutedPush(const Platform::RoutedSmsMessage& message);

// The router's handler: keeps a WAP push's PDUs and hands them to the connected session, if
// any. Anything else the router hands over is ignored, and nothing happens once the modem is
// closed.
void OnRoutedMessage(Shared& shared, Platform::Outcome<Platform::RoutedSmsMessage> message);

} // namespace Pd::Tel
