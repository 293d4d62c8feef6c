#include "cli/Mode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

using Pd::Cli::Mode;

Mode Choose(std::vector<std::wstring> words, bool split = true)
{
    words.insert(words.begin(), L"C:\\Program Files\\Peldra\\Peldra.exe");
    return Pd::Cli::ChooseMode(words, split);
}

TEST(ModeTest, WordsChooseTheModeInAnyCase)
{
    EXPECT_EQ(Choose({}), Mode::Window);
    EXPECT_EQ(Choose({L"host", L"--background"}, false), Mode::Window);

    EXPECT_EQ(Choose({L"HOST", L"--BACKGROUND"}), Mode::BackgroundHost);
    EXPECT_EQ(Choose({L"BlueTooth", L"--Background"}), Mode::BackgroundHost);
    EXPECT_EQ(Choose({L"host", L"--background", L"more"}), Mode::CommandLine);
    EXPECT_EQ(Choose({L"--background", L"host"}), Mode::CommandLine);

    EXPECT_EQ(Choose({L"msi"}), Mode::CommandLine);
    EXPECT_EQ(Choose({L"msi", L"stop-hosts"}), Mode::Installer);
    EXPECT_EQ(Choose({L"MSI", L"uninstall", L"S-1-5-21-1", L"--ALL"}), Mode::Installer);

    EXPECT_EQ(Choose({L"version"}), Mode::CommandLine);
    EXPECT_EQ(Choose({L"install", L"--yes"}), Mode::CommandLine);
}

} // namespace
