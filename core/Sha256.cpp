#include "core/Sha256.h"

#include "core/Hex.h"

#include <algorithm>
#include <array>
#include <memory>

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
    return Core::HexLower(digest);
}

DWORD HashFile(HANDLE file, Sha256& hasher, std::stop_token stop, std::uint64_t limit,
               const std::function<void(std::uint64_t)>& progress)
{
    constexpr DWORD ChunkBytes = 1u << 20;
    auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(ChunkBytes);
    std::uint64_t done = 0;
    while (done < limit)
    {
        if (stop.stop_requested())
            return ERROR_CANCELLED;
        const auto wanted = static_cast<DWORD>(std::min<std::uint64_t>(limit - done, ChunkBytes));
        DWORD read = 0;
        if (!::ReadFile(file, buffer.get(), wanted, &read, nullptr))
            return ::GetLastError();
        if (read == 0)
            return limit == WholeFile ? ERROR_SUCCESS : ERROR_HANDLE_EOF;
        if (!hasher.Update(buffer.get(), read))
            return ERROR_SUCCESS;
        done += read;
        if (progress)
            progress(done);
    }
    return ERROR_SUCCESS;
}

} // namespace Pd
