#include "platform/sim/SimAppxManifest.h"

#include "core/Strings.h"

#include <fstream>
#include <iterator>
#include <regex>

namespace Pd::Platform::Sim
{
namespace
{

constexpr std::streamsize MaxManifestBytes = 1024 * 1024;

// The value of one attribute inside an element's text (attributes in any order).
std::wstring Attribute(const std::wstring& element, const wchar_t* name)
{
    std::wregex pattern(std::wstring(L"\\s") + name + L"\\s*=\\s*\"([^\"]*)\"");
    std::wsmatch match;
    return std::regex_search(element, match, pattern) ? match[1].str() : std::wstring();
}

} // namespace

PackageVersionNumber ReadPackageVersion(std::wstring_view text)
{
    PackageVersionNumber value = 0;
    std::size_t position = 0;
    for (int part = 0; part < 4; ++part)
    {
        std::uint32_t number = 0;
        while (position < text.size() && text[position] >= L'0' && text[position] <= L'9')
            number = (number * 10 + static_cast<std::uint32_t>(text[position++] - L'0')) & 0xFFFF;
        value = value << 16 | number;
        if (position < text.size() && text[position] == L'.')
            ++position;
        else
            position = text.size();
    }
    return value;
}

Pd::Result<AppxIdentity> ParseAppxManifest(std::wstring_view text)
{
    const std::wstring document(text);
    static const std::wregex identityPattern(L"<Identity\\b[^>]*>");
    static const std::wregex dependencyPattern(L"<PackageDependency\\b[^>]*>");
    std::wsmatch identityMatch;
    if (!std::regex_search(document, identityMatch, identityPattern))
        return Pd::Fail(L"The package manifest has no Identity element.");
    const std::wstring identityText = identityMatch.str();
    AppxIdentity identity;
    identity.name = Attribute(identityText, L"Name");
    if (identity.name.empty())
        return Pd::Fail(L"The package manifest's Identity has no Name.");
    identity.publisher = Attribute(identityText, L"Publisher");
    PackageVersionNumber version = ReadPackageVersion(Attribute(identityText, L"Version"));
    for (int part = 0; part < 4; ++part)
        identity.version[part] = static_cast<std::uint16_t>(version >> (48 - 16 * part));
    if (std::wstring architecture = Attribute(identityText, L"ProcessorArchitecture"); !architecture.empty())
        identity.architecture = architecture;
    for (std::wsregex_iterator it(document.begin(), document.end(), dependencyPattern), end; it != end; ++it)
    {
        const std::wstring element = it->str();
        identity.dependencies.push_back(
            {Attribute(element, L"Name"), ReadPackageVersion(Attribute(element, L"MinVersion"))});
    }
    return identity;
}

Pd::Result<AppxIdentity> ReadAppxManifest(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return Pd::Fail(file.wstring() + L" cannot be opened.");
    std::string bytes(static_cast<std::size_t>(MaxManifestBytes) + 1, '\0');
    in.read(bytes.data(), MaxManifestBytes + 1);
    if (in.gcount() > MaxManifestBytes)
        return Pd::Fail(file.wstring() + L" is too large for a package manifest.");
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return ParseAppxManifest(Core::FromUtf8(bytes));
}

} // namespace Pd::Platform::Sim
