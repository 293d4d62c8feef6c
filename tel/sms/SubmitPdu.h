// The SMS-SUBMIT PDU Android hands over with "+CMGS": checked for the lengths that must agree
// before anything of it goes to the network.
#pragma once

#include <cstddef>
#include <string_view>

namespace Pd::Tel
{

// Whether the PDU (hex digits in either case, service-centre field first) is an SMS-SUBMIT whose
// lengths agree: the service-centre field lies within the PDU and holds at most 11 octets after
// its length octet, the TPDU after it is `tpduLength`
// octets long, and the TPDU holds every mandatory field up to TP-UDL, its destination address of
// at most 20 digits included, then exactly the user data TP-UDL gives in the unit of TP-DCS
// (septets of the GSM 7-bit alphabet packed into octets, else octets; a reserved coding is
// refused), at most 140 octets, with room in TP-UDL for the user data header when TP-UDHI
// announces one.
bool IsWellFormedSubmit(std::string_view hex, std::size_t tpduLength);

} // namespace Pd::Tel
