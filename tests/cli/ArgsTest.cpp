#include "cli/Args.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace
{

using Pd::Cli::Args;

struct Parsed
{
    Args args;
    std::optional<std::wstring> error;
};

Parsed Parse(std::vector<std::wstring> words)
{
    Parsed parsed;
    parsed.error = Pd::Cli::ParseArgs(words, parsed.args);
    return parsed;
}

TEST(ArgsTest, CommandIsLowerCasedAndEveryOtherWordKeepsItsCase)
{
    Parsed parsed = Parse({L"STATUS", L"--Source", L"GitHub", L"C:\\Folder", L"--dir", L"--yes"});
    ASSERT_FALSE(parsed.error);
    EXPECT_EQ(parsed.args.command, L"status");
    EXPECT_EQ(parsed.args.positional, std::vector<std::wstring>{L"C:\\Folder"});
    EXPECT_EQ(parsed.args.source, L"GitHub");
    EXPECT_EQ(parsed.args.dir, L"--yes"); // the next word is the value whatever it looks like
    EXPECT_FALSE(parsed.args.yes);
}

TEST(ArgsTest, EveryFlagSetsItsOwnFieldInAnyCaseAndPosition)
{
    Args args = Parse({L"--YES", L"install", L"--Files-Only", L"--keep-downloads", L"--no-progress", L"--all",
                       L"--from-setup", L"--list-vms", L"--check", L"--test"})
                    .args;
    EXPECT_EQ(args.command, L"install");
    EXPECT_TRUE(args.yes && args.filesOnly && args.keepDownloads && args.noProgress && args.all &&
                args.fromSetup && args.listVms && args.check && args.test);
    EXPECT_TRUE(Parse({L"-Y"}).args.yes);
    Args none = Parse({L"install"}).args;
    EXPECT_FALSE(none.yes || none.filesOnly || none.keepDownloads || none.noProgress || none.all ||
                 none.fromSetup || none.listVms || none.check || none.test);
}

TEST(ArgsTest, MistakesAreNamedAsTypedAndStopParsing)
{
    EXPECT_EQ(Parse({L"install", L"--source"}).error, L"--source needs a value");
    EXPECT_EQ(Parse({L"check", L"--Dir"}).error, L"--Dir needs a value");
    Parsed parsed = Parse({L"status", L"--Help", L"--yes"});
    EXPECT_EQ(parsed.error, L"unknown option --Help");
    EXPECT_FALSE(parsed.args.yes);
    EXPECT_EQ(Parse({L"-"}).error, L"unknown option -");
}

TEST(ArgsTest, VersionOptionReplacesTheCommand)
{
    Parsed before = Parse({L"--version", L"status"});
    EXPECT_EQ(before.args.command, L"version");
    EXPECT_EQ(before.args.positional, std::vector<std::wstring>{L"status"});
    EXPECT_EQ(Parse({L"status", L"--VERSION"}).args.command, L"version");
}

} // namespace
