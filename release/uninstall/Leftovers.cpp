#include "release/uninstall/Leftovers.h"

#include "core/Strings.h"
#include "core/UserFolders.h"
#include "release/windows/Packages.h"

#include <shlobj.h>

#include <algorithm>
#include <set>

namespace Pd::Install
{
namespace
{

const std::wstring CurrentVersion = L"Software\\Microsoft\\Windows\\CurrentVersion";
const std::wstring Classes = L"Software\\Classes";

std::wstring Replaced(std::wstring text, wchar_t from, const std::wstring& to)
{
    for (std::size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, 1, to);
    return text;
}

void DeleteMatchingValues(LeftoverCleanup& cleanup, const std::wstring& key, const std::wstring& prefix)
{
    for (const std::wstring& name : RegValueNames(key))
        if (Core::StartsWithIgnoringCase(name, prefix))
            RegDeleteValue(cleanup, key, name);
}

void DeleteOwnedValues(LeftoverCleanup& cleanup, const std::wstring& key, const OwnedPaths& owned)
{
    for (const std::wstring& name : RegValueNames(key))
        if (owned.NamedBy(name))
            RegDeleteValue(cleanup, key, name);
}

void DeleteOwnedSubkeys(LeftoverCleanup& cleanup, const std::wstring& key, const OwnedPaths& owned,
                        const std::wstring& separator)
{
    for (const std::wstring& name : RegSubkeyNames(key))
        if (owned.NamedBy(name, separator))
            RegDeleteTree(cleanup, key + L"\\" + name);
}

// Whether the text is the path spelt with the separator, or starts with it followed by `next`
// (L'\0' allows nothing after it).
bool StartsWithPath(const std::wstring& text, const std::wstring& path, const std::wstring& separator,
                    wchar_t next)
{
    if (path.empty())
        return false;
    const std::wstring spelt = Replaced(path, L'\\', separator);
    return Core::StartsWithIgnoringCase(text, spelt) &&
           (text.size() == spelt.size() || text[spelt.size()] == next);
}

// Uninstall entries whose icon lies in the package's folder, with the registered applications
// that point to them.
void CleanUninstallEntries(LeftoverCleanup& cleanup)
{
    const std::wstring uninstall = CurrentVersion + L"\\Uninstall";
    const std::wstring iconMark = L"\\Packages\\" + std::wstring(TovikFamilyName) + L"\\";
    std::set<std::wstring> entries;
    for (const std::wstring& name : RegSubkeyNames(uninstall))
        if (Core::ContainsIgnoringCase(RegReadString(uninstall + L"\\" + name, L"DisplayIcon"), iconMark))
            entries.insert(name);

    const std::wstring registered = L"Software\\RegisteredApplications";
    const std::wstring pointer = uninstall + L"\\";
    for (const std::wstring& value : RegValueNames(registered))
    {
        const std::wstring text = RegReadString(registered, value.c_str());
        if (!Core::StartsWithIgnoringCase(text, pointer))
            continue;
        const std::wstring rest = text.substr(pointer.size());
        if (entries.contains(rest.substr(0, rest.find(L'\\'))))
            RegDeleteValue(cleanup, registered, value);
    }
    for (const std::wstring& name : entries)
        RegDeleteTree(cleanup, uninstall + L"\\" + name);
}

// File-type handlers whose open command starts Tovik, and the extensions' references to them.
void CleanProgIds(LeftoverCleanup& cleanup)
{
    const std::vector<std::wstring> classes = RegSubkeyNames(Classes);
    std::set<std::wstring> progIds;
    for (const std::wstring& name : classes)
        if (Core::StartsWithIgnoringCase(name, L"tovik.") &&
            Core::ContainsIgnoringCase(
                RegReadString(Classes + L"\\" + name + L"\\Shell\\Open\\Command", nullptr), TovikFamilyName))
            progIds.insert(name);
    if (progIds.empty())
        return;
    for (const std::wstring& name : classes)
    {
        if (!name.starts_with(L"."))
            continue;
        const std::wstring openWith = Classes + L"\\" + name + L"\\OpenWithProgids";
        for (const std::wstring& value : RegValueNames(openWith))
            if (progIds.contains(value))
                RegDeleteValue(cleanup, openWith, value);
    }
    for (const std::wstring& progId : progIds)
        RegDeleteTree(cleanup, Classes + L"\\" + progId);
}

} // namespace

std::wstring AppPrefix()
{
    return std::wstring(TovikFamilyName) + L"!";
}

bool OwnedPaths::Holds(const std::wstring& path) const
{
    return std::ranges::any_of(
               files, [&](const std::wstring& file) { return StartsWithPath(path, file, L"\\", L'\0'); }) ||
           std::ranges::any_of(
               trees, [&](const std::wstring& tree) { return StartsWithPath(path, tree, L"\\", L'\\'); });
}

bool OwnedPaths::NamedBy(const std::wstring& registryName, const std::wstring& separator) const
{
    return std::ranges::any_of(files,
                               [&](const std::wstring& file) {
                                   return StartsWithPath(registryName, file, separator, L'.');
                               }) ||
           std::ranges::any_of(trees, [&](const std::wstring& tree) {
               return StartsWithPath(registryName, tree, separator, separator.front());
           });
}

namespace
{
// A per-user folder the uninstall deletes in; empty (nothing is deleted there) when it is refused
// because it was moved out of the user's profile, where an elevated run would delete for
// whoever moved it.
std::wstring CheckedUserFolder(const KNOWNFOLDERID& id)
{
    return Core::UserKnownFolder(id).value_or(std::wstring());
}
} // namespace

std::wstring TovikDataFolder()
{
    const std::wstring localAppData = CheckedUserFolder(FOLDERID_LocalAppData);
    if (localAppData.empty())
        return {};
    return localAppData + L"\\Packages\\" + TovikFamilyName;
}

namespace Detail
{

LeftoverPlaces CurrentPlaces()
{
    return {CheckedUserFolder(FOLDERID_Programs), CheckedUserFolder(FOLDERID_Desktop),
            CheckedUserFolder(FOLDERID_UserPinned),
            [] { ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }};
}

LeftoverCounts CleanTovikLeftoversIn(const OwnedPaths& owned, const FailureReporter& report,
                                     const LeftoverPlaces& places)
{
    LeftoverCleanup cleanup{{}, report};
    const std::wstring family = TovikFamilyName;
    const std::wstring app = AppPrefix();

    CleanUninstallEntries(cleanup);
    CleanProgIds(cleanup);
    RegDeleteMatchingSubkeys(cleanup, CurrentVersion + L"\\Notifications\\Settings", app);
    RegDeleteMatchingSubkeys(cleanup, CurrentVersion + L"\\Start\\TileProperties", L"P~" + app);
    RegDeleteMatchingSubkeys(cleanup, L"Software\\Microsoft\\Phone\\ShellUI\\WindowSizing", app);
    RegDeleteTree(cleanup, CurrentVersion + L"\\BackgroundAccessApplications\\" + family);

    const std::wstring consents = CurrentVersion + L"\\CapabilityAccessManager\\ConsentStore";
    for (const std::wstring& capability : RegSubkeyNames(consents))
    {
        RegDeleteTree(cleanup, consents + L"\\" + capability + L"\\" + family);
        DeleteOwnedSubkeys(cleanup, consents + L"\\" + capability + L"\\NonPackaged", owned, L"#");
    }

    const std::wstring appPath = CurrentVersion + L"\\App Paths\\TovikClient.exe";
    if (Core::ContainsIgnoringCase(RegReadString(appPath, nullptr), family))
        RegDeleteTree(cleanup, appPath);

    DeleteOwnedValues(cleanup, Classes + L"\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache",
                      owned);
    DeleteOwnedValues(
        cleanup,
        L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Store",
        owned);
    const std::wstring featureUsage = CurrentVersion + L"\\Explorer\\FeatureUsage";
    for (const std::wstring& feature : RegSubkeyNames(featureUsage))
    {
        DeleteOwnedValues(cleanup, featureUsage + L"\\" + feature, owned);
        DeleteMatchingValues(cleanup, featureUsage + L"\\" + feature, app);
    }
    DeleteOwnedSubkeys(cleanup, Classes + L"\\Local Settings\\MrtCache", owned, L"%5C");

    DeleteTovikShortcuts(cleanup, places.programs, true, owned);
    DeleteTovikShortcuts(cleanup, places.desktop, false, owned);
    DeleteTovikShortcuts(cleanup, places.userPinned, true, owned);

    if (cleanup.counts != LeftoverCounts{} && places.associationsChanged)
        places.associationsChanged();
    return cleanup.counts;
}

} // namespace Detail

LeftoverCounts CleanTovikLeftovers(const OwnedPaths& owned, const FailureReporter& report)
{
    return Detail::CleanTovikLeftoversIn(owned, report, Detail::CurrentPlaces());
}

} // namespace Pd::Install
