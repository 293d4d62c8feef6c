#include "platform/winrt/Buffer.h"

#include "platform/winrt/Runtime.h"

#include <algorithm>
#include <limits>

namespace Pd::Platform::WinRt
{

Outcome<std::vector<std::uint8_t>> BytesOf(IInspectable* buffer)
{
    auto view = QueryAs<Abi::IBuffer>(buffer);
    auto access = QueryAs<Abi::IBufferByteAccess>(buffer);
    if (!view || !access)
        return Failed(L"IBufferByteAccess", E_NOINTERFACE);
    std::uint32_t length = 0;
    std::uint32_t capacity = 0;
    BYTE* bytes = nullptr;
    if (HRESULT hr = view->get_Length(&length); FAILED(hr))
        return Failed(L"IBuffer.Length", hr);
    if (HRESULT hr = view->get_Capacity(&capacity); FAILED(hr))
        return Failed(L"IBuffer.Capacity", hr);
    if (length > capacity)
        return Failed(L"IBuffer.Length", BoundsError);
    if (HRESULT hr = access->Buffer(&bytes); FAILED(hr))
        return Failed(L"IBufferByteAccess.Buffer", hr);
    if (!bytes && length > 0)
        return Failed(L"IBufferByteAccess.Buffer", E_POINTER);
    return std::vector<std::uint8_t>(bytes, bytes + length);
}

Outcome<ComPtr<Abi::IBuffer>> MakeBuffer(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() > std::numeric_limits<std::uint32_t>::max())
        return Failed(L"IBufferFactory.Create", E_INVALIDARG);
    auto factory = Factory<Abi::IBufferFactory>(L"Windows.Storage.Streams.Buffer");
    if (!factory)
        return std::unexpected(factory.error());
    const auto size = static_cast<std::uint32_t>(bytes.size());
    ComPtr<Abi::IBuffer> buffer;
    if (HRESULT hr = (*factory)->Create(size, buffer.Put()); FAILED(hr))
        return Failed(L"IBufferFactory.Create", hr);
    auto access = QueryAs<Abi::IBufferByteAccess>(buffer.Get());
    BYTE* target = nullptr;
    std::uint32_t capacity = 0;
    if (!access || FAILED(access->Buffer(&target)) || FAILED(buffer->get_Capacity(&capacity)) ||
        capacity < size || (!target && size > 0))
        return Failed(L"IBufferByteAccess.Buffer", E_UNEXPECTED);
    std::ranges::copy(bytes, target);
    if (HRESULT hr = buffer->put_Length(size); FAILED(hr))
        return Failed(L"IBuffer.Length", hr);
    return buffer;
}

} // namespace Pd::Platform::WinRt
