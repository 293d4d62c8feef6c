#include "cli/Installer.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{

using Pd::Cli::InstallerCall;
using Kind = Pd::Cli::InstallerCall::Kind;

InstallerCall Parse(std::vector<std::wstring> words)
{
    words.insert(words.begin(), {L"C:\\Program Files\\Peldra\\Peldra.exe", L"msi"});
    return Pd::Cli::ParseInstallerCall(words);
}

InstallerCall Expected(Kind kind, std::wstring sid = L"", bool all = false)
{
    InstallerCall call;
    call.kind = kind;
    call.sid = std::move(sid);
    call.all = all;
    return call;
}

TEST(InstallerTest, TheTwoFormsInAnyCaseAndTheSidAsWritten)
{
    EXPECT_EQ(Parse({L"stop-hosts"}), Expected(Kind::StopHosts));
    EXPECT_EQ(Parse({L"STOP-Hosts"}), Expected(Kind::StopHosts));
    EXPECT_EQ(Parse({L"uninstall", L"S-1-5-21-7"}), Expected(Kind::Uninstall, L"S-1-5-21-7"));
    EXPECT_EQ(Parse({L"Uninstall", L"s-1-5-21-7", L"--ALL"}), Expected(Kind::Uninstall, L"s-1-5-21-7", true));
}

TEST(InstallerTest, OtherWordsOrCountsAreMalformed)
{
    const std::vector<std::vector<std::wstring>> cases = {
        {L"stop-hosts", L"now"},
        {L"uninstall"},
        {L"uninstall", L"S-1-5-21-7", L"--yes"},
        {L"uninstall", L"S-1-5-21-7", L"--all", L"--all"},
        {L"remove", L"S-1-5-21-7"},
        {L"--all", L"uninstall", L"S-1-5-21-7"},
    };
    for (const auto& words : cases)
        EXPECT_EQ(Parse(words).kind, Kind::Malformed) << words.front() << " +" << words.size() - 1;
}

} // namespace
