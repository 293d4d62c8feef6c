// SHA-256 through Windows CNG. The digest is always handled as 64 lower-case hexadecimal
// characters; an unusable hasher gives the empty text, which never matches an expected digest.
#pragma once

#include "core/Handles.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace Pd
{

class Sha256
{
public:
    // Opens the algorithm and creates the hash. A failure leaves the hasher unusable, not thrown.
    Sha256() : Sha256(L"SHA256") {}
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    ~Sha256();

    // False when the hash could not be created; every step is then skipped.
    bool Usable() const noexcept { return static_cast<bool>(hash_); }

    // Hashes the bytes in order, in chunks of any size. False when the hasher is unusable, already
    // finished, or the hash call failed: the digest is then unavailable and Finish returns nothing.
    bool Update(const void* data, std::size_t size);
    bool Update(std::span<const std::uint8_t> bytes) { return Update(bytes.data(), bytes.size()); }
    bool Update(std::string_view bytes) { return Update(bytes.data(), bytes.size()); }

    // The digest as 64 lower-case hexadecimal characters; empty when the hasher is unusable, a
    // step failed, or it was finished before.
    std::wstring Finish();

protected:
    // The CNG algorithm by its id; another id than SHA-256's only to show how failures behave.
    explicit Sha256(const wchar_t* algorithm);

private:
    // Declared so that they go in the order CNG needs: the hash first, then the provider, and the
    // hash object's working memory last.
    std::vector<std::uint8_t> memory_;
    UniqueAlgorithm provider_;
    UniqueHash hash_;
    bool failed_ = false;
    bool finished_ = false;
};

inline constexpr std::uint64_t WholeFile = std::numeric_limits<std::uint64_t>::max();

// Feeds an open file, from its current position, into the hasher in 1 MiB chunks: `limit` bytes, or
// up to its end. Checks `stop` before each chunk and tells `progress` the bytes done after each.
// 0 when every byte went in; ERROR_CANCELLED when stopped, ERROR_HANDLE_EOF when the file ended
// before `limit`, else the read's error. A failed hash step ends the reading at once and shows as the
// empty digest from Finish.
DWORD HashFile(HANDLE file, Sha256& hasher, std::stop_token stop, std::uint64_t limit = WholeFile,
               const std::function<void(std::uint64_t)>& progress = {});

} // namespace Pd
