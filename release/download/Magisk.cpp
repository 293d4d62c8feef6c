#include "release/download/Magisk.h"

#include "core/DefaultInstallFolder.h"
#include "core/ErrorText.h"
#include "core/Hex.h"
#include "core/Json.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "release/base/ReleaseConstants.h"
#include "release/base/RunLock.h"
#include "release/download/Net.h"
#include "release/verify/ReleaseFiles.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace Pd::Core::Magisk
{
namespace
{

constexpr std::uint64_t RecordLimit = 4096;

bool IsHexDigest(std::wstring_view text)
{
    return text.size() == 64 && std::ranges::all_of(text, [](wchar_t c) { return HexValue(c) >= 0; });
}

std::unexpected<std::wstring> NotFound(const std::wstring& what)
{
    return Pd::Fail(FormatText(TextId::NoMagiskReleaseFound, what));
}

std::wstring DefaultFolder()
{
    return (std::filesystem::path(DefaultInstallFolder()) / L"Magisk").wstring();
}

} // namespace

namespace Detail
{

Endpoints DefaultEndpoints()
{
    return {L"https://" + std::wstring(MagiskApiHost), L"https://" + std::wstring(MagiskDownloadHost),
            std::wstring(MagiskOwner)};
}

Pd::Result<Release> ParseLatest(std::string_view body, const Endpoints& endpoints)
{
    if (body.size() > 2 && body.starts_with("\xEF\xBB\xBF"))
        body.remove_prefix(3);
    auto root = Json::Parser(FromUtf8(body)).Parse();
    if (!root || root->kind != Json::Kind::Object)
        return NotFound(L"JSON");

    Release release;
    release.tag = root->TextOr(L"tag_name", L"");
    for (const Json::Value& asset : root->Member(L"assets").Items())
    {
        const std::wstring name = asset.TextOr(L"name", L"");
        if (!name.starts_with(L"Magisk-v") || !name.ends_with(L".apk") ||
            name.find(L"debug") != std::wstring::npos)
            continue;
        release.url = asset.TextOr(L"browser_download_url", L"");
        release.size = asset.Member(L"size").AsUInt64().value_or(0);
        const std::wstring digest = asset.TextOr(L"digest", L"");
        if (digest.size() > 6 && digest.starts_with(L"sha256:"))
            release.sha256 = ToLower(digest.substr(7));
        break;
    }
    const std::wstring releases = endpoints.download + L"/" + endpoints.owner + L"/Magisk/releases/download/";
    if (!release.url.starts_with(releases) || release.size == 0 || !IsHexDigest(release.sha256))
        return NotFound(release.tag.empty() ? L"?" : release.tag);
    return release;
}

Pd::Result<Release> FindLatestAt(const Endpoints& endpoints, std::stop_token stop)
{
    const std::wstring url = endpoints.api + L"/repos/" + endpoints.owner + L"/Magisk/releases/latest";
    auto body = Net::FetchText(url, stop, 10'000, 20'000);
    if (!body)
        return Pd::Fail(std::move(body.error()));
    return ParseLatest(*body, endpoints);
}

std::optional<Stored> VerifiedIn(const std::wstring& folder)
{
    const std::filesystem::path base(folder);
    std::istringstream record(ReadFileBytes((base / L"Magisk.txt").wstring(), RecordLimit));
    std::string tag;
    std::string digest;
    if (!(record >> tag >> digest))
        return std::nullopt;
    Stored stored{(base / L"Magisk.apk").wstring(), FromUtf8(tag), FromUtf8(digest)};
    if (!IsHexDigest(stored.sha256))
        return std::nullopt;
    auto actual = Net::FileSha256(stored.path, {}, {});
    if (!actual || *actual != stored.sha256)
        return std::nullopt;
    return stored;
}

Pd::Result<> DownloadInto(const std::wstring& folder, const Release& release,
                          const Net::ByteProgress& progress, const LogText& log, std::stop_token stop)
{
    if (auto stored = VerifiedIn(folder); stored && stored->sha256 == release.sha256)
        return {};
    const std::filesystem::path base(folder);
    std::error_code ignored;
    std::filesystem::create_directories(base, ignored);

    const std::wstring part = (base / L"Magisk.apk.part").wstring();
    const std::wstring apk = (base / L"Magisk.apk").wstring();
    if (auto downloaded =
            Net::Download(release.url, part, release.size, release.sha256, 3, progress, log, stop);
        !downloaded)
        return downloaded;
    if (!::MoveFileExW(part.c_str(), apk.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
        return Pd::Fail(ErrorText(FormatText(TextId::WritingFile, apk), ::GetLastError()));
    return WriteFileReplacing((base / L"Magisk.txt").wstring(), ToUtf8(release.tag + L" " + release.sha256));
}

} // namespace Detail

Pd::Result<Release> FindLatest(std::stop_token stop)
{
    return Detail::FindLatestAt(Detail::DefaultEndpoints(), stop);
}

Pd::Result<> Download(const Release& release, const Net::ByteProgress& progress, const LogText& log,
                      std::stop_token stop)
{
    auto lock = RunLock::Acquire(log, stop);
    if (!lock)
        return std::unexpected(lock.error());
    return Detail::DownloadInto(DefaultFolder(), release, progress, log, stop);
}

std::optional<Stored> Verified()
{
    return Detail::VerifiedIn(DefaultFolder());
}

} // namespace Pd::Core::Magisk
