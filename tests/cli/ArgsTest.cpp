#include "cli/Args.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace
{

using Pd::Cli::Args;

Args Parse(std::vector<std::wstring> words, std::optional<std::wstring> error = std::nullopt)
{
    Args args;
    EXPECT_EQ(Pd::Cli::ParseArgs(words, args), error);
    return args;
}

TEST(ArgsTest, CommandIsLowerCasedAValueIsTheNextWordWhateverItLooksLikeAndOtherWordsKeepTheirCase)
{
    Args args = Parse({L"STATUS", L"--Source", L"GitHub", L"C:\\Folder", L"--dir", L"--yes"});
    EXPECT_EQ(args.command, L"status");
    EXPECT_EQ(args.positional, std::vector<std::wstring>{L"C:\\Folder"});
    EXPECT_EQ(args.source, L"GitHub");
    EXPECT_EQ(args.dir, L"--yes");
    EXPECT_FALSE(args.yes);
}

TEST(ArgsTest, EveryFlagSetsItsOwnFieldInAnyCaseAndPosition)
{
    Args args = Parse({L"--YES", L"install", L"--Files-Only", L"--keep-downloads", L"--no-progress", L"--all",
                       L"--from-setup", L"--list-vms", L"--check", L"--test"});
    EXPECT_EQ(args.command, L"install");
    EXPECT_TRUE(args.yes && args.filesOnly && args.keepDownloads && args.noProgress && args.all &&
                args.fromSetup && args.listVms && args.check && args.test);
    EXPECT_TRUE(Parse({L"-Y"}).yes);
}

} // namespace
