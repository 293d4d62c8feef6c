// Fields of an SMS-DELIVER TPDU that carry the originator and the service-centre time stamp,
// encoded as the SMS transfer layer prescribes (semi-octets, GSM 7-bit packing).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Pd::Tel
{

// A calendar time as the SMS time stamp needs it. Windows callers pass a SYSTEMTIME through the
// overload below, so that this library needs no Windows header.
struct SmsTime
{
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Anything with the fields of a SYSTEMTIME.
template <class T>
concept SystemTimeLike = requires(const T& t)
{
    t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond;
};

template <SystemTimeLike T> SmsTime ToSmsTime(const T& t)
{
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

// The TP-OA field in hex: a number of 1 to 20 digits (international with a leading '+'), or
// else up to 11 characters of the text as an alphanumeric address ("MMS" when nothing is left).
std::string EncodeOriginator(std::string_view originator);

// The TP-SCTS field in hex: year modulo 100, month, day, hour, minute, second as swapped decimal
// semi-octets, and time zone 0.
std::string EncodeTimestamp(const SmsTime& time);

template <SystemTimeLike T> std::string EncodeTimestamp(const T& time)
{
    return EncodeTimestamp(ToSmsTime(time));
}

} // namespace Pd::Tel
