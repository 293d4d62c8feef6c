// SMS-DELIVER PDUs that carry a WAP push (an MMS notification) to Android's radio interface,
// which takes incoming messages only as PDUs after "+CMT".
#pragma once

#include "tel/sms/SmsFields.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Pd::Tel
{

// The content type that has a well-known short form and the MMS user agent's application id.
inline constexpr std::string_view MmsContentType = "application/vnd.wap.mms-message";

// Octets of WSP push PDU data one SMS part carries: alone, or with the concatenation header.
inline constexpr std::size_t SinglePartData = 133;
inline constexpr std::size_t ConcatenatedPartData = 128;
inline constexpr std::size_t MaxParts = 255;

// The WSP push PDU: transaction id 0, PDU type push, headers length, content type (and for MMS
// the application id), then the body as received.
std::vector<std::uint8_t> BuildWspPush(std::string_view contentType, std::span<const std::uint8_t> body);

// The SMS-DELIVER parts, in order, each as upper-case hex with an empty service-centre field;
// empty when the push would need more than 255 parts.
std::vector<std::string> BuildMmsNoticePdu(std::string_view originator, const SmsTime& timestamp,
                                           std::string_view contentType, std::span<const std::uint8_t> body,
                                           std::uint8_t reference);

template <SystemTimeLike T>
std::vector<std::string> BuildMmsNoticePdu(std::string_view originator, const T& timestamp,
                                           std::string_view contentType, std::span<const std::uint8_t> body,
                                           std::uint8_t reference)
{
    return BuildMmsNoticePdu(originator, ToSmsTime(timestamp), contentType, body, reference);
}

} // namespace Pd::Tel
