// MMS notices that Windows' SMS router copies to this program: each WAP push becomes the
// SMS-DELIVER PDUs Android's radio interface takes, kept in the modem's shared state under
// notice ids until Android acknowledges them.
#pragma once

#include "platform/SmsRouter.h"
#include "tel/modem/Shared.h"

#include <cstddef>
#include <optional>
#include <string>

namespace Pd::Tel
{

// The id the router knows this program by.
inline constexpr wchar_t RouterId[] = L"Peldra";

// What the kept notices may hold while Android does not acknowledge them: PDUs, and their hex
// text (room for the largest notice, 255 PDUs). Past either bound the oldest notice goes.
inline constexpr std::size_t MaxKeptNotices = 512;
inline constexpr std::size_t MaxKeptNoticeText = 96 * 1024;

// Why a routed WAP push is not passed on (empty body, an originator or content type that is
// too long or holds control characters, a body too long for one concatenated message, a push
// that is no MMS notification, such as provisioning or a service indication); none when it can
// be.
std::optional<std::string> RefuseRoutedPush(const Platform::RoutedSmsMessage& message);

// The router's handler: keeps a WAP push's PDUs and hands them to the connected session, if
// any. Anything else the router hands over is ignored, and nothing happens once the modem is
// closed.
void OnRoutedMessage(Shared& shared, Platform::Outcome<Platform::RoutedSmsMessage> message);

} // namespace Pd::Tel
