// The root prompt's command text: what is shown is what will run, whatever Android sends.
#include "host/elevation/ElevationBridge.h"

#include "core/Strings.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

using Pd::Bio::Elevation::SanitizeForDisplay;

TEST(RootPrompt, EveryCharacterThatDoesNotShowAsItselfIsEscapedAndRunsAreCounted)
{
    struct Case
    {
        std::string command;
        std::wstring shown;
        std::size_t characters;
    };
    const Case cases[] = {
        {"id", L"id", 2},
        {"ls\u202e\ncat /x", L"ls\\u202E\\x0Acat /x", 10},
        {"a  b   c\td", L"a  b   c\\x09d", 10},
        {"rm" + std::string(400, ' ') + "-rf /", L"rm\\x20\u00D7400-rf /", 407},
        {"x\u3000\u3000\u3000\u3000\u3000; rm -rf /", L"x\\u3000\u00D75; rm -rf /", 16},
        {"\u2800\u3164\u115F\u00A0\u00AD\u2060", L"\\u2800\\u3164\\u115F\\u00A0\\u00AD\\u2060", 6},
        {"cafe\u0301 \u00E9 \u00D7 \u03A9 \u0416", L"cafe\\u0301 \u00E9 \\u00D7 \u03A9 \u0416", 13},
        {"echo \\u3000 \\", L"echo \\\\u3000 \\\\", 13},
        {"\xFF\xC0\x80ok", L"\\xFF\\xC0\\x80ok", 5},
        {"\xF0\x9F\x98\x80", L"\\u1F600", 1},
    };
    for (const Case& c : cases)
    {
        const auto shown = SanitizeForDisplay(c.command);
        EXPECT_EQ(shown.text, c.shown) << c.command;
        EXPECT_FALSE(shown.cut) << c.command;
        EXPECT_EQ(shown.characters, c.characters) << c.command;
    }
}

TEST(RootPrompt, ACutIsMarkedNeverSplitsAnEscapeAndTellsTheFullLength)
{
    auto shown = SanitizeForDisplay(std::string(400, 'y'));
    EXPECT_EQ(shown.text, std::wstring(300, L'y') + L"\u2026");
    EXPECT_TRUE(shown.cut);
    EXPECT_EQ(Pd::Bio::Elevation::CutNote(shown), L" (cut: 400 characters in all)");

    shown = SanitizeForDisplay(std::string(298, 'y') + "\u3000z");
    EXPECT_EQ(shown.text, std::wstring(298, L'y') + L"\u2026");
    EXPECT_EQ(shown.characters, 300u);

    shown = SanitizeForDisplay(std::string(300, 'y'));
    EXPECT_FALSE(shown.cut);
    EXPECT_EQ(Pd::Bio::Elevation::CutNote(shown), L"");
}

} // namespace
