#include "core/Sha256.h"

#include <algorithm>
#include <array>

namespace Pd
{

Sha256::Sha256(const wchar_t* algorithm)
{
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(provider_.Put(), algorithm, nullptr, 0)))
        return;
    DWORD objectLength = 0;
    ULONG written = 0;
    if (!BCRYPT_SUCCESS(::BCryptGetProperty(provider_.Get(), BCRYPT_OBJECT_LENGTH,
                                            reinterpret_cast<PUCHAR>(&objectLength), sizeof(objectLength),
                                            &written, 0)) ||
        written != sizeof(objectLength))
        return;
    memory_.resize(objectLength);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCRYPT_SUCCESS(::BCryptCreateHash(provider_.Get(), &hash, memory_.data(),
                                          static_cast<ULONG>(memory_.size()), nullptr, 0, 0)))
        hash_.Reset(hash);
}

Sha256::~Sha256()
{
    hash_.Reset();
    provider_.Reset();
}

bool Sha256::Update(const void* data, std::size_t size)
{
    if (!hash_ || failed_ || finished_)
        return false;
    auto* bytes = static_cast<const std::uint8_t*>(data);
    // CNG takes 32-bit lengths: larger buffers go in slices.
    constexpr std::size_t slice = 1u << 30;
    while (size > 0)
    {
        auto part = static_cast<ULONG>(std::min(size, slice));
        if (!BCRYPT_SUCCESS(::BCryptHashData(hash_.Get(), const_cast<PUCHAR>(bytes), part, 0)))
        {
            failed_ = true;
            return false;
        }
        bytes += part;
        size -= part;
    }
    return true;
}

std::wstring Sha256::Finish()
{
    if (!hash_ || failed_ || finished_)
        return {};
    finished_ = true;
    std::array<std::uint8_t, 32> digest{};
    if (!BCRYPT_SUCCESS(::BCryptFinishHash(hash_.Get(), digest.data(), static_cast<ULONG>(digest.size()), 0)))
        return {};
    constexpr wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(digest.size() * 2);
    for (std::uint8_t byte : digest)
    {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0F]);
    }
    return text;
}

} // namespace Pd
