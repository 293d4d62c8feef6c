// File digests cached machine-wide, so that verifying an unchanged release reads no component
// file again. Each entry is keyed by the file's path and guarded by the file's identity: its
// volume, file id, size, change time and the change journal's sequence number (USN) of its last
// change. Without a change journal (USN 0) a file is always hashed and never cached.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace Pd::Core
{

inline constexpr const wchar_t* DigestCacheKey = L"Software\\Ormel\\Peldra\\Digests"; // HKEY_LOCAL_MACHINE

struct FileIdentity
{
    std::uint64_t volumeSerial = 0;
    std::array<std::uint8_t, 16> fileId{};
    std::uint64_t size = 0;
    std::int64_t changeTime = 0; // file time
    std::int64_t usn = 0;

    bool Valid() const noexcept { return usn != 0; }
};

inline constexpr std::size_t IdentityBytes = 48;
inline constexpr std::size_t CacheValueBytes = IdentityBytes + 64 * sizeof(wchar_t); // 176

// The identity of an open file; false when any part cannot be read or the file has no USN.
bool QueryFileIdentity(HANDLE file, FileIdentity& identity);

// The file's SHA-256 (64 lower-case hexadecimal characters) from the cache when the entry's
// identity still matches, else hashed in background mode and then cached. Empty when the file
// cannot be read or stop was requested (checked before every 1 MiB read).
std::wstring CachedFileSha256(const std::wstring& path, std::stop_token stop);

// Caches a digest already known for a file (the install run's freshly written components).
// Every failure is ignored.
void RememberFileSha256(const std::wstring& path, std::wstring_view sha256);

// The registry value name of a file: its path made lexically normal with backslashes, lower-cased.
std::wstring CacheValueName(const std::wstring& path);

// A cache value: the identity (little-endian fields in the order of FileIdentity) followed by the
// digest's 64 characters as UTF-16, 176 bytes.
std::vector<std::uint8_t> EncodeCacheValue(const FileIdentity& identity, std::wstring_view sha256);

// The digest of a cache value when it is exactly 176 bytes, its identity equals the given one and
// its digest is 64 lower-case hexadecimal characters.
std::optional<std::wstring> DecodeCacheValue(std::span<const std::uint8_t> value,
                                             const FileIdentity& identity);

namespace Detail
{
// Where identities come from: QueryFileIdentity, or a test's own (Wine keeps no change journal).
using IdentitySource = std::function<bool(HANDLE file, FileIdentity& identity)>;
std::wstring CachedFileSha256With(const std::wstring& path, std::stop_token stop,
                                  const IdentitySource& identify);
void RememberFileSha256With(const std::wstring& path, std::wstring_view sha256,
                            const IdentitySource& identify);
} // namespace Detail

} // namespace Pd::Core
