#include "core/release/Leftovers.h"

#include "core/release/KnownFolder.h"
#include "core/release/Packages.h"
#include "core/Strings.h"

#include <shlobj.h>

#include <filesystem>
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
    if (prefix.empty())
        return;
    for (const std::wstring& name : RegValueNames(key))
        if (Core::StartsWithIgnoringCase(name, prefix))
            RegDeleteValue(cleanup, key, name);
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

std::wstring FolderPrefix(const std::wstring& folder)
{
    if (folder.empty())
        return {};
    std::wstring prefix = std::filesystem::path(folder).lexically_normal().make_preferred().wstring();
    if (!prefix.ends_with(L'\\'))
        prefix.push_back(L'\\');
    return prefix;
}

std::wstring TovikDataFolder()
{
    const std::wstring localAppData = KnownFolderPath(FOLDERID_LocalAppData);
    if (localAppData.empty())
        return {};
    return localAppData + L"\\Packages\\" + TovikFamilyName;
}

namespace Detail
{

LeftoverPlaces CurrentPlaces()
{
    return {KnownFolderPath(FOLDERID_Programs), KnownFolderPath(FOLDERID_Desktop),
            KnownFolderPath(FOLDERID_UserPinned),
            [] { ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }};
}

LeftoverCounts CleanTovikLeftoversIn(const std::wstring& installFolder, const FailureReporter& report,
                                     const LeftoverPlaces& places)
{
    LeftoverCleanup cleanup{{}, report};
    const std::wstring family = TovikFamilyName;
    const std::wstring app = AppPrefix();
    const std::wstring prefix = FolderPrefix(installFolder);

    CleanUninstallEntries(cleanup);
    CleanProgIds(cleanup);
    RegDeleteMatchingSubkeys(cleanup, CurrentVersion + L"\\Notifications\\Settings", app);
    RegDeleteMatchingSubkeys(cleanup, CurrentVersion + L"\\Start\\TileProperties", L"P~" + app);
    RegDeleteMatchingSubkeys(cleanup, L"Software\\Microsoft\\Phone\\ShellUI\\WindowSizing", app);
    RegDeleteTree(cleanup, CurrentVersion + L"\\BackgroundAccessApplications\\" + family);

    const std::wstring consents = CurrentVersion + L"\\CapabilityAccessManager\\ConsentStore";
    const std::wstring consentPrefix = prefix.empty() ? L"" : Replaced(prefix, L'\\', L"#");
    for (const std::wstring& capability : RegSubkeyNames(consents))
    {
        RegDeleteTree(cleanup, consents + L"\\" + capability + L"\\" + family);
        RegDeleteMatchingSubkeys(cleanup, consents + L"\\" + capability + L"\\NonPackaged", consentPrefix);
    }

    const std::wstring appPath = CurrentVersion + L"\\App Paths\\TovikClient.exe";
    if (Core::ContainsIgnoringCase(RegReadString(appPath, nullptr), family))
        RegDeleteTree(cleanup, appPath);

    DeleteMatchingValues(
        cleanup, Classes + L"\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache", prefix);
    DeleteMatchingValues(
        cleanup,
        L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Store",
        prefix);
    const std::wstring featureUsage = CurrentVersion + L"\\Explorer\\FeatureUsage";
    for (const std::wstring& feature : RegSubkeyNames(featureUsage))
    {
        DeleteMatchingValues(cleanup, featureUsage + L"\\" + feature, prefix);
        DeleteMatchingValues(cleanup, featureUsage + L"\\" + feature, app);
    }
    RegDeleteMatchingSubkeys(cleanup, Classes + L"\\Local Settings\\MrtCache",
                             prefix.empty() ? L"" : Replaced(prefix, L'\\', L"%5C"));

    DeleteTovikShortcuts(cleanup, places.programs, true, prefix);
    DeleteTovikShortcuts(cleanup, places.desktop, false, prefix);
    DeleteTovikShortcuts(cleanup, places.userPinned, true, prefix);

    if (cleanup.counts != LeftoverCounts{} && places.associationsChanged)
        places.associationsChanged();
    return cleanup.counts;
}

} // namespace Detail

LeftoverCounts CleanTovikLeftovers(const std::wstring& installFolder, const FailureReporter& report)
{
    return Detail::CleanTovikLeftoversIn(installFolder, report, Detail::CurrentPlaces());
}

} // namespace Pd::Install
