#include "core/DataFolder.h"
#include "core/UserFolders.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

namespace
{

TEST(DataFolder, IsPeldraInLocalAppDataInTheProfileFromHklm)
{
    wchar_t expected[MAX_PATH] = {};
    ASSERT_GT(::ExpandEnvironmentStringsW(L"%LOCALAPPDATA%\\Peldra", expected, MAX_PATH), 0u);
    EXPECT_EQ(std::filesystem::path(Pd::Core::DataFolder()), std::filesystem::path(expected));
    ASSERT_GT(::ExpandEnvironmentStringsW(L"%USERPROFILE%", expected, MAX_PATH), 0u);
    EXPECT_EQ(Pd::Core::UserProfileFolder(), expected);
}

// A known folder that HKCU moved out of the profile folder: an elevated process refuses it, an
// unelevated one takes the user's choice.
TEST(UserKnownFolder, AnElevatedProcessTakesOnlyTheProfileFolderAndFoldersBelowIt)
{
    using Pd::Core::Detail::CheckUserFolderWith;
    using Pd::Core::Detail::IsInProfile;
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"C:\\Users\\bob\\AppData\\Local", true},
        {L"C:\\Users\\bob", true},
        {L"C:\\Users\\bob\\", true},
        {L"c:/USERS/Bob/AppData/Roaming/", true},
        {L"C:\\Users\\bob\\x\\..\\y", true},
        {L"C:\\Users\\bob2", false},
        {L"C:\\Users\\bob\\..\\alice\\AppData", false},
        {L"C:\\Users", false},
        {L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp", false},
        {L"\\\\server\\Users\\bob", false},
        {L"", false},
    };
    for (const auto& [folder, inProfile] : cases)
        for (const wchar_t* profile : {L"C:\\Users\\bob", L"C:/Users/bob/", L"c:\\users\\BOB\\\\"})
            EXPECT_EQ(IsInProfile(folder, profile), inProfile)
                << testing::PrintToString(folder) << " in " << testing::PrintToString(profile);

    const std::wstring outside = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp";
    EXPECT_EQ(CheckUserFolderWith(L"C:/Users/bob/Start Menu/", L"C:\\Users\\bob", true, L"Programs"),
              L"C:\\Users\\bob\\Start Menu");
    EXPECT_EQ(CheckUserFolderWith(outside, L"C:\\Users\\bob", false, L"Programs"), outside);
    const auto refused = CheckUserFolderWith(outside, L"C:\\Users\\bob", true, L"Programs");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), outside +
                                   L" is not in your profile folder C:\\Users\\bob: Peldra runs with "
                                   L"administrator rights and writes nothing there. The folder is set by "
                                   L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User "
                                   L"Shell Folders value Programs.");
    const auto unknownProfile = CheckUserFolderWith(L"C:\\Users\\bob\\AppData", L"", true, L"Local AppData");
    ASSERT_FALSE(unknownProfile);
    EXPECT_TRUE(unknownProfile.error().starts_with(L"Windows does not say where your profile folder is"));
    const auto unresolved = CheckUserFolderWith(L"", L"C:\\Users\\bob", false, L"Local AppData");
    ASSERT_FALSE(unresolved);
    EXPECT_TRUE(unresolved.error().ends_with(L"value Local AppData lies."))
        << testing::PrintToString(unresolved.error());
}

} // namespace
