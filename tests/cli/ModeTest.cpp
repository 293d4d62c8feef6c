// How the words of the process choose its mode, and the installer's own words.
#include "cli/Mode.h"
#include "cli/Installer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

using Pd::Cli::Mode;
using Call = Pd::Cli::InstallerCall;
using Kind = Call::Kind;

std::vector<std::wstring> Words(std::vector<std::wstring> words)
{
    words.insert(words.begin(), L"C:\\Program Files\\Peldra\\Peldra.exe");
    return words;
}

TEST(ModeTest, WordsChooseTheModeInAnyCase)
{
    EXPECT_EQ(Pd::Cli::ChooseMode(Words({L"host", L"--background"}), false), Mode::Window);
    const std::vector<std::pair<std::vector<std::wstring>, Mode>> cases = {
        {{}, Mode::Window},
        {{L"HOST", L"--BACKGROUND"}, Mode::BackgroundHost},
        {{L"BlueTooth", L"--Background"}, Mode::BackgroundHost},
        {{L"host", L"--background", L"more"}, Mode::CommandLine},
        {{L"--background", L"host"}, Mode::CommandLine},
        {{L"msi"}, Mode::CommandLine},
        {{L"msi", L"stop-hosts"}, Mode::Installer},
        {{L"MSI", L"uninstall", L"S-1-5-21-1", L"--ALL"}, Mode::Installer},
        {{L"install", L"--yes"}, Mode::CommandLine},
    };
    for (const auto& [words, mode] : cases)
        EXPECT_EQ(Pd::Cli::ChooseMode(Words(words), true), mode) << words.size() << " words";
}

TEST(InstallerCallTest, TheTwoFormsInAnyCaseWithTheSidAsWrittenAndAnythingElseMalformed)
{
    auto parse = [](std::vector<std::wstring> words) {
        words.insert(words.begin(), L"msi");
        return Pd::Cli::ParseInstallerCall(Words(words));
    };
    EXPECT_EQ(parse({L"STOP-Hosts"}).kind, Kind::StopHosts);
    EXPECT_EQ(parse({L"Uninstall", L"s-1-5-21-7"}), (Call{.kind = Kind::Uninstall, .sid = L"s-1-5-21-7"}));
    EXPECT_EQ(parse({L"uninstall", L"S-1-5-21-7", L"--ALL"}),
              (Call{.kind = Kind::Uninstall, .sid = L"S-1-5-21-7", .all = true}));

    const std::vector<std::vector<std::wstring>> malformed = {
        {L"uninstall"},
        {L"uninstall", L"S-1-5-21-7", L"--yes"},
        {L"uninstall", L"S-1-5-21-7", L"--all", L"--all"},
        {L"--all", L"uninstall", L"S-1-5-21-7"},
    };
    for (const auto& words : malformed)
        EXPECT_EQ(parse(words).kind, Kind::Malformed) << words.front() << " +" << words.size() - 1;
}

} // namespace
