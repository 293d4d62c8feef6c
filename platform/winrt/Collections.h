// Walking IIterable<T> and IVectorView<T> of interface pointers or strings.
#pragma once

#include "core/Handles.h"
#include "platform/Platform.h"
#include "platform/winrt/AbiFoundation.h"
#include "platform/winrt/HString.h"
#include "platform/winrt/Runtime.h"

#include <cstdint>
#include <string>
#include <type_traits>

namespace Pd::Platform::WinRt
{
namespace Detail
{

// Takes over an element that a getter handed out: interface pointers as ComPtr, strings as HString.
template <typename T> auto Own(T element)
{
    if constexpr (std::is_same_v<T, HSTRING>)
        return HString(element);
    else
        return ComPtr<std::remove_pointer_t<T>>::Attach(element);
}

} // namespace Detail

// Calls `visit` with each element (owned) in order; stops at the first failure, which names
// `step`. Elements visited before a failure stay visited.
template <typename T, typename Visit>
Outcome<> WalkIterable(Abi::IIterable<T>* iterable, Visit&& visit, const std::wstring& step)
{
    ComPtr<Abi::IIterator<T>> iterator;
    if (HRESULT hr = iterable->First(iterator.Put()); FAILED(hr))
        return Failed(step, hr);
    Abi::Boolean has = 0;
    if (HRESULT hr = iterator->get_HasCurrent(&has); FAILED(hr))
        return Failed(step, hr);
    while (has)
    {
        T element{};
        if (HRESULT hr = iterator->get_Current(&element); FAILED(hr))
            return Failed(step, hr);
        visit(Detail::Own(element));
        if (HRESULT hr = iterator->MoveNext(&has); FAILED(hr))
            return Failed(step, hr);
    }
    return {};
}

// The same over IVectorView<T> or IVector<T> (whose first slots are alike).
template <typename T, typename Vector, typename Visit>
Outcome<> WalkVector(Vector* view, Visit&& visit, const std::wstring& step)
{
    std::uint32_t size = 0;
    if (HRESULT hr = view->get_Size(&size); FAILED(hr))
        return Failed(step, hr);
    for (std::uint32_t i = 0; i < size; ++i)
    {
        T element{};
        if (HRESULT hr = view->GetAt(i, &element); FAILED(hr))
            return Failed(step, hr);
        visit(Detail::Own(element));
    }
    return {};
}

} // namespace Pd::Platform::WinRt
