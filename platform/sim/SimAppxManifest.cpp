#include "platform/sim/SimAppxManifest.h"

#include "core/Strings.h"
#include "core/XmlTags.h"

#include <fstream>
#include <iterator>

namespace Pd::Platform::Sim
{
namespace
{

constexpr std::streamsize MaxManifestBytes = 1024 * 1024;

std::wstring Attribute(std::wstring_view tag, std::wstring_view name)
{
    return std::wstring(Core::TagAttribute(tag, name).value_or(std::wstring_view()));
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
    const std::vector<std::wstring_view> identities = Core::StartTags(text, L"Identity");
    if (identities.empty())
        return Pd::Fail(L"The package manifest has no Identity element.");
    const std::wstring_view identityText = identities.front();
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
    for (std::wstring_view element : Core::StartTags(text, L"PackageDependency"))
        identity.dependencies.push_back(
            {Attribute(element, L"Name"), ReadPackageVersion(Attribute(element, L"MinVersion"))});
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
