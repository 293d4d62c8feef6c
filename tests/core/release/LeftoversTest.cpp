// The clean-up of what Windows keeps of Tovik: registry entries written under HKEY_CURRENT_USER of
// the test prefix and removed again, shortcuts made with the shell's own link object in scratch
// folders that stand in for the Start menu, the desktop and the taskbar pins.
#include "core/release/Leftovers.h"

#include "core/Handles.h"
#include "core/release/Packages.h"
#include "tests/core/ScratchFolder.h"

#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using Pd::Install::LeftoverCounts;

const std::wstring Family = Pd::Install::TovikFamilyName;
const std::wstring CV = L"Software\\Microsoft\\Windows\\CurrentVersion";
const std::wstring InstallFolder = L"D:\\Apps\\Peldra";
const std::wstring ClientAlias =
    L"C:\\users\\root\\AppData\\Local\\Microsoft\\WindowsApps\\" + Family + L"\\TovikClient.exe";

// The keys these tests write; each is removed again with everything below it.
const std::vector<std::wstring> TouchedKeys = {
    CV + L"\\Uninstall\\PdTestTovikApp",
    CV + L"\\Uninstall\\PdTestOtherApp",
    L"Software\\RegisteredApplications",
    L"Software\\Classes\\tovik.apk",
    L"Software\\Classes\\TOVIK.Doc",
    L"Software\\Classes\\tovik.notours",
    L"Software\\Classes\\.pdtestapk",
    CV + L"\\Notifications\\Settings",
    CV + L"\\Start\\TileProperties",
    L"Software\\Microsoft\\Phone",
    CV + L"\\BackgroundAccessApplications",
    CV + L"\\CapabilityAccessManager",
    CV + L"\\App Paths\\TovikClient.exe",
    L"Software\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache",
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant",
    CV + L"\\Explorer\\FeatureUsage\\PdTestFeature",
    L"Software\\Classes\\Local Settings\\MrtCache",
};

void SetString(const std::wstring& key, const wchar_t* name, const std::wstring& value)
{
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), name, REG_SZ, value.c_str(),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS)
        << "cannot write HKCU\\" << fs::path(key).string();
}

void MakeKey(const std::wstring& key)
{
    Pd::UniqueRegKey handle;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                handle.Put(), nullptr),
              ERROR_SUCCESS);
}

bool KeyExists(const std::wstring& key)
{
    Pd::UniqueRegKey handle;
    return ::RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, handle.Put()) == ERROR_SUCCESS;
}

bool ValueExists(const std::wstring& key, const std::wstring& name)
{
    return ::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_ANY, nullptr, nullptr,
                          nullptr) == ERROR_SUCCESS;
}

// A shortcut made and saved by the shell's link object, as Windows and installers make them.
void MakeShortcut(const fs::path& file, const std::wstring& target, const std::wstring& arguments)
{
    fs::create_directories(file.parent_path());
    Pd::ComPtr<IShellLinkW> link;
    ASSERT_HRESULT_SUCCEEDED(
        ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid()));
    ASSERT_HRESULT_SUCCEEDED(link->SetPath(target.c_str()));
    ASSERT_HRESULT_SUCCEEDED(link->SetArguments(arguments.c_str()));
    ASSERT_HRESULT_SUCCEEDED(link.As<IPersistFile>()->Save(file.c_str(), TRUE));
}

class Leftovers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        RemoveTouchedKeys();
        places_.programs = (scratch_.Path() / L"Programs").wstring();
        places_.desktop = (scratch_.Path() / L"Desktop").wstring();
        places_.userPinned = (scratch_.Path() / L"User Pinned").wstring();
        places_.associationsChanged = [this] { ++notifications_; };
    }
    void TearDown() override
    {
        RemoveTouchedKeys();
        ::CoUninitialize();
    }

    static void RemoveTouchedKeys()
    {
        for (const std::wstring& key : TouchedKeys)
            ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    }

    LeftoverCounts Clean(const std::wstring& folder)
    {
        return Pd::Install::Detail::CleanTovikLeftoversIn(
            folder, [this](const std::wstring& failure) { failures_.push_back(failure); }, places_);
    }

    PdTest::ScratchFolder scratch_;
    Pd::Install::Detail::LeftoverPlaces places_;
    int notifications_ = 0;
    std::vector<std::wstring> failures_;
};

TEST(FolderPrefix, IsTheNormalFolderWithOneTrailingBackslash)
{
    EXPECT_EQ(Pd::Install::FolderPrefix(L"D:\\Apps\\Peldra"), L"D:\\Apps\\Peldra\\");
    EXPECT_EQ(Pd::Install::FolderPrefix(L"D:\\Apps\\Peldra\\"), L"D:\\Apps\\Peldra\\");
    EXPECT_EQ(Pd::Install::FolderPrefix(L"D:/Apps/x/../Peldra/."), L"D:\\Apps\\Peldra\\");
    EXPECT_EQ(Pd::Install::FolderPrefix(L"D:\\"), L"D:\\");
    EXPECT_EQ(Pd::Install::FolderPrefix(L""), L"");
}

TEST(NoCaseText, ComparesAfterLowerCasingEveryCharacter)
{
    EXPECT_TRUE(Pd::Install::StartsWithNoCase(L"TOVIK.apk", L"tovik."));
    EXPECT_FALSE(Pd::Install::StartsWithNoCase(L"tovi", L"tovik."));
    EXPECT_TRUE(Pd::Install::ContainsNoCase(L"C:\\X\\TOVIKPACKAGE_TV9KP7A3NQE2R\\a", Family));
    EXPECT_FALSE(Pd::Install::ContainsNoCase(L"C:\\X\\TovikPackage_other\\a", Family));
    EXPECT_TRUE(Pd::Install::ContainsNoCase(L"abc", L""));
}

TEST_F(Leftovers, UninstallEntriesOfThePackageGoWithTheirRegisteredApplications)
{
    SetString(CV + L"\\Uninstall\\PdTestTovikApp", L"DisplayIcon",
              L"C:\\Users\\x\\AppData\\Local\\Packages\\" + Family + L"\\icon.ico");
    SetString(CV + L"\\Uninstall\\PdTestOtherApp", L"DisplayIcon", L"C:\\Program Files\\Other\\other.ico");
    SetString(L"Software\\RegisteredApplications", L"Tovik App",
              CV + L"\\Uninstall\\PdTestTovikApp\\Capabilities");
    SetString(L"Software\\RegisteredApplications", L"Whole Key", CV + L"\\Uninstall\\PdTestTovikApp");
    SetString(L"Software\\RegisteredApplications", L"Other App",
              CV + L"\\Uninstall\\PdTestOtherApp\\Capabilities");

    EXPECT_EQ(Clean(L""), (LeftoverCounts{0, 1, 2}));
    EXPECT_FALSE(KeyExists(CV + L"\\Uninstall\\PdTestTovikApp"));
    EXPECT_TRUE(KeyExists(CV + L"\\Uninstall\\PdTestOtherApp"));
    EXPECT_FALSE(ValueExists(L"Software\\RegisteredApplications", L"Tovik App"));
    EXPECT_FALSE(ValueExists(L"Software\\RegisteredApplications", L"Whole Key"));
    EXPECT_TRUE(ValueExists(L"Software\\RegisteredApplications", L"Other App"));
    EXPECT_EQ(notifications_, 1);
    EXPECT_TRUE(failures_.empty());
}

TEST_F(Leftovers, ProgIdsThatOpenTovikGoAndExtensionsLoseExactlyThoseValues)
{
    const std::wstring command = L"\"" + ClientAlias + L"\" /launch tovik://open \"%1\"";
    SetString(L"Software\\Classes\\tovik.apk\\Shell\\Open\\Command", nullptr, command);
    SetString(L"Software\\Classes\\TOVIK.Doc\\Shell\\Open\\Command", nullptr, command);
    SetString(L"Software\\Classes\\tovik.notours\\Shell\\Open\\Command", nullptr,
              L"\"C:\\Tools\\viewer.exe\" \"%1\"");
    const std::wstring openWith = L"Software\\Classes\\.pdtestapk\\OpenWithProgids";
    SetString(openWith, L"tovik.apk", L"");
    SetString(openWith, L"TOVIK.Doc", L"");
    SetString(openWith, L"tovik.notours", L"");

    const LeftoverCounts counts = Clean(L"");
    EXPECT_FALSE(KeyExists(L"Software\\Classes\\tovik.apk"));
    EXPECT_FALSE(KeyExists(L"Software\\Classes\\TOVIK.Doc"));
    EXPECT_TRUE(KeyExists(L"Software\\Classes\\tovik.notours"));
    EXPECT_FALSE(ValueExists(openWith, L"tovik.apk"));
    EXPECT_FALSE(ValueExists(openWith, L"TOVIK.Doc"));
    EXPECT_TRUE(ValueExists(openWith, L"tovik.notours"));
    EXPECT_EQ(counts, (LeftoverCounts{0, 2, 2}));
}

TEST_F(Leftovers, PackageKeysGoWhateverTheFolder)
{
    const std::wstring app = Family + L"!App";
    MakeKey(CV + L"\\Notifications\\Settings\\" + app);
    MakeKey(CV + L"\\Notifications\\Settings\\Other.App!Main");
    MakeKey(CV + L"\\Start\\TileProperties\\P~" + app);
    MakeKey(CV + L"\\Start\\TileProperties\\" + app); // without "P~": not a tile entry
    MakeKey(L"Software\\Microsoft\\Phone\\ShellUI\\WindowSizing\\" + app);
    MakeKey(CV + L"\\BackgroundAccessApplications\\" + Family);
    MakeKey(CV + L"\\CapabilityAccessManager\\ConsentStore\\microphone\\" + Family);
    MakeKey(CV + L"\\CapabilityAccessManager\\ConsentStore\\location\\" + Family);
    MakeKey(CV + L"\\CapabilityAccessManager\\ConsentStore\\location\\Other.App_1");
    SetString(CV + L"\\App Paths\\TovikClient.exe", nullptr, ClientAlias);
    const std::wstring feature = CV + L"\\Explorer\\FeatureUsage\\PdTestFeature";
    SetString(feature, (app).c_str(), L"1");
    SetString(feature, L"Other.App!Main", L"1");

    EXPECT_EQ(Clean(L""), (LeftoverCounts{0, 7, 1}));
    EXPECT_FALSE(KeyExists(CV + L"\\Notifications\\Settings\\" + app));
    EXPECT_TRUE(KeyExists(CV + L"\\Notifications\\Settings\\Other.App!Main"));
    EXPECT_FALSE(KeyExists(CV + L"\\Start\\TileProperties\\P~" + app));
    EXPECT_TRUE(KeyExists(CV + L"\\Start\\TileProperties\\" + app));
    EXPECT_FALSE(KeyExists(L"Software\\Microsoft\\Phone\\ShellUI\\WindowSizing\\" + app));
    EXPECT_FALSE(KeyExists(CV + L"\\BackgroundAccessApplications\\" + Family));
    EXPECT_FALSE(KeyExists(CV + L"\\CapabilityAccessManager\\ConsentStore\\microphone\\" + Family));
    EXPECT_TRUE(KeyExists(CV + L"\\CapabilityAccessManager\\ConsentStore\\location\\Other.App_1"));
    EXPECT_FALSE(KeyExists(CV + L"\\App Paths\\TovikClient.exe"));
    EXPECT_FALSE(ValueExists(feature, app));
    EXPECT_TRUE(ValueExists(feature, L"Other.App!Main"));
}

TEST_F(Leftovers, AppPathOfAnotherClientStays)
{
    SetString(CV + L"\\App Paths\\TovikClient.exe", nullptr, L"C:\\Other\\TovikClient.exe");
    EXPECT_EQ(Clean(InstallFolder), (LeftoverCounts{}));
    EXPECT_TRUE(KeyExists(CV + L"\\App Paths\\TovikClient.exe"));
    EXPECT_EQ(notifications_, 0);
}

// The folder's entries in the three spellings Windows uses for them.
class FolderEntries : public Leftovers
{
protected:
    void SetUp() override
    {
        Leftovers::SetUp();
        MakeKey(nonPackaged_ + L"\\D:#Apps#Peldra#TovikClient.exe");
        MakeKey(nonPackaged_ + L"\\d:#apps#peldra#x.exe");
        MakeKey(nonPackaged_ + L"\\D:#Apps#PeldraOther#x.exe");
        SetString(muiCache_, L"D:\\Apps\\Peldra\\Peldra.exe.FriendlyAppName", L"Peldra");
        SetString(muiCache_, L"D:\\Apps\\PeldraOther\\x.exe.FriendlyAppName", L"x");
        SetString(compat_, L"D:\\Apps\\Peldra\\Peldra.exe", L"");
        SetString(feature_, L"D:\\Apps\\Peldra\\Peldra.exe", L"1");
        MakeKey(mrtCache_ + L"\\D:%5CApps%5CPeldra%5Cresources.pri\\1d2");
        MakeKey(mrtCache_ + L"\\D:%5CApps%5CPeldraOther%5Cresources.pri");
    }

    const std::wstring nonPackaged_ = CV + L"\\CapabilityAccessManager\\ConsentStore\\webcam\\NonPackaged";
    const std::wstring muiCache_ =
        L"Software\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache";
    const std::wstring compat_ =
        L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Store";
    const std::wstring feature_ = CV + L"\\Explorer\\FeatureUsage\\PdTestFeature";
    const std::wstring mrtCache_ = L"Software\\Classes\\Local Settings\\MrtCache";
};

TEST_F(FolderEntries, MatchTheFolderPrefixInEachSpelling)
{
    EXPECT_EQ(Clean(InstallFolder), (LeftoverCounts{0, 3, 3}));
    EXPECT_FALSE(KeyExists(nonPackaged_ + L"\\D:#Apps#Peldra#TovikClient.exe"));
    EXPECT_FALSE(KeyExists(nonPackaged_ + L"\\d:#apps#peldra#x.exe"));
    EXPECT_TRUE(KeyExists(nonPackaged_ + L"\\D:#Apps#PeldraOther#x.exe"));
    EXPECT_FALSE(ValueExists(muiCache_, L"D:\\Apps\\Peldra\\Peldra.exe.FriendlyAppName"));
    EXPECT_TRUE(ValueExists(muiCache_, L"D:\\Apps\\PeldraOther\\x.exe.FriendlyAppName"));
    EXPECT_FALSE(ValueExists(compat_, L"D:\\Apps\\Peldra\\Peldra.exe"));
    EXPECT_FALSE(ValueExists(feature_, L"D:\\Apps\\Peldra\\Peldra.exe"));
    EXPECT_FALSE(KeyExists(mrtCache_ + L"\\D:%5CApps%5CPeldra%5Cresources.pri"));
    EXPECT_TRUE(KeyExists(mrtCache_ + L"\\D:%5CApps%5CPeldraOther%5Cresources.pri"));
    EXPECT_EQ(notifications_, 1);
}

TEST_F(FolderEntries, StayWithoutAFolder)
{
    EXPECT_EQ(Clean(L""), (LeftoverCounts{}));
    EXPECT_TRUE(KeyExists(nonPackaged_ + L"\\D:#Apps#Peldra#TovikClient.exe"));
    EXPECT_TRUE(ValueExists(muiCache_, L"D:\\Apps\\Peldra\\Peldra.exe.FriendlyAppName"));
    EXPECT_TRUE(KeyExists(mrtCache_ + L"\\D:%5CApps%5CPeldra%5Cresources.pri"));
    EXPECT_EQ(notifications_, 0);
}

TEST_F(Leftovers, ShortcutsToTovikGoFromEachPlace)
{
    const fs::path programs(places_.programs);
    const fs::path desktop(places_.desktop);
    const fs::path pinned(places_.userPinned);
    MakeShortcut(programs / L"Tovik" / L"Play Store.lnk", ClientAlias,
                 L"/launch tovik://com.android.vending");
    MakeShortcut(programs / L"Other.lnk", L"C:\\Tools\\other.exe", L"");
    MakeShortcut(desktop / L"Peldra.LNK", InstallFolder + L"\\Peldra.exe", L"");
    MakeShortcut(desktop / L"Folder" / L"Peldra.lnk", InstallFolder + L"\\Peldra.exe", L""); // not walked
    MakeShortcut(pinned / L"TaskBar" / L"Settings.lnk", L"C:\\Elsewhere\\TovikClient.exe",
                 L"/launch tovik://com.android.settings");
    MakeShortcut(pinned / L"TaskBar" / L"Note.lnk", L"C:\\Windows\\notepad.exe", L"tovik://x");

    EXPECT_EQ(Clean(InstallFolder), (LeftoverCounts{3, 0, 0}));
    EXPECT_FALSE(fs::exists(programs / L"Tovik" / L"Play Store.lnk"));
    EXPECT_TRUE(fs::exists(programs / L"Other.lnk"));
    EXPECT_FALSE(fs::exists(desktop / L"Peldra.LNK"));
    EXPECT_TRUE(fs::exists(desktop / L"Folder" / L"Peldra.lnk"));
    EXPECT_FALSE(fs::exists(pinned / L"TaskBar" / L"Settings.lnk"));
    EXPECT_TRUE(fs::exists(pinned / L"TaskBar" / L"Note.lnk"));
    EXPECT_EQ(notifications_, 1);
}

struct ShortcutCase
{
    const wchar_t* name;
    std::wstring target;
    std::wstring arguments;
    bool pointsToTovik;
};

TEST_F(Leftovers, ShortcutTargetsDecideWhatPointsToTovik)
{
    const std::vector<ShortcutCase> cases = {
        {L"alias", ClientAlias, L"", true},
        {L"family in other case", L"C:\\WindowsApps\\TOVIKPACKAGE_TV9KP7A3NQE2R\\x.exe", L"", true},
        {L"in the folder", L"D:\\Apps\\Peldra\\Peldra.exe", L"", true},
        {L"folder in other case", L"d:\\apps\\peldra\\sub\\tool.exe", L"", true},
        {L"beside the folder", L"D:\\Apps\\PeldraOther\\x.exe", L"", false},
        {L"client with address", L"C:\\Any\\TovikClient.exe", L"/launch TOVIK://com.android.settings", true},
        {L"client without address", L"C:\\Any\\TovikClient.exe", L"/launch", false},
        {L"client in other case", L"C:\\Any\\tovikclient.EXE", L"/launch tovik://com.android.settings",
         false},
        {L"address only", L"C:\\Windows\\notepad.exe", L"tovik://x", false},
    };
    for (const ShortcutCase& c : cases)
    {
        const fs::path file = scratch_.Path() / (std::wstring(c.name) + L".lnk");
        MakeShortcut(file, c.target, c.arguments);
        EXPECT_EQ(
            Pd::Install::ShortcutPointsToTovik(file.wstring(), Pd::Install::FolderPrefix(InstallFolder)),
            c.pointsToTovik)
            << fs::path(c.name).string();
    }
    // Without a folder prefix the folder proves nothing.
    MakeShortcut(scratch_.Path() / L"plain.lnk", L"D:\\Apps\\Peldra\\Peldra.exe", L"");
    EXPECT_FALSE(Pd::Install::ShortcutPointsToTovik((scratch_.Path() / L"plain.lnk").wstring(), L""));
    // Something that is no shortcut points nowhere.
    EXPECT_FALSE(Pd::Install::ShortcutPointsToTovik(scratch_.Write(L"junk.lnk", "not a link").wstring(),
                                                    Pd::Install::FolderPrefix(InstallFolder)));
}

TEST(TovikDataFolder, IsThePackagesFolderOfLocalAppData)
{
    const std::wstring folder = Pd::Install::TovikDataFolder();
    EXPECT_TRUE(folder.ends_with(L"\\AppData\\Local\\Packages\\" + Family)) << fs::path(folder).string();
}

} // namespace
