#include "release/manifest/Manifest.h"

#include "core/Json.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "release/base/PathRules.h"

#include <windows.h>

#include <fmt/xchar.h>

#include <algorithm>
#include <limits>

namespace Pd::Core
{
namespace
{

std::unexpected<std::wstring> Invalid(const std::wstring& detail)
{
    return Fail(FormatText(TextId::ReleaseManifestNotValid, detail));
}

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// One name inside a folder that Windows can create and that stays where it is named.
bool IsSafeSegment(std::wstring_view segment)
{
    if (segment.empty() || segment == L"." || segment == L".." || Install::IsReservedName(segment))
        return false;
    return std::ranges::none_of(segment, [](wchar_t c) {
        return c == L'\0' || c == L':' || std::wstring_view(L"*?\"<>|").find(c) != std::wstring_view::npos;
    });
}

// A member's value as the manifest wrote it, shortened: error texts name what was refused.
std::wstring Shown(const Json::Value& value)
{
    constexpr std::size_t MaxShown = 64;
    std::wstring text;
    switch (value.kind)
    {
    case Json::Kind::Number:
        text = value.text;
        break;
    case Json::Kind::String:
        Json::AppendQuoted(value.text, text);
        break;
    case Json::Kind::Bool:
        text = value.flag ? L"true" : L"false";
        break;
    case Json::Kind::Array:
        return L"[...]";
    case Json::Kind::Object:
        return L"{...}";
    case Json::Kind::Null:
        return L"null";
    }
    if (text.size() > MaxShown)
        text = text.substr(0, MaxShown) + L"...";
    return text;
}

// A byte count: absent (null) is none, anything but a whole number of 64 bits is refused.
Result<std::optional<std::uint64_t>> ReadSize(const Json::Value& item, const wchar_t* name,
                                              const std::wstring& id)
{
    const Json::Value& value = item.Member(name);
    if (value.kind == Json::Kind::Null)
        return std::nullopt;
    auto size = value.AsUInt64();
    if (!size)
        return Invalid(FormatText(TextId::NotAByteCount, name, Shown(value), id));
    return size;
}

// The release's running total of bytes, which every later sum (download, disk, free space needed,
// progress) stays below, and the largest count in it.
struct ByteTotal
{
    std::uint64_t sum = 0;
    std::uint64_t largest = 0;
    const wchar_t* largestName = nullptr;
    std::wstring largestId;
};

// Adds a component's byte counts to the total. A total past 64 bits is blamed on the largest
// count in it, the one that cannot fit, never on a small one that happened to be added last.
Result<> AddToTotal(ByteTotal& total, const Component& component)
{
    bool fits = true;
    for (const auto& [name, bytes] :
         {std::pair{L"packedSize", component.packedSize}, {L"size", component.size}})
    {
        if (!total.largestName || bytes > total.largest)
        {
            total.largest = bytes;
            total.largestName = name;
            total.largestId = component.id;
        }
        fits = fits && bytes <= std::numeric_limits<std::uint64_t>::max() - total.sum;
        if (fits)
            total.sum += bytes;
    }
    if (!fits)
        return Invalid(
            FormatText(TextId::ReleaseSizesOverflow, total.largestName, total.largest, total.largestId));
    return {};
}

std::optional<ComponentKind> KindFromText(std::wstring_view kind)
{
    if (kind == L"disk")
        return ComponentKind::Disk;
    if (kind == L"file")
        return ComponentKind::File;
    if (kind == L"archive")
        return ComponentKind::Archive;
    return std::nullopt;
}

Result<Component> ParseComponent(const Json::Value& item, const Manifest& manifest, ByteTotal& total)
{
    Component component;
    std::wstring kindText;
    std::wstring url;
    for (auto [name, text] : {std::pair{L"id", &component.id},
                              {L"kind", &kindText},
                              {L"target", &component.target},
                              {L"url", &url},
                              {L"packedSha256", &component.packedSha256}})
    {
        auto value = item.RequiredText(name);
        if (!value)
            return Invalid(value.error());
        *text = std::move(*value);
    }
    auto packedSize = ReadSize(item, L"packedSize", component.id);
    if (!packedSize)
        return std::unexpected(std::move(packedSize.error()));
    if (!*packedSize)
        return Invalid(fmt::format(L"\"{}\" (number) is missing", L"packedSize"));
    component.packedSize = **packedSize;

    if (!IsSafeComponentId(component.id))
        return Invalid(fmt::format(L"unsafe id \"{}\"", component.id));
    auto kind = KindFromText(kindText);
    if (!kind)
        return Invalid(fmt::format(L"unknown kind \"{}\" of \"{}\"", kindText, component.id));
    component.kind = *kind;
    if (!IsSafeTarget(component.target) &&
        !(component.target == L"." && component.kind == ComponentKind::Archive))
        return Invalid(fmt::format(L"unsafe target \"{}\"", component.target));
    component.url = ResolveUrl(manifest.url, url);
    component.packedSha256 = ToLower(component.packedSha256);
    if (!IsSha256Hex(component.packedSha256))
        return Invalid(fmt::format(L"bad packedSha256 of \"{}\"", component.id));
    component.sha256 = ToLower(item.TextOr(L"sha256", L""));
    if (!component.sha256.empty() && !IsSha256Hex(component.sha256))
        return Invalid(fmt::format(L"bad sha256 of \"{}\"", component.id));
    auto size = ReadSize(item, L"size", component.id);
    if (!size)
        return std::unexpected(std::move(size.error()));
    component.size = size->value_or(0);
    if (auto added = AddToTotal(total, component); !added)
        return std::unexpected(std::move(added.error()));
    component.version = item.TextOr(L"version", manifest.version);
    component.optional = item.Member(L"optional").AsBool().value_or(false);

    // Ids name files on a file system that ignores letter case, so they must differ in more.
    for (const Component& earlier : manifest.components)
        if (Core::EqualsIgnoringCase(earlier.id, component.id))
            return Invalid(fmt::format(L"component \"{}\" listed twice", component.id));
    return component;
}

std::optional<AppInfo> ParseApp(const Json::Value& app, std::wstring_view manifestUrl)
{
    if (app.kind != Json::Kind::Object)
        return std::nullopt;
    AppInfo info{app.TextOr(L"version", L""), app.TextOr(L"url", L""),
                 app.Member(L"size").AsUInt64().value_or(0), ToLower(app.TextOr(L"sha256", L"")),
                 app.TextOr(L"minimum", L"")};
    if (info.version.empty() || info.url.empty() || info.size == 0 || !IsSha256Hex(info.sha256))
        return std::nullopt;
    info.url = ResolveUrl(manifestUrl, info.url);
    return info;
}

} // namespace

const Component* Manifest::FindComponent(std::wstring_view id) const
{
    auto found = std::ranges::find(components, id, &Component::id);
    return found != components.end() ? &*found : nullptr;
}

Result<Manifest> ParseManifest(std::string_view bytes, std::wstring_view url)
{
    auto root = Json::ParseUtf8(bytes);
    if (!root)
        return Invalid(root.error());
    // A release manifest of any format says which: JSON without it is some other document.
    if (root->kind != Json::Kind::Object)
        return Fail(FormatText(TextId::NotReleaseManifest, std::wstring(url), L"a JSON object is expected"));
    const Json::Value& format = root->Member(L"format");
    if (format.kind == Json::Kind::Null)
        return Fail(FormatText(TextId::NotReleaseManifest, std::wstring(url), L"it has no \"format\""));
    if (format.AsUInt64() != 1u)
        return Fail(Text(TextId::ReleaseNeedsNewerPeldra));

    Manifest manifest;
    manifest.url = url;
    manifest.name = root->TextOr(L"name", L"Peldra");
    auto version = root->RequiredText(L"version");
    if (!version)
        return Invalid(version.error());
    manifest.version = std::move(*version);
    manifest.android = root->TextOr(L"android", L"");
    manifest.variant = root->TextOr(L"variant", L"");
    if (const Json::Value& build = root->Member(L"minWindowsBuild"); build.kind != Json::Kind::Null)
    {
        auto number = build.AsUInt64();
        if (!number || *number > std::numeric_limits<std::uint32_t>::max())
            return Invalid(FormatText(TextId::MinWindowsBuildInvalid, Shown(build)));
        manifest.minWindowsBuild = static_cast<std::uint32_t>(*number);
    }

    ByteTotal total;
    for (const Json::Value& item : root->Member(L"components").Items())
    {
        auto component = ParseComponent(item, manifest, total);
        if (!component)
            return std::unexpected(std::move(component.error()));
        manifest.components.push_back(std::move(*component));
    }
    if (manifest.components.empty())
        return Invalid(L"no components");
    manifest.app = ParseApp(root->Member(L"app"), manifest.url);
    return manifest;
}

bool IsSafeTarget(std::wstring_view target)
{
    if (target.empty() || target.find(L':') != std::wstring_view::npos || IsSeparator(target.front()))
        return false;
    std::size_t start = 0;
    while (start <= target.size())
    {
        auto separator = std::find_if(target.begin() + start, target.end(), IsSeparator);
        std::size_t end = static_cast<std::size_t>(separator - target.begin());
        if (!IsSafeSegment(target.substr(start, end - start)))
            return false;
        start = end + 1;
    }
    return true;
}

bool IsSafeComponentId(std::wstring_view id)
{
    return IsSafeSegment(id) &&
           std::ranges::none_of(id, [](wchar_t c) { return c < 0x20 || IsSeparator(c); }) &&
           !Core::EqualsIgnoringCase(id, L"release") && !Core::EqualsIgnoringCase(id, L"host");
}

std::wstring ResolveUrl(std::wstring_view manifestUrl, std::wstring_view reference)
{
    if (reference.size() > 2 && reference.find(L"://") != std::wstring_view::npos)
        return std::wstring(reference);
    std::wstring_view base = manifestUrl.substr(0, manifestUrl.find_first_of(L"?#"));
    if (std::size_t slash = base.rfind(L'/'); slash != std::wstring_view::npos)
        base = base.substr(0, slash + 1);
    if (reference.starts_with(L'/'))
    {
        std::size_t scheme = base.find(L"://");
        if (scheme != std::wstring_view::npos)
            if (std::size_t path = base.find(L'/', scheme + 3); path != std::wstring_view::npos)
                return std::wstring(base.substr(0, path)).append(reference);
    }
    return std::wstring(base).append(reference);
}

bool IsLoopbackHost(std::wstring_view host)
{
    const std::wstring lower = ToLower(host);
    return lower == L"localhost" || lower == L"127.0.0.1" || lower == L"[::1]" || lower == L"::1";
}

bool IsFetchableAddress(std::wstring_view url)
{
    constexpr std::size_t MaxHost = 255;
    const std::size_t schemeEnd = url.find(L"://");
    if (schemeEnd == std::wstring_view::npos)
        return false;
    const std::wstring scheme = ToLower(url.substr(0, schemeEnd));
    if (scheme != L"https" && scheme != L"http")
        return false;
    std::wstring_view authority = url.substr(schemeEnd + 3);
    authority = authority.substr(0, authority.find_first_of(L"/?#"));
    if (std::size_t at = authority.rfind(L'@'); at != std::wstring_view::npos)
        authority.remove_prefix(at + 1);
    std::wstring_view host;
    if (authority.starts_with(L'['))
    {
        const std::size_t close = authority.find(L']');
        if (close == std::wstring_view::npos || close < 2)
            return false;
        host = authority.substr(0, close + 1);
    }
    else
        host = authority.substr(0, authority.find(L':'));
    if (host.empty() || host.size() > MaxHost)
        return false;
    return scheme == L"https" || IsLoopbackHost(host);
}

Result<> CheckAddresses(const Manifest& manifest)
{
    for (const Component& component : manifest.components)
        if (!IsFetchableAddress(component.url))
            return Invalid(FormatText(TextId::AddressCannotBeFetched, component.url, component.id));
    return {};
}

bool IsSha256Hex(std::wstring_view text)
{
    return text.size() == 64 && std::ranges::all_of(text, [](wchar_t c) {
               return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
           });
}

} // namespace Pd::Core
