// The one form of an install folder, and what is refused before anything is written, against a
// fixed set of Windows' folders.
#include "release/folders/InstallFolderRules.h"

#include "core/Strings.h"
#include "core/Text.h"
#include "tests/core/ScratchFolder.h"

#include <gtest/gtest.h>

namespace
{

using Pd::TextId;
using Pd::Core::FormatText;
using Pd::Core::ToUtf8;

const Pd::Install::Detail::WindowsFolders Windows{
    L"C:\\Windows",
    L"C:\\Users",
    {L"C:\\Windows", L"C:\\ProgramData", L"C:\\Users", L"C:\\Users\\Public\\Desktop",
     L"C:\\Users\\me\\Documents", L"C:\\Program Files"},
    {L"VM", L"vm.example.org"},
    {L"D:\\Moved\\Music", L"C:\\Program Files\\Peldra", L"c:\\program files\\peldra\\Documents"},
    L"C:\\Program Files\\Peldra",
};

std::wstring OnShare(const wchar_t* typed)
{
    return FormatText(TextId::InstallFolderOnNetworkShare, typed);
}

// Where an install may go is a rule for installs: an install made before the rules is still read
// (to remove, check or show it) wherever its folder lies, only its form must be one of this PC's.
TEST(InstallFolderRules, OneFormForEveryWayOfTypingAFolderAndARefusalNamingWhatIsWrong)
{
    const struct
    {
        const wchar_t* typed;
        std::wstring result;         // the folder, or the whole refusal
        std::wstring installed = {}; // the folder of an install made there; else as result
    } cases[] = {
        {L"C:\\Tovik ", L"C:\\Tovik"},
        {L"  C:/Tovik. . /", L"C:\\Tovik"},
        {L"C:\\\\Programme//Übung\\\\Tovik\\", L"C:\\Programme\\Übung\\Tovik"},
        {L"C:\\a\\..\\Tovik\\.\\x", L"C:\\Tovik\\x"},
        {L"C:\\CON\\..\\Tovik", L"C:\\Tovik"},
        {L"\\\\?\\C:\\Tovik", L"C:\\Tovik"},
        {L"\\\\.\\D:\\Tovik", L"D:\\Tovik"},
        {L"D:\\Раздел\\数据\\😀", L"D:\\Раздел\\数据\\😀"},
        {L"C:\\ProgramData\\Tovik", L"C:\\ProgramData\\Tovik"},
        {L"c:\\windowsapps", L"c:\\windowsapps"},
        {L"Tovik", FormatText(TextId::InstallFolderNotFullPath, L"Tovik")},
        {L"C:Tovik", FormatText(TextId::InstallFolderNotFullPath, L"C:Tovik")},
        {L"\\Tovik", FormatText(TextId::InstallFolderNotFullPath, L"\\Tovik")},
        {L"", FormatText(TextId::InstallFolderNotFullPath, L"")},
        // A network share is no place for an install, but one made there before can be acted on.
        {L"\\\\fileserver\\share\\Tovik",
         FormatText(TextId::InstallFolderOnNetworkShare, L"\\\\fileserver\\share\\Tovik"),
         L"\\\\fileserver\\share\\Tovik"},
        {L"//fileserver/share/a/../../Tovik. /",
         FormatText(TextId::InstallFolderOnNetworkShare, L"//fileserver/share/a/../../Tovik. /"),
         L"\\\\fileserver\\share\\Tovik"},
        {L"\\\\?\\UNC\\fileserver\\share",
         FormatText(TextId::InstallFolderOnNetworkShare, L"\\\\?\\UNC\\fileserver\\share"),
         L"\\\\fileserver\\share\\"},
        {L"\\\\fileserver", FormatText(TextId::InstallFolderOnNetworkShare, L"\\\\fileserver")},
        // The pipe and mailslot shares name no folder on any server, and a share of this PC itself
        // reaches its own drives around the checks made here: neither is acted on, and the install says
        // so rather than that shares are refused.
        {L"\\\\localhost\\pipe\\x",
         FormatText(TextId::InstallFolderOnPipeShare, L"\\\\localhost\\pipe\\x", L"pipe")},
        {L"//fileserver/ipc$/x",
         FormatText(TextId::InstallFolderOnPipeShare, L"//fileserver/ipc$/x", L"ipc$")},
        {L"\\\\?\\UNC\\fileserver\\MailSlot.\\x",
         FormatText(TextId::InstallFolderOnPipeShare, L"\\\\?\\UNC\\fileserver\\MailSlot.\\x", L"MailSlot")},
        {L"\\\\.\\pipe\\x", FormatText(TextId::InstallFolderUnusablePath, L"\\\\.\\pipe\\x")},
        {L"\\\\.\\UNC\\LocalHost.\\C$\\Tovik",
         FormatText(TextId::InstallFolderOnThisPcShare, L"\\\\.\\UNC\\LocalHost.\\C$\\Tovik", L"LocalHost.")},
        {L"\\\\vm\\share\\x", FormatText(TextId::InstallFolderOnThisPcShare, L"\\\\vm\\share\\x", L"vm")},
        {L"\\\\VM.example.ORG\\share\\x",
         FormatText(TextId::InstallFolderOnThisPcShare, L"\\\\VM.example.ORG\\share\\x", L"VM.example.ORG")},
        {L"\\\\vm2\\share\\x", OnShare(L"\\\\vm2\\share\\x"), L"\\\\vm2\\share\\x"},
        {L"\\\\128.0.0.1\\share\\x", OnShare(L"\\\\128.0.0.1\\share\\x"), L"\\\\128.0.0.1\\share\\x"},
        {L"\\\\0--2.ipv6-literal.net\\share", OnShare(L"\\\\0--2.ipv6-literal.net\\share"),
         L"\\\\0--2.ipv6-literal.net\\share\\"},
        {L"\\\\?\\Volume{1}\\Tovik",
         FormatText(TextId::InstallFolderUnusablePath, L"\\\\?\\Volume{1}\\Tovik")},
        {L"C:\\CON\\Tovik", FormatText(TextId::InstallFolderDeviceName, L"CON", L"C:\\CON\\Tovik")},
        {L"C:\\Tovik\\Com1.txt",
         FormatText(TextId::InstallFolderDeviceName, L"Com1.txt", L"C:\\Tovik\\Com1.txt")},
        {L"C:\\To:vik", FormatText(TextId::InstallFolderInvalidName, L"To:vik", L"C:\\To:vik")},
        {L"C:\\Tovik \\x", FormatText(TextId::InstallFolderInvalidName, L"Tovik ", L"C:\\Tovik \\x")},
        {L"C:\\", FormatText(TextId::InstallFolderIsDriveRoot, L"C:\\"), L"C:\\"},
        {L"\\\\?\\C:", FormatText(TextId::InstallFolderIsDriveRoot, L"C:\\"), L"C:\\"},
        {L"C:\\WINDOWS\\System32\\Tovik",
         FormatText(TextId::InstallFolderInWindowsFolder, L"C:\\WINDOWS\\System32\\Tovik", L"C:\\Windows"),
         L"C:\\WINDOWS\\System32\\Tovik"},
        {L"C:\\Users\\Tovik\\",
         FormatText(TextId::InstallFolderInProfilesFolder, L"C:\\Users\\Tovik", L"C:\\Users"),
         L"C:\\Users\\Tovik"},
        {L"C:\\Windows", FormatText(TextId::InstallFolderIsSystemFolder, L"C:\\Windows"), L"C:\\Windows"},
        {L"C:\\ProgramData", FormatText(TextId::InstallFolderIsSystemFolder, L"C:\\ProgramData"),
         L"C:\\ProgramData"},
        // The user's own folders refuse, but never the default folder when they were moved there.
        {L"D:\\Moved", FormatText(TextId::InstallFolderIsSystemFolder, L"D:\\Moved"), L"D:\\Moved"},
        {L"C:\\Program Files\\Peldra", L"C:\\Program Files\\Peldra"},
        {L"c:\\users\\public\\desktop\\",
         FormatText(TextId::InstallFolderIsSystemFolder, L"c:\\users\\public\\desktop"),
         L"c:\\users\\public\\desktop"},
    };
    // Every spelling Windows reads of the loopback addresses names this PC.
    for (const wchar_t* server :
         {L"127.0.0.1", L"127.1", L"0x7f.1", L"0177.0.0.1", L"2130706433", L"127.255.0.9", L"[::1]",
          L"0:0::1", L"::ffff:127.0.0.1", L"0--1.ipv6-literal.net", L"0--1s4.ipv6-literal.net"})
    {
        const std::wstring typed = std::wstring(L"\\\\") + server + L"\\C$\\x";
        const auto installed = Pd::Install::Detail::NormalFolderForm(typed, Windows.pcNames);
        EXPECT_EQ(ToUtf8(installed ? *installed : installed.error()),
                  ToUtf8(FormatText(TextId::InstallFolderOnThisPcShare, typed, server)));
    }
    for (const auto& each : cases)
    {
        const auto folder = Pd::Install::Detail::NormalInstallFolder(each.typed, Windows);
        EXPECT_EQ(ToUtf8(folder ? *folder : folder.error()), ToUtf8(each.result)) << ToUtf8(each.typed);
        const auto installed = Pd::Install::Detail::NormalFolderForm(each.typed, Windows.pcNames);
        EXPECT_EQ(ToUtf8(installed ? *installed : installed.error()),
                  ToUtf8(each.installed.empty() ? each.result : each.installed))
            << ToUtf8(each.typed);
    }
}

// A refusal of a folder that holds an install says how to go on from there.
TEST(InstallFolderRules, ARefusedFolderHoldingAnInstallSaysWhatToDo)
{
    PdTest::ScratchFolder folder;
    const std::wstring refusal =
        FormatText(TextId::InstallFolderWritableByOthers, folder.Path().wstring(), L"Everyone");
    EXPECT_EQ(Pd::Install::HowToGoOn(refusal, folder.Path().wstring()), refusal);
    folder.Write(L"peldra.json", "{}");
    EXPECT_EQ(Pd::Install::HowToGoOn(refusal, folder.Path().wstring()),
              FormatText(TextId::FolderHoldsEarlierRelease, refusal));
}

TEST(InstallFolderRules, TheReleasesLongestPathMustFitTheLimits)
{
    using Pd::Install::Detail::CheckPathLengths;
    const std::wstring folder = L"C:\\" + std::wstring(197, L'a');
    Pd::Core::Manifest manifest;
    manifest.components.resize(1);
    manifest.components[0].id = L"kernel";
    manifest.components[0].target = L"tools/" + std::wstring(48, L'k'); // staged as "<target>.new"
    EXPECT_TRUE(CheckPathLengths(folder, manifest, 259, 247));
    manifest.components[0].target += L'k';
    const auto file = CheckPathLengths(folder, manifest, 259, 247);
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error(), FormatText(TextId::InstallFolderTooLong, folder,
                                       folder + L"\\tools\\" + std::wstring(49, L'k') + L".new", 260, 259));
    // Folders leave room for an 8.3 name: "<folder>\.download" is the first to hit that limit.
    const std::wstring longer = L"C:\\" + std::wstring(235, L'a');
    const auto downloads = CheckPathLengths(longer, Pd::Core::Manifest(), 259, 247);
    ASSERT_FALSE(downloads);
    EXPECT_EQ(downloads.error(),
              FormatText(TextId::InstallFolderTooLong, longer, longer + L"\\.download", 248, 247));
}

} // namespace
