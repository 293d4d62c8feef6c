#include "cli/Usage.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

const std::wstring Usage = Pd::Cli::UsageText(L"D:\\Apps\\Peldra");

// The start and the end of the text are checked by the end-to-end runs.
TEST(UsageTest, OptionsFollowTheCommandsAndNameTheDefaultFolder)
{
    EXPECT_NE(Usage.find(L"\n\nOptions:\n  --source <s> "), std::wstring::npos);
    EXPECT_NE(Usage.find(L"  --dir <folder>       install folder; without it, the folder Peldra installed to "
                         L"for you or\n"),
              std::wstring::npos);
    EXPECT_NE(Usage.find(L"in the window, else\n" + std::wstring(23, L' ') + L"D:\\Apps\\Peldra\n"),
              std::wstring::npos);
}

// A form of up to 20 characters is followed by its description in column 24; a longer one stands
// alone with its description on the next line; further description lines start in column 24 too.
TEST(UsageTest, EntriesKeepTheirLayout)
{
    for (std::wstring form : {L"status", L"bluetooth --list-vms", L"elevation magisk on|off",
                              L"--no-progress", L"msi stop-hosts | msi uninstall <SID> [--all]"})
    {
        std::wstring entry = L"\n  " + form;
        entry += form.size() <= 20 ? std::wstring(21 - form.size(), L' ') : L"\n" + std::wstring(23, L' ');
        std::size_t at = Usage.find(entry);
        ASSERT_NE(at, std::wstring::npos) << form;
        EXPECT_NE(Usage[at + entry.size()], L' ') << form;
    }
    for (const wchar_t* line : {L"Platform are turned off again if Peldra",
                                L"5, 30 and lock: administrator)\n  elevation [on|off]"})
        EXPECT_NE(Usage.find(L"\n" + std::wstring(23, L' ') + line), std::wstring::npos) << line;
}

TEST(UsageTest, HelpWordsAreRecognisedInAnyCase)
{
    for (const wchar_t* word :
         {L"help", L"--help", L"-help", L"-h", L"-?", L"/?", L"/h", L"/help", L"/HELP", L"-H"})
        EXPECT_TRUE(Pd::Cli::IsHelpWord(word)) << word;
    for (const wchar_t* word : {L"", L"helpme", L"--h", L"?", L"h"})
        EXPECT_FALSE(Pd::Cli::IsHelpWord(word)) << word;
}

} // namespace
