// The one form of an install folder, and what is refused before anything is written, against a
// fixed set of Windows' folders.
#include "core/release/InstallFolderRules.h"

#include "core/Strings.h"
#include "core/Text.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Core::FormatText;
using Pd::Core::ToUtf8;

const Pd::Install::Detail::WindowsFolders Windows{
    L"C:\\Windows",
    L"C:\\Users",
    {L"C:\\Windows", L"C:\\ProgramData", L"C:\\Users", L"C:\\Users\\Public\\Desktop",
     L"C:\\Users\\me\\Documents", L"C:\\Program Files"},
};

TEST(InstallFolderRules, OneFormForEveryWayOfTypingAFolderAndARefusalNamingWhatIsWrong)
{
    const struct
    {
        const wchar_t* typed;
        std::wstring result; // the folder, or the whole refusal
    } cases[] = {
        {L"C:\\Tovik", L"C:\\Tovik"},
        {L"C:\\Tovik ", L"C:\\Tovik"},
        {L"  C:/Tovik. . /", L"C:\\Tovik"},
        {L"C:\\\\Programme//Übung\\\\Tovik\\", L"C:\\Programme\\Übung\\Tovik"},
        {L"C:\\a\\..\\Tovik\\.\\x", L"C:\\Tovik\\x"},
        {L"C:\\..\\..\\Tovik", L"C:\\Tovik"},
        {L"C:\\CON\\..\\Tovik", L"C:\\Tovik"},
        {L"\\\\?\\C:\\Tovik", L"C:\\Tovik"},
        {L"\\\\.\\D:\\Tovik", L"D:\\Tovik"},
        {L"D:\\Раздел\\数据\\😀", L"D:\\Раздел\\数据\\😀"},
        {L"C:\\ProgramData\\Tovik", L"C:\\ProgramData\\Tovik"},
        {L"C:\\Users\\me\\Tovik", L"C:\\Users\\me\\Tovik"},
        {L"c:\\windowsapps", L"c:\\windowsapps"},
        {L"Tovik", FormatText(16085, L"Tovik")},
        {L".\\Tovik", FormatText(16085, L".\\Tovik")},
        {L"C:Tovik", FormatText(16085, L"C:Tovik")},
        {L"\\Tovik", FormatText(16085, L"\\Tovik")},
        {L"", FormatText(16085, L"")},
        {L"\\\\fileserver\\share\\Tovik", FormatText(16091, L"\\\\fileserver\\share\\Tovik")},
        {L"//fileserver/share/Tovik", FormatText(16091, L"//fileserver/share/Tovik")},
        {L"\\\\?\\UNC\\fileserver\\share", FormatText(16091, L"\\\\?\\UNC\\fileserver\\share")},
        {L"\\\\?\\Volume{1}\\Tovik", FormatText(16092, L"\\\\?\\Volume{1}\\Tovik")},
        {L"C:\\CON\\Tovik", FormatText(16086, L"CON", L"C:\\CON\\Tovik")},
        {L"C:\\Tovik\\aux", FormatText(16086, L"aux", L"C:\\Tovik\\aux")},
        {L"C:\\Tovik\\Com1.txt", FormatText(16086, L"Com1.txt", L"C:\\Tovik\\Com1.txt")},
        {L"C:\\To:vik", FormatText(16087, L"To:vik", L"C:\\To:vik")},
        {L"C:\\Tovik \\x", FormatText(16087, L"Tovik ", L"C:\\Tovik \\x")},
        {L"C:\\", FormatText(16040, L"C:\\")},
        {L"\\\\?\\C:", FormatText(16040, L"C:\\")},
        {L"C:\\Tovik\\..", FormatText(16040, L"C:\\")},
        {L"C:\\WINDOWS\\System32\\Tovik", FormatText(16089, L"C:\\WINDOWS\\System32\\Tovik", L"C:\\Windows")},
        {L"C:\\Users\\me", FormatText(16090, L"C:\\Users\\me", L"C:\\Users")},
        {L"C:\\Users\\Tovik\\", FormatText(16090, L"C:\\Users\\Tovik", L"C:\\Users")},
        {L"C:\\Windows", FormatText(16088, L"C:\\Windows")},
        {L"C:\\ProgramData", FormatText(16088, L"C:\\ProgramData")},
        {L"c:\\users\\public\\desktop\\", FormatText(16088, L"c:\\users\\public\\desktop")},
        {L"C:\\Users\\me\\Documents", FormatText(16088, L"C:\\Users\\me\\Documents")},
        {L"C:\\Program Files", FormatText(16088, L"C:\\Program Files")},
    };
    for (const auto& each : cases)
    {
        const auto folder = Pd::Install::Detail::NormalInstallFolder(each.typed, Windows);
        EXPECT_EQ(ToUtf8(folder ? *folder : folder.error()), ToUtf8(each.result)) << ToUtf8(each.typed);
    }
}

Pd::Core::Component Part(const wchar_t* id, Pd::Core::ComponentKind kind, std::wstring target)
{
    Pd::Core::Component component;
    component.id = id;
    component.kind = kind;
    component.target = std::move(target);
    return component;
}

TEST(InstallFolderRules, TheReleasesLongestPathMustFitTheLimit)
{
    Pd::Core::Manifest manifest;
    manifest.components.push_back(Part(L"kernel", Pd::Core::ComponentKind::File, L"tools/kernel"));
    manifest.components.push_back(Part(L"app", Pd::Core::ComponentKind::Archive, L"."));
    // The tightest is the download folder "<folder>\.download" against the limit for folders.
    const std::wstring fits = L"C:\\" + std::wstring(234, L'a');
    EXPECT_TRUE(Pd::Install::Detail::CheckPathLengths(fits, manifest, 259, 247));
    const std::wstring longer = fits + L"b";
    const auto refused = Pd::Install::Detail::CheckPathLengths(longer, manifest, 259, 247);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), FormatText(16097, longer, longer + L"\\.download", 248, 247));
    // An archive's folder counts against the lower limit for folders.
    manifest.components.push_back(
        Part(L"x", Pd::Core::ComponentKind::Archive, L"deep/" + std::wstring(20, L'd')));
    const auto folder = Pd::Install::Detail::CheckPathLengths(fits, manifest, 259, 247);
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error(), FormatText(16097, fits, fits + L"\\deep\\" + std::wstring(20, L'd'), 263, 247));
}

} // namespace
