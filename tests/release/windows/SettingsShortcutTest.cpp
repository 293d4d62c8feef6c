#include "release/windows/SettingsShortcut.h"

#include "core/Handles.h"
#include "core/Module.h"
#include "core/Strings.h"
#include "release/folders/KnownFolder.h"
#include "release/windows/Packages.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/Helpers.h"
#include "tests/release/LoopbackServer.h"
#include "tests/support/UnixLink.h"

#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace
{

class SettingsShortcut : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
    void TearDown() override
    {
        for (const auto& path : Pd::Install::FindTovikSettingsShortcuts())
            ::DeleteFileW(path.c_str());
        std::error_code ignored;
        std::filesystem::remove(Programs() / L"Other.lnk", ignored);
        ::CoUninitialize();
    }

    static std::filesystem::path Programs() { return Pd::Install::KnownFolderPath(FOLDERID_Programs); }

    struct Link
    {
        std::wstring target, arguments, description, icon;
        int iconIndex = -1;
    };

    static Link Read(const std::filesystem::path& path)
    {
        Link link;
        Pd::ComPtr<IShellLinkW> shell;
        EXPECT_TRUE(SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                                 IID_IShellLinkW, shell.PutVoid())));
        auto file = shell.As<IPersistFile>();
        if (!file || FAILED(file->Load(path.c_str(), STGM_READ)))
            return link;
        wchar_t text[1024] = {};
        shell->GetPath(text, 1024, nullptr, SLGP_RAWPATH);
        link.target = text;
        shell->GetArguments(text, 1024);
        link.arguments = text;
        shell->GetDescription(text, 1024);
        link.description = text;
        shell->GetIconLocation(text, 1024, &link.iconIndex);
        link.icon = text;
        return link;
    }
};

TEST_F(SettingsShortcut, LaunchesAndroidsSettingsThroughTheClientAliasAndIsMadeOnlyOnce)
{
    const std::wstring icon = Pd::Core::ModulePath();
    auto created = Pd::Install::CreateTovikSettingsShortcut(L"Android Settings", icon);
    ASSERT_TRUE(created) << Pd::Core::ToUtf8(created.error());
    auto found = Pd::Install::FindTovikSettingsShortcuts();
    ASSERT_EQ(found, std::vector<std::wstring>{(Programs() / L"Android Settings.lnk").wstring()});
    Link link = Read(found[0]);
    EXPECT_EQ(link.target, Pd::Install::KnownFolderPath(FOLDERID_LocalAppData) +
                               L"\\Microsoft\\WindowsApps\\" + Pd::Install::TovikFamilyName +
                               L"\\TovikClient.exe");
    EXPECT_EQ(link.arguments, L"/launch tovik://com.android.settings");
    EXPECT_EQ(link.description, L"Android Settings");
    EXPECT_EQ(link.icon, icon);
    EXPECT_EQ(link.iconIndex, 1);

    // Made again under another name (another language), it replaces the first one.
    ASSERT_TRUE(Pd::Install::CreateTovikSettingsShortcut(L"Android-Einstellungen", icon));
    EXPECT_EQ(Pd::Install::FindTovikSettingsShortcuts(),
              std::vector<std::wstring>{(Programs() / L"Android-Einstellungen.lnk").wstring()});

    // The Start menu is the user's: a link planted under the shortcut's name is not written through.
    PdTest::ScratchFolder scratch;
    const auto precious = scratch.Write(L"precious.txt", "precious");
    PdTest::UnixLinks links;
    ASSERT_TRUE(links.Make(precious.wstring(), (Programs() / L"Planted.lnk").wstring()));
    auto refused = Pd::Install::CreateTovikSettingsShortcut(L"Planted", icon);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find(L"link, junction or mount point"), std::wstring::npos)
        << Pd::Core::ToUtf8(refused.error());
    EXPECT_EQ(PdTest::ReadBytes(precious), "precious");
}

TEST_F(SettingsShortcut, OnlyShortcutsWithTheSettingsArgumentsAreFound)
{
    PdTest::MakeShortcut(Programs() / L"Other.lnk", L"C:\\windows\\notepad.exe",
                         L"/launch tovik://com.android.vending");
    PdTest::MakeShortcut(Programs() / L"Upper.lnk", L"C:\\windows\\notepad.exe",
                         L"/LAUNCH TOVIK://COM.ANDROID.SETTINGS");
    EXPECT_EQ(Pd::Install::FindTovikSettingsShortcuts(),
              std::vector<std::wstring>{(Programs() / L"Upper.lnk").wstring()});
}

} // namespace
