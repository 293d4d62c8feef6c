#include "release/manifest/Versions.h"

#include "core/Settings.h"
#include "release/base/ReleaseConstants.h"

#include <windows.h>

#include <cstdint>

namespace Pd::Core
{
namespace
{

// A part's number stops growing at this size: further digits are read and ignored.
constexpr std::uint64_t NumberLimit = 100'000'000'000;

// Reads the leading number of a version text and moves the text on to the next part.
std::uint64_t TakePart(std::wstring_view& text)
{
    std::uint64_t number = 0;
    std::size_t position = 0;
    for (; position < text.size() && text[position] >= L'0' && text[position] <= L'9'; ++position)
        if (number < NumberLimit)
            number = number * 10 + static_cast<std::uint64_t>(text[position] - L'0');
    if (position == text.size())
        text = {};
    else
    {
        std::size_t dot = text.find(L'.', position);
        text = dot == std::wstring_view::npos ? std::wstring_view{} : text.substr(dot + 1);
    }
    return number;
}

} // namespace

int CompareVersions(std::wstring_view a, std::wstring_view b)
{
    while (!a.empty() || !b.empty())
    {
        std::uint64_t left = TakePart(a);
        std::uint64_t right = TakePart(b);
        if (left != right)
            return left < right ? -1 : 1;
    }
    return 0;
}

std::wstring GithubManifestAddress()
{
    return L"https://" + std::wstring(ReleaseWebHost) + L"/" + std::wstring(ReleaseRepository) +
           L"/releases/download/components/manifest.json";
}

std::wstring MirrorManifestAddress()
{
    return L"https://" + std::wstring(MirrorHost) + L"/android/manifest.json";
}

std::wstring ManifestSource()
{
    const std::wstring source = ReadUserString(L"Source", L"github");
    if (source == L"custom")
        return ReadUserString(L"CustomManifest", L"");
    if (source == L"mirror")
        return MirrorManifestAddress();
    if (source == L"local")
        return std::wstring(LocalManifestAddress);
    return GithubManifestAddress();
}

bool UpdateCheckEnabled()
{
    return ReadUserDword(L"UpdateCheck").value_or(1) != 0;
}

} // namespace Pd::Core
