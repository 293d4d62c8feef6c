#include "platform/winrt/Runtime.h"

#include "core/ErrorText.h"
#include "platform/winrt/HString.h"

#include <roapi.h>

#include <mutex>

namespace Pd::Platform::WinRt
{

void EnsureApartment()
{
    static std::once_flag once;
    std::call_once(once, [] {
        CO_MTA_USAGE_COOKIE cookie = nullptr; // held for the life of the process
        if (FAILED(::CoIncrementMTAUsage(&cookie)))
            ::RoInitialize(RO_INIT_MULTITHREADED); // at least this thread
    });
}

std::unexpected<Error> Failed(const std::wstring& step, HRESULT code)
{
    return Failure(code, Core::ErrorText(step, static_cast<std::uint32_t>(code)));
}

Outcome<ComPtr<IUnknown>> FactoryOf(const wchar_t* className, const GUID& iid)
{
    EnsureApartment();
    auto name = HString::Make(className);
    if (!name)
        return std::unexpected(name.error());
    ComPtr<IUnknown> factory;
    const HRESULT hr = ::RoGetActivationFactory(name->Get(), iid, factory.PutVoid());
    if (FAILED(hr))
        return Failed(std::wstring(L"RoGetActivationFactory(") + className + L")", hr);
    return factory;
}

Outcome<ComPtr<IInspectable>> ActivateInstanceOf(const wchar_t* className)
{
    EnsureApartment();
    auto name = HString::Make(className);
    if (!name)
        return std::unexpected(name.error());
    ComPtr<IInspectable> instance;
    const HRESULT hr = ::RoActivateInstance(name->Get(), instance.Put());
    if (FAILED(hr))
        return Failed(std::wstring(L"RoActivateInstance(") + className + L")", hr);
    return instance;
}

} // namespace Pd::Platform::WinRt
