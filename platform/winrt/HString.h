// An owner for HSTRING, the Windows Runtime's reference-counted string, and conversions.
#pragma once

#include "platform/Platform.h"

#include <hstring.h>

#include <string>
#include <string_view>

namespace Pd::Platform::WinRt
{

class HString
{
public:
    HString() noexcept = default;
    explicit HString(HSTRING value) noexcept : value_(value) {}
    HString(const HString&) = delete;
    HString& operator=(const HString&) = delete;
    HString(HString&& other) noexcept;
    HString& operator=(HString&& other) noexcept;
    ~HString();

    // A new string holding a copy of `text` (an empty text is the null string).
    static Outcome<HString> Make(std::wstring_view text);

    HSTRING Get() const noexcept { return value_; }
    HSTRING* Put() noexcept; // for an out parameter: frees what it held first
    std::wstring Text() const;

private:
    HSTRING value_ = nullptr;
};

// The text of a borrowed HSTRING (null is the empty text).
std::wstring TextOf(HSTRING value);

} // namespace Pd::Platform::WinRt
