#include "cli/Usage.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

using Pd::Cli::IsHelpWord;
using Pd::Cli::UsageText;

const std::wstring Usage = UsageText(L"D:\\Apps\\Peldra");

TEST(UsageTest, BeginsWithTheProductAndTheCallAndEndsWithTheExitCodes)
{
    EXPECT_TRUE(
        Usage.starts_with(L"Peldra 0.1.2 - Tovik with Android 15\n\n"
                          L"Usage: Peldra.exe <command> [options]   (no command: graphical interface)\n\n"
                          L"Commands:\n  status "));
    EXPECT_TRUE(
        Usage.ends_with(L"no progress bar\n\n"
                        L"Exit codes: 0 ok, 1 failed, 2 usage, 3 unavailable, 4 canceled, 5 restart Windows "
                        L"to finish\n"));
    EXPECT_NE(Usage.find(L"\n\nOptions:\n  --source <s> "), std::wstring::npos);
    EXPECT_NE(Usage.find(L"  --dir <folder>       install folder (default D:\\Apps\\Peldra)\n"),
              std::wstring::npos);
}

// Each form is followed by its description in column 24 or, when longer than 20 characters, stands
// alone with its description on the next line; further description lines start in column 24 too.
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
        entry += form.size() <= 20 ? std::wstring(21 - form.size(), L' ') : L"\n" + std::wstring(23, L' ');
        std::size_t at = Usage.find(entry);
        ASSERT_NE(at, std::wstring::npos);
        EXPECT_NE(Usage[at + entry.size()], L' ');
    }
    EXPECT_NE(Usage.find(L"\n                       Platform are turned off again if Peldra"),
              std::wstring::npos);
}

TEST(UsageTest, HelpWordsAreRecognisedInAnyCase)
{
    for (const wchar_t* word :
         {L"help", L"--help", L"-help", L"-h", L"-?", L"/?", L"/h", L"/help", L"/HELP", L"-H"})
        EXPECT_TRUE(IsHelpWord(word)) << word;
    for (const wchar_t* word : {L"", L"helpme", L"--h", L"?", L"h"})
        EXPECT_FALSE(IsHelpWord(word)) << word;
}

} // namespace
