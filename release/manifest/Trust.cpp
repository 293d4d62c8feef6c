#include "release/manifest/Trust.h"

#include "core/Elevation.h"
#include "core/Handles.h"
#include "core/Sha256.h"
#include "platform/Publisher.h"
#include "release/base/OpenPath.h"
#include "release/base/ReleaseConstants.h"

#include <bcrypt.h>
#include <mscat.h>
#include <mssip.h>
#include <softpub.h>
#include <wintrust.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace Pd::Core
{
namespace
{

constexpr std::size_t MaxCatalogBytes = 16u << 20;

// One WinVerifyTrust verification whose state is closed again, whatever the verdict.
class TrustVerification
{
public:
    TrustVerification(const std::wstring& path, HANDLE file)
    {
        file_.cbStruct = sizeof(file_);
        file_.pcwszFilePath = path.c_str();
        file_.hFile = file == INVALID_HANDLE_VALUE ? nullptr : file;
        data_.cbStruct = sizeof(data_);
        data_.dwUIChoice = WTD_UI_NONE;
        data_.fdwRevocationChecks = WTD_REVOKE_NONE;
        data_.dwUnionChoice = WTD_CHOICE_FILE;
        data_.pFile = &file_;
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        data_.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
        status_ = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }
    TrustVerification(const TrustVerification&) = delete;
    TrustVerification& operator=(const TrustVerification&) = delete;
    ~TrustVerification()
    {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }

    LONG Status() const noexcept { return status_; }

    // The first signer's chain, leaf first; empty when Windows kept none.
    std::vector<PCCERT_CONTEXT> SignerChain() const
    {
        std::vector<PCCERT_CONTEXT> chain;
        CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data_.hWVTStateData);
        CRYPT_PROVIDER_SGNR* signer =
            provider ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
        if (!signer || !signer->pasCertChain)
            return chain;
        for (DWORD i = 0; i < signer->csCertChain; ++i)
            chain.push_back(signer->pasCertChain[i].pCert);
        return chain;
    }

private:
    GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file_{};
    WINTRUST_DATA data_{};
    LONG status_ = 0;
};

// The member lookup through the catalog functions: the member tagged with the digest must carry
// SHA-256 indirect data with that digest.
bool CatalogListsDigest(const std::wstring& catalogPath, const std::wstring& digest)
{
    std::wstring path = catalogPath;
    UniqueCatalog catalog(::CryptCATOpen(path.data(), CRYPTCAT_OPEN_EXISTING, 0, CRYPTCAT_VERSION_2, 0));
    if (!catalog)
        return false;
    std::wstring tag = MemberTag(digest);
    CRYPTCATMEMBER* member = ::CryptCATGetMemberInfo(catalog.Get(), tag.data());
    return member && IndirectDataHolds(member->pIndirectData, digest);
}

std::wstring DataSha256(std::string_view data)
{
    Pd::Sha256 hasher;
    hasher.Update(data);
    return hasher.Finish();
}

// The catalog file opened for reading against writers, unless it is a reparse point (a link or
// junction); an invalid handle otherwise. A writer may still rename a new catalog over it.
UniqueFile OpenCatalog(const std::wstring& path)
{
    UniqueFile file(Install::OpenPath(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT));
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!file || !::GetFileInformationByHandleEx(file.Get(), FileAttributeTagInfo, &tag, sizeof(tag)) ||
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return {};
    return file;
}

// The temporary folder with its separator; empty when Windows does not tell it. The user's own
// temporary folder comes from HKCU\Environment, which the user's unelevated programs can point
// anywhere and whose files they can change while the catalog is checked: an elevated process
// uses Windows' own, where what it creates belongs to administrators.
std::wstring TemporaryFolder()
{
    std::array<wchar_t, MAX_PATH + 1> folder{};
    if (Core::MayBeElevated())
    {
        const UINT length = ::GetSystemWindowsDirectoryW(folder.data(), MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return {};
        return std::wstring(folder.data(), length) + L"\\Temp\\";
    }
    DWORD length = ::GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
    if (length == 0 || length > MAX_PATH)
        return {};
    return std::wstring(folder.data(), length);
}

// "pld-<32 hex>.cat": the name of a temporary catalog, and nothing else.
bool IsTemporaryCatalogName(std::wstring_view name)
{
    constexpr std::size_t HexDigits = 32;
    if (name.size() != 4 + HexDigits + 4 || !name.starts_with(L"pld-") || !name.ends_with(L".cat"))
        return false;
    return std::ranges::all_of(name.substr(4, HexDigits), [](wchar_t c) {
        return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
    });
}

// "<temp>\pld-<32 hex>.cat", or empty when the folder or the random name cannot be had.
std::wstring TemporaryCatalogPath()
{
    const std::wstring folder = TemporaryFolder();
    std::array<std::uint8_t, 16> random{};
    if (folder.empty() ||
        !BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, random.data(), static_cast<ULONG>(random.size()),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return {};
    return folder + L"pld-" + HexLower(random) + L".cat";
}

// The temporary catalogs that runs ended without deleting (killed while checking a manifest).
// A run's own stays open without delete sharing while it checks, so it is never taken here; a
// link of that name is left alone.
void SweepTemporaryCatalogs()
{
    const std::wstring folder = TemporaryFolder();
    if (folder.empty())
        return;
    WIN32_FIND_DATAW entry{};
    UniqueFind find(::FindFirstFileW((folder + L"pld-*.cat").c_str(), &entry));
    if (!find)
        return;
    do
    {
        if (!IsTemporaryCatalogName(entry.cFileName) ||
            (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
            continue;
        UniqueFile file(Install::OpenPath(folder + entry.cFileName, DELETE | FILE_READ_ATTRIBUTES, 0,
                                          OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT));
        FILE_ATTRIBUTE_TAG_INFO tag{};
        FILE_DISPOSITION_INFO remove{TRUE};
        if (file && ::GetFileInformationByHandleEx(file.Get(), FileAttributeTagInfo, &tag, sizeof(tag)) &&
            (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            ::SetFileInformationByHandle(file.Get(), FileDispositionInfo, &remove, sizeof(remove));
    } while (::FindNextFileW(find.Get(), &entry));
}

// Writes the catalog as a new temporary file and returns a handle that keeps it: readable by the
// catalog functions, never deletable by another run's sweep while this run checks it.
UniqueFile WriteTemporaryCatalog(const std::wstring& path, std::string_view catalog)
{
    UniqueFile writer(Install::OpenPath(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_OPEN_REPARSE_POINT));
    if (!writer)
        return {};
    UniqueFile keeper(Install::OpenPath(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT));
    DWORD written = 0;
    if (!keeper ||
        !::WriteFile(writer.Get(), catalog.data(), static_cast<DWORD>(catalog.size()), &written, nullptr) ||
        written != catalog.size())
    {
        writer.Reset();
        keeper.Reset();
        ::DeleteFileW(path.c_str());
        return {};
    }
    return keeper;
}

} // namespace

PublisherPins TrustedPublisher()
{
    return Platform::StandInPublisher().value_or(ProductPublisher());
}

const PublisherPins& ProductPublisher()
{
    static const PublisherPins pins{std::wstring(PublisherSubject),
                                    std::wstring(PublisherRootPrefix),
                                    {std::wstring(PublisherRootKeys[0]), std::wstring(PublisherRootKeys[1])}};
    return pins;
}

namespace Detail
{

SignatureState VerifyPublisherWith(const std::wstring& path, HANDLE file, const PublisherPins& pins)
{
    TrustVerification verification(path, file);
    switch (static_cast<std::uint32_t>(verification.Status()))
    {
    case 0:
        break;
    case 0x800B0100: // no signature
    case 0x800B0001: // unknown provider
    case 0x800B0003: // unknown subject form
        return SignatureState::NotSigned;
    default:
        return SignatureState::Modified;
    }
    const std::vector<PCCERT_CONTEXT> chain = verification.SignerChain();
    if (!ChainSignaturesHold(chain))
        return SignatureState::Modified;
    return ChainMatchesPins(chain, pins) ? SignatureState::Official : SignatureState::OtherSigner;
}

bool VerifyCatalogMemberWith(const std::wstring& catalogPath, std::string_view data,
                             const PublisherPins& pins)
{
    UniqueFile file = OpenCatalog(catalogPath);
    if (!file)
        return false;
    if (VerifyPublisherWith(catalogPath, file.Get(), pins) != SignatureState::Official)
        return false;
    const std::wstring digest = DataSha256(data);
    return digest.size() == 64 && CatalogListsDigest(catalogPath, digest);
}

bool VerifyStandInCatalogMember(const std::wstring& catalogPath, std::string_view data,
                                const PublisherPins& pins)
{
    UniqueFile file = OpenCatalog(catalogPath);
    const std::wstring digest = DataSha256(data);
    return file && digest.size() == 64 &&
           Platform::StandInCatalogListsMember(catalogPath, file.Get(), pins, digest);
}

} // namespace Detail

SignatureState VerifyPublisher(const std::wstring& path, HANDLE file)
{
    return Detail::VerifyPublisherWith(path, file, TrustedPublisher());
}

bool VerifyCatalogMember(const std::wstring& catalogPath, std::string_view data)
{
    if (auto standIn = Platform::StandInPublisher())
        return Detail::VerifyStandInCatalogMember(catalogPath, data, *standIn);
    return Detail::VerifyCatalogMemberWith(catalogPath, data, ProductPublisher());
}

bool VerifyWithCatalogBytes(std::string_view catalog, std::string_view data)
{
    if (catalog.empty() || data.empty() || catalog.size() > MaxCatalogBytes)
        return false;
    SweepTemporaryCatalogs();
    const std::wstring path = TemporaryCatalogPath();
    if (path.empty())
        return false;
    UniqueFile keeper = WriteTemporaryCatalog(path, catalog);
    if (!keeper)
        return false;
    const bool listed = VerifyCatalogMember(path, data);
    keeper.Reset();
    ::DeleteFileW(path.c_str());
    return listed;
}

} // namespace Pd::Core
