#include "release/verify/DigestCache.h"

#include "core/Handles.h"
#include "core/Sha256.h"
#include "core/Strings.h"
#include "release/base/OpenPath.h"

#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace Pd::Core
{
namespace
{

void PutLittleEndian(std::vector<std::uint8_t>& out, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t GetLittleEndian(const std::uint8_t* bytes)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

std::vector<std::uint8_t> EncodeIdentity(const FileIdentity& identity)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(CacheValueBytes);
    PutLittleEndian(bytes, identity.volumeSerial);
    bytes.insert(bytes.end(), identity.fileId.begin(), identity.fileId.end());
    PutLittleEndian(bytes, identity.size);
    PutLittleEndian(bytes, static_cast<std::uint64_t>(identity.changeTime));
    PutLittleEndian(bytes, static_cast<std::uint64_t>(identity.usn));
    return bytes;
}

bool IsLowerHexDigest(std::wstring_view text)
{
    return text.size() == 64 && std::ranges::all_of(text, [](wchar_t c) {
               return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
           });
}

void WriteCacheValue(const std::wstring& path, const FileIdentity& identity, std::wstring_view sha256)
{
    const std::vector<std::uint8_t> value = EncodeCacheValue(identity, sha256);
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, DigestCacheKey, CacheValueName(path).c_str(), REG_BINARY,
                      value.data(), static_cast<DWORD>(value.size()));
}

std::optional<std::wstring> ReadCachedDigest(const std::wstring& path, const FileIdentity& identity)
{
    std::array<std::uint8_t, CacheValueBytes + 1> value{};
    DWORD size = static_cast<DWORD>(value.size());
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, DigestCacheKey, CacheValueName(path).c_str(), RRF_RT_REG_BINARY,
                       nullptr, value.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    return DecodeCacheValue(std::span<const std::uint8_t>(value.data(), size), identity);
}

// Lowers the thread's processor and I/O priority until the hash is done.
class BackgroundMode
{
public:
    BackgroundMode() : entered_(::SetThreadPriority(::GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN)) {}
    ~BackgroundMode()
    {
        if (entered_)
            ::SetThreadPriority(::GetCurrentThread(), THREAD_MODE_BACKGROUND_END);
    }
    BackgroundMode(const BackgroundMode&) = delete;
    BackgroundMode& operator=(const BackgroundMode&) = delete;

private:
    bool entered_;
};

std::wstring HashOpenFile(HANDLE file, std::stop_token stop)
{
    BackgroundMode background;
    Pd::Sha256 hasher;
    return Pd::HashFile(file, hasher, std::move(stop)) == ERROR_SUCCESS ? hasher.Finish() : std::wstring();
}

} // namespace

bool QueryFileIdentity(HANDLE file, FileIdentity& identity)
{
    FILE_ID_INFO id{};
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    if (!::GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof(id)) ||
        !::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic)) ||
        !::GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof(standard)))
        return false;
    identity.volumeSerial = id.VolumeSerialNumber;
    std::memcpy(identity.fileId.data(), &id.FileId, identity.fileId.size());
    identity.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
    identity.changeTime = basic.ChangeTime.QuadPart;
    identity.usn = 0;

    alignas(8) std::array<std::uint8_t, 1024> record{};
    DWORD returned = 0;
    if (!::DeviceIoControl(file, FSCTL_READ_FILE_USN_DATA, nullptr, 0, record.data(),
                           static_cast<DWORD>(record.size()), &returned, nullptr) ||
        returned < 8)
        return false;
    const std::uint16_t major = static_cast<std::uint16_t>(record[4] | (record[5] << 8));
    std::size_t offset = 0;
    if (major == 2 && returned >= 64)
        offset = 24;
    else if (major == 3 && returned >= 80)
        offset = 40;
    else
        return false;
    identity.usn = static_cast<std::int64_t>(GetLittleEndian(record.data() + offset));
    return identity.Valid();
}

std::wstring CacheValueName(const std::wstring& path)
{
    return ToLower(std::filesystem::path(path).lexically_normal().make_preferred().wstring());
}

std::vector<std::uint8_t> EncodeCacheValue(const FileIdentity& identity, std::wstring_view sha256)
{
    std::vector<std::uint8_t> value = EncodeIdentity(identity);
    for (wchar_t c : sha256.substr(0, 64))
    {
        value.push_back(static_cast<std::uint8_t>(c & 0xFF));
        value.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return value;
}

std::optional<std::wstring> DecodeCacheValue(std::span<const std::uint8_t> value,
                                             const FileIdentity& identity)
{
    if (value.size() != CacheValueBytes)
        return std::nullopt;
    const std::vector<std::uint8_t> expected = EncodeIdentity(identity);
    if (!std::equal(expected.begin(), expected.end(), value.begin()))
        return std::nullopt;
    std::wstring digest;
    for (std::size_t i = IdentityBytes; i < CacheValueBytes; i += 2)
        digest += static_cast<wchar_t>(value[i] | (value[i + 1] << 8));
    if (!IsLowerHexDigest(digest))
        return std::nullopt;
    return digest;
}

namespace Detail
{

std::wstring CachedFileSha256With(const std::wstring& path, std::stop_token stop,
                                  const IdentitySource& identify)
{
    UniqueFile file(Install::OpenPath(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN));
    if (!file)
        return {};
    FileIdentity identity;
    const bool valid = identify(file.Get(), identity) && identity.Valid();
    if (valid)
        if (auto cached = ReadCachedDigest(path, identity))
            return *cached;
    std::wstring digest = HashOpenFile(file.Get(), std::move(stop));
    if (valid && digest.size() == 64)
        WriteCacheValue(path, identity, digest);
    return digest;
}

void RememberFileSha256With(const std::wstring& path, std::wstring_view sha256,
                            const IdentitySource& identify)
{
    if (sha256.size() != 64)
        return;
    UniqueFile file(
        Install::OpenPath(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING, 0));
    FileIdentity identity;
    if (file && identify(file.Get(), identity) && identity.Valid())
        WriteCacheValue(path, identity, sha256);
}

} // namespace Detail

std::wstring CachedFileSha256(const std::wstring& path, std::stop_token stop)
{
    return Detail::CachedFileSha256With(path, std::move(stop), QueryFileIdentity);
}

void RememberFileSha256(const std::wstring& path, std::wstring_view sha256)
{
    Detail::RememberFileSha256With(path, sha256, QueryFileIdentity);
}

} // namespace Pd::Core
