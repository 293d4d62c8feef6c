#include "core/release/Manifest.h"

#include "core/Json.h"
#include "core/release/PathRules.h"
#include "core/Strings.h"
#include "core/Text.h"

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
    return Fail(FormatText(16026, detail));
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

Result<Component> ParseComponent(const Json::Value& item, const Manifest& manifest)
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
    auto packedSize = item.Member(L"packedSize").AsUInt64();
    if (!packedSize)
        return Invalid(fmt::format(L"\"{}\" (number) is missing", L"packedSize"));
    component.packedSize = *packedSize;

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
    component.size = item.Member(L"size").AsUInt64().value_or(0);
    component.version = item.TextOr(L"version", manifest.version);
    component.optional = item.Member(L"optional").AsBool().value_or(false);

    // Ids name files on a file system that ignores letter case, so they must differ in more.
    for (const Component& earlier : manifest.components)
        if (EqualsIgnoringCase(earlier.id, component.id))
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
    if (bytes.size() > 2 && bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    std::wstring text = FromUtf8(bytes);
    auto root = Json::Parser(text).Parse();
    if (!root)
        return Invalid(root.error());
    if (root->kind != Json::Kind::Object)
        return Invalid(L"object expected");
    if (root->Member(L"format").AsUInt64() != 1u)
        return Fail(Text(16027));

    Manifest manifest;
    manifest.url = url;
    manifest.name = root->TextOr(L"name", L"Peldra");
    auto version = root->RequiredText(L"version");
    if (!version)
        return Invalid(version.error());
    manifest.version = std::move(*version);
    manifest.android = root->TextOr(L"android", L"");
    manifest.variant = root->TextOr(L"variant", L"");
    // A build beyond 32 bits is one no Windows has, not one that wraps to a small number.
    manifest.minWindowsBuild = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        root->Member(L"minWindowsBuild").AsUInt64().value_or(0), std::numeric_limits<std::uint32_t>::max()));

    for (const Json::Value& item : root->Member(L"components").Items())
    {
        auto component = ParseComponent(item, manifest);
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
           !EqualsIgnoringCase(id, L"release") && !EqualsIgnoringCase(id, L"host");
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

bool IsSha256Hex(std::wstring_view text)
{
    return text.size() == 64 && std::ranges::all_of(text, [](wchar_t c) {
               return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
           });
}

} // namespace Pd::Core
