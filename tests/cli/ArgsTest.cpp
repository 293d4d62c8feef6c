#include "cli/Args.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace
{

using Pd::Cli::Args;
using Pd::Cli::ParseArgs;

struct Parsed
{
    Args args;
    std::optional<std::wstring> error;
};

Parsed Parse(std::vector<std::wstring> words)
{
    Parsed parsed;
    parsed.error = ParseArgs(words, parsed.args);
    return parsed;
}

TEST(ArgsTest, FirstWordIsTheLowerCasedCommandAndTheRestKeepTheirCase)
{
    Parsed parsed = Parse({L"STATUS", L"C:\\Folder", L"Second"});
    ASSERT_FALSE(parsed.error);
    EXPECT_EQ(parsed.args.command, L"status");
    EXPECT_EQ(parsed.args.positional, (std::vector<std::wstring>{L"C:\\Folder", L"Second"}));
}

TEST(ArgsTest, EveryFlagSetsItsOwnFieldInAnyCaseAndPosition)
{
    Parsed parsed = Parse({L"--YES", L"install", L"--Files-Only", L"--keep-downloads", L"--no-progress",
                           L"--all", L"--from-setup", L"--list-vms", L"--check", L"--test"});
    ASSERT_FALSE(parsed.error);
    const Args& args = parsed.args;
    EXPECT_EQ(args.command, L"install");
    EXPECT_TRUE(args.yes && args.filesOnly && args.keepDownloads && args.noProgress && args.all &&
                args.fromSetup && args.listVms && args.check && args.test);
    EXPECT_TRUE(args.positional.empty());

    EXPECT_TRUE(Parse({L"uninstall", L"-Y"}).args.yes);
    Args none = Parse({L"install"}).args;
    EXPECT_FALSE(none.yes || none.filesOnly || none.keepDownloads || none.noProgress || none.all ||
                 none.fromSetup || none.listVms || none.check || none.test);
}

TEST(ArgsTest, SourceAndDirTakeTheNextWordWhateverItLooksLike)
{
    Parsed parsed = Parse({L"install", L"--SOURCE", L"GitHub", L"--dir", L"--yes"});
    ASSERT_FALSE(parsed.error);
    EXPECT_EQ(parsed.args.source, L"GitHub");
    EXPECT_EQ(parsed.args.dir, L"--yes");
    EXPECT_FALSE(parsed.args.yes);
    EXPECT_TRUE(parsed.args.positional.empty());
}

TEST(ArgsTest, AnOptionWithoutItsValueIsAnErrorNamingItAsTyped)
{
    EXPECT_EQ(Parse({L"install", L"--source"}).error, L"--source needs a value");
    EXPECT_EQ(Parse({L"check", L"--Dir"}).error, L"--Dir needs a value");
}

TEST(ArgsTest, AnUnknownOptionStopsParsing)
{
    Parsed parsed = Parse({L"status", L"--Help", L"--yes"});
    EXPECT_EQ(parsed.error, L"unknown option --Help");
    EXPECT_FALSE(parsed.args.yes);
    EXPECT_EQ(Parse({L"host", L"--background", L"now"}).error, L"unknown option --background");
    EXPECT_EQ(Parse({L"-"}).error, L"unknown option -");
}

TEST(ArgsTest, VersionOptionReplacesTheCommand)
{
    Parsed before = Parse({L"--version", L"status"});
    EXPECT_EQ(before.args.command, L"version");
    EXPECT_EQ(before.args.positional, std::vector<std::wstring>{L"status"});

    Parsed after = Parse({L"status", L"--VERSION"});
    EXPECT_EQ(after.args.command, L"version");
    EXPECT_TRUE(after.args.positional.empty());
}

TEST(ArgsTest, NoWordsGiveAnEmptyCommand)
{
    Parsed parsed = Parse({});
    EXPECT_FALSE(parsed.error);
    EXPECT_TRUE(parsed.args.command.empty());
}

} // namespace
