#include "platform/mbn/ComValues.h"

#include "platform/winrt/Runtime.h"

#include <cstdint>

namespace Pd::Platform::Mbn
{

std::wstring TextOf(BSTR text)
{
    return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
}

namespace
{

bool HoldsInterfaces(SAFEARRAY* array)
{
    VARTYPE type = VT_EMPTY;
    if (SUCCEEDED(::SafeArrayGetVartype(array, &type)))
        return type == VT_UNKNOWN || type == VT_DISPATCH;
    return (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) != 0;
}

} // namespace

Outcome<std::vector<ComPtr<IUnknown>>> InterfacesIn(SAFEARRAY* array, const std::wstring& step)
{
    std::vector<ComPtr<IUnknown>> elements;
    if (!array)
        return elements;
    if (::SafeArrayGetDim(array) != 1 || ::SafeArrayGetElemsize(array) != sizeof(IUnknown*) ||
        !HoldsInterfaces(array))
        return WinRt::Failed(step, E_INVALIDARG);
    LONG lower = 0;
    LONG upper = -1;
    if (HRESULT hr = ::SafeArrayGetLBound(array, 1, &lower); FAILED(hr))
        return WinRt::Failed(step, hr);
    if (HRESULT hr = ::SafeArrayGetUBound(array, 1, &upper); FAILED(hr))
        return WinRt::Failed(step, hr);
    void* data = nullptr;
    if (HRESULT hr = ::SafeArrayAccessData(array, &data); FAILED(hr))
        return WinRt::Failed(step, hr);
    const auto* items = static_cast<IUnknown* const*>(data);
    const std::int64_t count = std::int64_t{upper} - lower + 1; // upper is lower - 1 when empty
    for (std::int64_t i = 0; i < count; ++i)
    {
        if (items[i])
            items[i]->AddRef();
        elements.push_back(ComPtr<IUnknown>::Attach(items[i]));
    }
    ::SafeArrayUnaccessData(array);
    return elements;
}

} // namespace Pd::Platform::Mbn
