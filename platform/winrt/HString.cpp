#include "platform/winrt/HString.h"

#include "core/ErrorText.h"

#include <winstring.h>

#include <limits>
#include <utility>

namespace Pd::Platform::WinRt
{

HString::HString(HString&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}

HString& HString::operator=(HString&& other) noexcept
{
    if (this != &other)
    {
        HString old(std::exchange(value_, std::exchange(other.value_, nullptr)));
    }
    return *this;
}

HString::~HString()
{
    if (value_)
        ::WindowsDeleteString(value_);
}

Outcome<HString> HString::Make(std::wstring_view text)
{
    if (text.size() > std::numeric_limits<UINT32>::max())
        return Failure(E_INVALIDARG,
                       Core::ErrorText(L"WindowsCreateString", static_cast<std::uint32_t>(E_INVALIDARG)));
    HString result;
    const HRESULT hr = ::WindowsCreateString(text.data(), static_cast<UINT32>(text.size()), result.Put());
    if (FAILED(hr))
        return Failure(hr, Core::ErrorText(L"WindowsCreateString", static_cast<std::uint32_t>(hr)));
    return result;
}

HSTRING* HString::Put() noexcept
{
    if (value_)
        ::WindowsDeleteString(std::exchange(value_, nullptr));
    return &value_;
}

std::wstring HString::Text() const
{
    return TextOf(value_);
}

std::wstring TextOf(HSTRING value)
{
    UINT32 length = 0;
    const wchar_t* raw = ::WindowsGetStringRawBuffer(value, &length);
    return raw ? std::wstring(raw, length) : std::wstring();
}

} // namespace Pd::Platform::WinRt
