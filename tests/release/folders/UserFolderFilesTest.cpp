// What an elevated Peldra (as every test under Wine) writes in the user's folders: nothing in one
// moved out of the profile by HKCU's "User Shell Folders", no log through a second name of its file.
#include "release/folders/UserFolderFiles.h"
#include "core/DataFolder.h"
#include "core/Strings.h"
#include "release/uninstall/Leftovers.h"
#include "release/windows/SettingsShortcut.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/Helpers.h"
#include "tests/release/LoopbackServer.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

namespace
{

namespace fs = std::filesystem;
using Pd::Core::ToUtf8;

constexpr const wchar_t* ShellFolders =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// Points a "User Shell Folders" value of this prefix's user elsewhere for the test, as any
// unelevated program of the user could, and puts the old value back.
class MovedShellFolder
{
public:
    MovedShellFolder(const wchar_t* value, const fs::path& folder) : value_(value)
    {
        wchar_t old[1024] = {};
        DWORD size = sizeof(old);
        if (::RegGetValueW(HKEY_CURRENT_USER, ShellFolders, value,
                           RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, old,
                           &size) == ERROR_SUCCESS)
            old_ = old;
        Set(folder.wstring());
    }
    ~MovedShellFolder()
    {
        old_ ? Set(*old_) : static_cast<void>(::RegDeleteKeyValueW(HKEY_CURRENT_USER, ShellFolders, value_));
    }

private:
    void Set(const std::wstring& text)
    {
        EXPECT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, ShellFolders, value_, REG_EXPAND_SZ, text.c_str(),
                                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    const wchar_t* value_;
    std::optional<std::wstring> old_;
};

TEST(UserFolderFiles, AKnownFolderMovedOutOfTheProfileGetsNothing)
{
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    PdTest::ScratchFolder outside(L"C:\\ProgramData");
    {
        // The all-users Startup folder, say, where a shortcut runs at every account's logon.
        MovedShellFolder programs(L"Programs", outside.Path());
        PdTest::MakeShortcut(outside.Path() / L"Old.lnk", L"C:\\windows\\notepad.exe",
                             L"/launch tovik://com.android.settings");
        auto created =
            Pd::Install::CreateTovikSettingsShortcut(L"Android Settings", L"C:\\windows\\notepad.exe");
        ASSERT_FALSE(created);
        EXPECT_TRUE(
            created.error().starts_with(outside.Path().wstring() + L" is not in your profile folder "))
            << ToUtf8(created.error());
        EXPECT_TRUE(created.error().ends_with(L"Explorer\\User Shell Folders value Programs."))
            << ToUtf8(created.error());
        EXPECT_TRUE(Pd::Install::FindTovikSettingsShortcuts().empty())
            << "so the uninstall deletes nothing there";
        EXPECT_TRUE(Pd::Install::Detail::CurrentPlaces().programs.empty()) << "nor do its leftover checks";
        EXPECT_EQ(std::distance(fs::directory_iterator(outside.Path()), fs::directory_iterator()), 1);
    }
    {
        MovedShellFolder localAppData(L"Local AppData", outside.Path());
        std::string problem;
        EXPECT_EQ(Pd::Install::OpenDataFolderLog(problem), nullptr);
        EXPECT_NE(problem.find(" is not in your profile folder "), std::string::npos) << problem;
        EXPECT_TRUE(problem.ends_with("value Local AppData.")) << problem;
        EXPECT_FALSE(fs::exists(outside.Path() / L"Peldra"));
        EXPECT_TRUE(Pd::Install::TovikDataFolder().empty()) << "the uninstall's data folder";
    }
    EXPECT_TRUE(Pd::Core::FindDataFolder()) << "the value put back";
    ::CoUninitialize();
}

TEST(UserFolderFiles, ALogFileWithASecondNameIsNotWritten)
{
    PdTest::ScratchFolder profile;
    const fs::path folder = profile.Path() / L"AppData" / L"Local" / L"Peldra";
    fs::create_directories(folder);
    const fs::path elsewhere = profile.Write(L"system-file.dat", "precious");
    const fs::path log = folder / L"bluetooth.log";
    ASSERT_TRUE(::CreateHardLinkW(log.c_str(), elsewhere.c_str(), nullptr)) << ::GetLastError();

    std::string problem;
    EXPECT_EQ(Pd::Install::OpenLogBelow(profile.Path().wstring(), folder.wstring(), problem), nullptr);
    EXPECT_NE(problem.find("more than one name"), std::string::npos) << problem;
    EXPECT_EQ(PdTest::ReadBytes(elsewhere), "precious");

    // Its only name left, the file is the log's own again.
    fs::remove(elsewhere);
    problem.clear();
    std::FILE* file = Pd::Install::OpenLogBelow(profile.Path().wstring(), folder.wstring(), problem);
    ASSERT_NE(file, nullptr) << problem;
    std::fputs("line\n", file);
    std::fclose(file);
    EXPECT_EQ(PdTest::ReadBytes(log), "preciousline\n");
}

} // namespace
