// Reaching Windows Runtime classes: the process-wide multithreaded apartment, activation by
// class name, QueryInterface by our own interface ids, and failures as Pd::Platform::Error.
#pragma once

#include "core/Handles.h"
#include "platform/Platform.h"
#include "platform/winrt/AbiFoundation.h"

#include <string>

namespace Pd::Platform::WinRt
{

inline constexpr HRESULT BoundsError = static_cast<HRESULT>(0x8000000BL);       // E_BOUNDS
inline constexpr HRESULT IllegalMethodCall = static_cast<HRESULT>(0x8000000EL); // E_ILLEGAL_METHOD_CALL

// Keeps the multithreaded apartment alive for the rest of the process (once), so that any
// thread, initialised or not, may call the agile objects these adapters hold.
void EnsureApartment();

// A failure of `step` with `code`: the complete text through Core::ErrorText.
std::unexpected<Error> Failed(const std::wstring& step, HRESULT code);

// The class's activation factory, asked for interface I (its statics, a factory or the interop).
Outcome<ComPtr<IUnknown>> FactoryOf(const wchar_t* className, const GUID& iid);
template <typename I> Outcome<ComPtr<I>> Factory(const wchar_t* className)
{
    auto factory = FactoryOf(className, I::Iid);
    if (!factory)
        return std::unexpected(factory.error());
    I* result = nullptr;
    const HRESULT hr = (*factory)->QueryInterface(I::Iid, reinterpret_cast<void**>(&result));
    if (FAILED(hr))
        return Failed(std::wstring(L"QueryInterface(") + className + L")", hr);
    return ComPtr<I>::Attach(result);
}

// A new instance through the default constructor, as interface I.
Outcome<ComPtr<IInspectable>> ActivateInstanceOf(const wchar_t* className);
template <typename I> Outcome<ComPtr<I>> Activate(const wchar_t* className)
{
    auto instance = ActivateInstanceOf(className);
    if (!instance)
        return std::unexpected(instance.error());
    I* result = nullptr;
    const HRESULT hr = (*instance)->QueryInterface(I::Iid, reinterpret_cast<void**>(&result));
    if (FAILED(hr))
        return Failed(std::wstring(L"QueryInterface(") + className + L")", hr);
    return ComPtr<I>::Attach(result);
}

// QueryInterface for I (by I::Iid or the given id); empty when the object lacks it.
template <typename I> ComPtr<I> QueryAs(IUnknown* object, const GUID& iid = I::Iid)
{
    I* result = nullptr;
    if (object && FAILED(object->QueryInterface(iid, reinterpret_cast<void**>(&result))))
        result = nullptr;
    return ComPtr<I>::Attach(result);
}

} // namespace Pd::Platform::WinRt
