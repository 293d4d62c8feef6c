// The clean-up of what Windows keeps of Tovik: registry entries written under HKEY_CURRENT_USER of
// the test prefix and removed again, shortcuts made with the shell's own link object in scratch
// folders that stand in for the Start menu, the desktop and the taskbar pins.
#include "release/uninstall/Leftovers.h"

#include "core/Text.h"
#include "release/windows/Packages.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/Helpers.h"
#include "tests/support/UnixLink.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using Pd::Install::LeftoverCounts;

const std::wstring Family = Pd::Install::TovikFamilyName;
const std::wstring App = Family + L"!App";
const std::wstring CV = L"Software\\Microsoft\\Windows\\CurrentVersion";
const std::wstring InstallFolder = L"D:\\Apps\\Peldra";
// Files an install placed there.
const Pd::Install::OwnedPaths Placed{{InstallFolder + L"\\Peldra.exe", InstallFolder + L"\\TovikClient.exe",
                                      InstallFolder + L"\\x.exe", InstallFolder + L"\\resources.pri"},
                                     {}};
const std::wstring ClientAlias =
    L"C:\\users\\root\\AppData\\Local\\Microsoft\\WindowsApps\\" + Family + L"\\TovikClient.exe";
const std::wstring OpenWith = L"Software\\Classes\\.pdtestapk\\OpenWithProgids";
const std::wstring Consent = CV + L"\\CapabilityAccessManager\\ConsentStore\\";
const std::wstring MuiCache =
    L"Software\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache";
const std::wstring Compatibility =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Store";
const std::wstring Feature = CV + L"\\Explorer\\FeatureUsage\\PdTestFeature";
const std::wstring MrtCache = L"Software\\Classes\\Local Settings\\MrtCache\\";

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
    MuiCache,
    Compatibility.substr(0, Compatibility.rfind(L'\\')),
    Feature,
    MrtCache,
};

enum class Goes
{
    Never,
    WithThePackage, // whatever the install placed
    WithItsFiles,   // only with the files the install placed
};

// A key (no value name) or a string value, and when the clean-up takes it.
struct Entry
{
    std::wstring key;
    const wchar_t* value;
    std::wstring data;
    Goes goes;
};

const std::wstring CommandKey = L"\\Shell\\Open\\Command";
const std::wstring TovikCommand = L"\"" + ClientAlias + L"\" /launch tovik://open \"%1\"";

const std::vector<Entry> Entries = {
    // Uninstall entries whose icon lies in the package's data, with the registered applications
    // that point to them (the key itself or one below it).
    {CV + L"\\Uninstall\\PdTestTovikApp", L"DisplayIcon",
     L"C:\\Users\\x\\AppData\\Local\\Packages\\" + Family + L"\\icon.ico", Goes::WithThePackage},
    {CV + L"\\Uninstall\\PdTestOtherApp", L"DisplayIcon", L"C:\\Program Files\\Other\\other.ico",
     Goes::Never},
    {L"Software\\RegisteredApplications", L"Tovik App", CV + L"\\Uninstall\\PdTestTovikApp\\Capabilities",
     Goes::WithThePackage},
    {L"Software\\RegisteredApplications", L"Whole Key", CV + L"\\Uninstall\\PdTestTovikApp",
     Goes::WithThePackage},
    {L"Software\\RegisteredApplications", L"Other App", CV + L"\\Uninstall\\PdTestOtherApp\\Capabilities",
     Goes::Never},
    // File types that open Tovik, in any letter case, and the extensions' references to them.
    {L"Software\\Classes\\tovik.apk" + CommandKey, nullptr, TovikCommand, Goes::WithThePackage},
    {L"Software\\Classes\\TOVIK.Doc" + CommandKey, nullptr, TovikCommand, Goes::WithThePackage},
    {L"Software\\Classes\\tovik.notours" + CommandKey, nullptr, L"\"C:\\Tools\\viewer.exe\" \"%1\"",
     Goes::Never},
    {OpenWith, L"tovik.apk", L"", Goes::WithThePackage},
    {OpenWith, L"TOVIK.Doc", L"", Goes::WithThePackage},
    {OpenWith, L"tovik.notours", L"", Goes::Never},
    // Keys of the package's apps and of its family.
    {CV + L"\\Notifications\\Settings\\" + App, nullptr, L"", Goes::WithThePackage},
    {CV + L"\\Notifications\\Settings\\Other.App!Main", nullptr, L"", Goes::Never},
    {CV + L"\\Start\\TileProperties\\P~" + App, nullptr, L"", Goes::WithThePackage},
    {CV + L"\\Start\\TileProperties\\" + App, nullptr, L"", Goes::Never}, // without "P~": no tile entry
    {L"Software\\Microsoft\\Phone\\ShellUI\\WindowSizing\\" + App, nullptr, L"", Goes::WithThePackage},
    {CV + L"\\BackgroundAccessApplications\\" + Family, nullptr, L"", Goes::WithThePackage},
    {Consent + L"microphone\\" + Family, nullptr, L"", Goes::WithThePackage},
    {Consent + L"location\\Other.App_1", nullptr, L"", Goes::Never},
    {CV + L"\\App Paths\\TovikClient.exe", nullptr, ClientAlias, Goes::WithThePackage},
    {Feature, App.c_str(), L"1", Goes::WithThePackage},
    {Feature, L"Other.App!Main", L"1", Goes::Never},
    // Entries of placed files in the three spellings Windows uses for them; another program's
    // below the install folder stay.
    {Consent + L"webcam\\NonPackaged\\D:#Apps#Peldra#TovikClient.exe", nullptr, L"", Goes::WithItsFiles},
    {Consent + L"webcam\\NonPackaged\\d:#apps#peldra#x.exe", nullptr, L"", Goes::WithItsFiles},
    {Consent + L"webcam\\NonPackaged\\D:#Apps#PeldraOther#x.exe", nullptr, L"", Goes::Never},
    {Consent + L"webcam\\NonPackaged\\D:#Apps#Peldra#OtherApp#other.exe", nullptr, L"", Goes::Never},
    {MuiCache, L"D:\\Apps\\Peldra\\Peldra.exe.FriendlyAppName", L"Peldra", Goes::WithItsFiles},
    {MuiCache, L"D:\\Apps\\PeldraOther\\x.exe.FriendlyAppName", L"x", Goes::Never},
    {MuiCache, L"D:\\Apps\\Peldra\\OtherApp\\other.exe.FriendlyAppName", L"x", Goes::Never},
    {Compatibility, L"D:\\Apps\\Peldra\\Peldra.exe", L"", Goes::WithItsFiles},
    {Feature, L"D:\\Apps\\Peldra\\Peldra.exe", L"1", Goes::WithItsFiles},
    {MrtCache + L"D:%5CApps%5CPeldra%5Cresources.pri\\1d2", nullptr, L"", Goes::WithItsFiles},
    {MrtCache + L"D:%5CApps%5CPeldraOther%5Cresources.pri", nullptr, L"", Goes::Never},
};

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

    LeftoverCounts Clean(const Pd::Install::OwnedPaths& owned)
    {
        return Pd::Install::Detail::CleanTovikLeftoversIn(
            owned, [this](const std::wstring& failure) { failures_.push_back(failure); }, places_);
    }

    PdTest::ScratchFolder scratch_;
    Pd::Install::Detail::LeftoverPlaces places_;
    int notifications_ = 0;
    std::vector<std::wstring> failures_;
};

bool Present(const Entry& entry)
{
    return entry.value ? PdTest::ValueExists(HKEY_CURRENT_USER, entry.key, entry.value)
                       : PdTest::KeyExists(HKEY_CURRENT_USER, entry.key);
}

std::string Name(const Entry& entry)
{
    return fs::path(entry.key + L" " + (entry.value ? entry.value : L"")).string();
}

TEST_F(Leftovers, RegistryEntriesOfThePackageGoAndThoseOfTheFolderOnlyWithIt)
{
    for (const Entry& entry : Entries)
    {
        Pd::UniqueRegKey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, entry.key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                    key.Put(), nullptr),
                  ERROR_SUCCESS);
        if (entry.value || !entry.data.empty())
        {
            ASSERT_EQ(::RegSetValueExW(key.Get(), entry.value, 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(entry.data.c_str()),
                                       static_cast<DWORD>((entry.data.size() + 1) * sizeof(wchar_t))),
                      ERROR_SUCCESS);
        }
    }
    // Without records only the package's entries go; then those of the placed files too, in any
    // letter case.
    EXPECT_EQ(Clean({}), (LeftoverCounts{0, 9, 5}));
    for (const Entry& entry : Entries)
        EXPECT_EQ(Present(entry), entry.goes != Goes::WithThePackage) << Name(entry);
    EXPECT_EQ(notifications_, 1);
    EXPECT_EQ(Clean(Placed), (LeftoverCounts{0, 3, 3}));
    for (const Entry& entry : Entries)
        EXPECT_EQ(Present(entry), entry.goes == Goes::Never) << Name(entry);
    EXPECT_EQ(notifications_, 2);
    // Nothing left to delete: the shell hears nothing.
    EXPECT_EQ(Clean(Placed), (LeftoverCounts{}));
    EXPECT_EQ(notifications_, 2);
    EXPECT_TRUE(failures_.empty());
}

TEST_F(Leftovers, ShortcutsToTovikGoFromEachPlace)
{
    const fs::path programs(places_.programs);
    const fs::path desktop(places_.desktop);
    const fs::path pinned(places_.userPinned);
    PdTest::MakeShortcut(programs / L"Tovik" / L"Play Store.lnk", ClientAlias,
                         L"/launch tovik://com.android.vending");
    PdTest::MakeShortcut(programs / L"Other.lnk", L"C:\\Tools\\other.exe");
    PdTest::MakeShortcut(programs / L"Below.lnk", InstallFolder + L"\\OtherApp\\other.exe");
    PdTest::MakeShortcut(desktop / L"Peldra.LNK", InstallFolder + L"\\Peldra.exe");
    PdTest::MakeShortcut(desktop / L"Folder" / L"Peldra.lnk", InstallFolder + L"\\Peldra.exe"); // not walked
    PdTest::MakeShortcut(pinned / L"TaskBar" / L"Settings.lnk", L"C:\\Elsewhere\\TovikClient.exe",
                         L"/launch tovik://com.android.settings");
    PdTest::MakeShortcut(pinned / L"TaskBar" / L"Note.lnk", L"C:\\Windows\\notepad.exe", L"tovik://x");
    // A shortcut that is a link to a shortcut elsewhere is refused: the one elsewhere stays.
    const fs::path outside = scratch_.Path() / L"outside" / L"Tovik.lnk";
    PdTest::MakeShortcut(outside, ClientAlias, L"/launch tovik://com.android.vending");
    PdTest::UnixLinks links;
    ASSERT_TRUE(links.Make(outside.wstring(), (programs / L"Linked.lnk").wstring()));

    EXPECT_EQ(Clean(Placed), (LeftoverCounts{3, 0, 0}));
    EXPECT_TRUE(fs::exists(outside));
    EXPECT_EQ(failures_, std::vector<std::wstring>{Pd::Core::FormatText(
                             Pd::TextId::ReachedThroughLink, (programs / L"Linked.lnk").wstring())});
    EXPECT_FALSE(fs::exists(programs / L"Tovik" / L"Play Store.lnk"));
    EXPECT_TRUE(fs::exists(programs / L"Other.lnk"));
    EXPECT_TRUE(fs::exists(programs / L"Below.lnk"));
    EXPECT_FALSE(fs::exists(desktop / L"Peldra.LNK"));
    EXPECT_TRUE(fs::exists(desktop / L"Folder" / L"Peldra.lnk"));
    EXPECT_FALSE(fs::exists(pinned / L"TaskBar" / L"Settings.lnk"));
    EXPECT_TRUE(fs::exists(pinned / L"TaskBar" / L"Note.lnk"));
    EXPECT_EQ(notifications_, 1);
}

TEST_F(Leftovers, ShortcutTargetsDecideWhatPointsToTovik)
{
    struct Case
    {
        const wchar_t* name;
        std::wstring target;
        std::wstring arguments;
        Pd::Install::OwnedPaths owned; // what the install recorded
        bool pointsToTovik;
    };
    const Pd::Install::OwnedPaths olderNames{{}, {InstallFolder + L"\\tools"}};
    const Case cases[] = {
        {L"alias", ClientAlias, L"", {}, true},
        {L"family in other case", L"C:\\WindowsApps\\TOVIKPACKAGE_TV9KP7A3NQE2R\\x.exe", L"", {}, true},
        {L"placed", L"D:\\Apps\\Peldra\\Peldra.exe", L"", Placed, true},
        {L"placed in other case", L"d:\\apps\\peldra\\x.EXE", L"", Placed, true},
        {L"other program below the folder", L"D:\\Apps\\Peldra\\OtherApp\\other.exe", L"", Placed, false},
        {L"longer name", L"D:\\Apps\\Peldra\\Peldra.exe2", L"", Placed, false},
        {L"without records", L"D:\\Apps\\Peldra\\Peldra.exe", L"", {}, false},
        {L"in an older name", L"D:\\Apps\\Peldra\\tools\\kernel", L"", olderNames, true},
        {L"beside an older name", L"D:\\Apps\\Peldra\\toolsx\\kernel", L"", olderNames, false},
        {L"client with address",
         L"C:\\Any\\TovikClient.exe",
         L"/launch TOVIK://com.android.settings",
         {},
         true},
        {L"client without address", L"C:\\Any\\TovikClient.exe", L"/launch", {}, false},
        {L"client in other case",
         L"C:\\Any\\tovikclient.EXE",
         L"/launch tovik://com.android.settings",
         {},
         false},
        {L"address only", L"C:\\Windows\\notepad.exe", L"tovik://x", {}, false},
    };
    for (const Case& c : cases)
    {
        const fs::path file = scratch_.Path() / (std::wstring(c.name) + L".lnk");
        PdTest::MakeShortcut(file, c.target, c.arguments);
        EXPECT_EQ(Pd::Install::ShortcutPointsToTovik(file.wstring(), c.owned), c.pointsToTovik)
            << fs::path(c.name).string();
    }
    // Something that is no shortcut points nowhere.
    EXPECT_FALSE(
        Pd::Install::ShortcutPointsToTovik(scratch_.Write(L"junk.lnk", "not a link").wstring(), Placed));
}

} // namespace
