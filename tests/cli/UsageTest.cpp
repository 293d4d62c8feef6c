#include "cli/Usage.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace
{

using Pd::Cli::IsHelpWord;
using Pd::Cli::UsageText;

std::vector<std::wstring> Lines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    std::wistringstream stream(text);
    for (std::wstring line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

// The lines between a section's heading and the next empty line.
std::vector<std::wstring> Section(const std::wstring& text, const std::wstring& heading)
{
    std::vector<std::wstring> all = Lines(text);
    std::vector<std::wstring> section;
    bool inside = false;
    for (const std::wstring& line : all)
    {
        if (inside && line.empty())
            break;
        if (inside)
            section.push_back(line);
        inside = inside || line == heading;
    }
    return section;
}

const std::wstring Usage = UsageText(L"D:\\Apps\\Peldra");

TEST(UsageTest, BeginsWithTheProductAndTheCallAndEndsWithTheExitCodes)
{
    EXPECT_EQ(Usage.find(L"Peldra 0.1.2 - Tovik with Android 15\n\n"
                         L"Usage: Peldra.exe <command> [options]   (no command: graphical interface)\n\n"
                         L"Commands:\n"),
              0u);
    std::wstring end =
        L"\n\nExit codes: 0 ok, 1 failed, 2 usage, 3 unavailable, 4 canceled, 5 restart Windows to finish\n";
    ASSERT_GT(Usage.size(), end.size());
    EXPECT_EQ(Usage.substr(Usage.size() - end.size()), end);
}

TEST(UsageTest, EntriesStartInColumnThreeAndDescriptionsInColumnTwentyFour)
{
    for (const wchar_t* heading : {L"Commands:", L"Options:"})
    {
        std::vector<std::wstring> lines = Section(Usage, heading);
        ASSERT_GT(lines.size(), 5u) << heading;
        for (const std::wstring& line : lines)
        {
            SCOPED_TRACE(line);
            std::size_t text = line.find_first_not_of(L' ');
            EXPECT_TRUE(text == 2 || text == 23);
        }
    }
}

// Each form is followed by its description in column 24, or, when longer than 20 characters,
// stands alone with its description on the next line.
TEST(UsageTest, ListsEveryCommandAndOptionInItsLayout)
{
    for (std::wstring form : {L"status",
                              L"check",
                              L"install",
                              L"uninstall",
                              L"uninstall --all",
                              L"bluetooth",
                              L"bluetooth --list-vms",
                              L"hello",
                              L"hello --check",
                              L"hello --test",
                              L"hello remember [off|5|30|lock] [--yes]",
                              L"modem",
                              L"elevation [on|off]",
                              L"elevation su on|off",
                              L"elevation magisk on|off",
                              L"launch",
                              L"settings",
                              L"register",
                              L"stop",
                              L"verify [folder]",
                              L"version",
                              L"lng-export <file>",
                              L"lng-check [file]",
                              L"msi stop-hosts | msi uninstall <SID> [--all]",
                              L"--source <s>",
                              L"--dir <folder>",
                              L"--files-only",
                              L"--keep-downloads",
                              L"--yes",
                              L"--no-progress"})
    {
        SCOPED_TRACE(form);
        std::wstring entry = L"\n  " + form;
        if (form.size() <= 20)
            entry.resize(entry.size() + 21 - form.size(), L' ');
        else
            entry += L"\n" + std::wstring(23, L' ');
        std::size_t at = Usage.find(entry);
        ASSERT_NE(at, std::wstring::npos);
        EXPECT_NE(Usage[at + entry.size()], L' ');
    }
}

TEST(UsageTest, NamesTheDefaultInstallFolder)
{
    EXPECT_NE(Usage.find(L"  --dir <folder>       install folder (default D:\\Apps\\Peldra)\n"),
              std::wstring::npos);
}

TEST(UsageTest, HelpWordsAreRecognisedInAnyCase)
{
    for (const wchar_t* word :
         {L"help", L"--help", L"-help", L"-h", L"-?", L"/?", L"/h", L"/help", L"/HELP", L"Help", L"-H"})
        EXPECT_TRUE(IsHelpWord(word)) << word;
    for (const wchar_t* word : {L"", L"helpme", L"--h", L"?", L"status", L"h"})
        EXPECT_FALSE(IsHelpWord(word)) << word;
}

} // namespace
