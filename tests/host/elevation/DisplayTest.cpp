// The root prompts' texts: what is shown is what will run, whatever Android sends, and which app
// asks and what turns on are told in the built-in wording, whatever the translation says.
#include "host/elevation/ElevationBridge.h"

#include "core/Strings.h"
#include "core/Text.h"
#include "host/hello/RootChange.h"
#include "tests/core/LanguageReset.h"

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

using RootPromptWording = PdTest::EnglishAfterwards;

// Whatever a translation makes of the root prompts' texts, each shows first and in full the built-in
// wording of what turns on and which app asks (shown with a bound and plain characters only); what
// the translation adds follows, bounded.
TEST_F(RootPromptWording, NoTranslationDropsReplacesOrPushesOutTheBuiltInWording)
{
    using Pd::Core::BuiltinText;
    const std::wstring lure = L"Windows Hello: confirm it is you, so that Peldra keeps your settings.";
    const std::wstring pushing = std::wstring(5000, L'\n') + lure,
                       pushed = std::wstring(1000, L'\n') + L"\u2026";
    const std::wstring app = L"com.a????" + std::wstring(191, L'b');
    const std::wstring ask =
        L"Root rights for Android\n\n" + app +
        L" (uid 10123) wants to run as root: an interactive shell\n\nConfirm only if this "
        L"is your own command.";
    const std::wstring change = L"Confirm a change to root for Android\n\n" + BuiltinText(19161) + L"\n" +
                                BuiltinText(19163) + L"\n\nConfirm only if you made this change yourself.";
    const struct
    {
        Pd::Core::TextMap texts;
        std::wstring askAdds, changeAdds; // below the built-in wording; none: it is shown once
    } cases[] = {
        {{}, L"", L""},
        {{{19001, lure}, {19002, lure}, {19160, lure}, {19161, lure}, {19163, lure}}, lure, lure},
        {{{19001, pushing}, {19160, pushing}}, pushed, pushed},
        {{{19001, L"{3}"}, {19160, L"{1}{:x}"}}, L"", L""}, // fields that do not fit
    };
    const Pd::Bio::Elevation::Request request{true, 1, 10123, "com.a\n\u202E" + std::string(300, 'b'), ""};
    for (const auto& c : cases)
    {
        Translate(c.texts);
        const auto below = [](const std::wstring& adds) { return adds.empty() ? adds : L"\n\n" + adds; };
        EXPECT_EQ(Pd::Bio::Elevation::RootRequestText(request), ask + below(c.askAdds)) << c.texts.size();
        EXPECT_EQ(Pd::Bio::RootChangeText({}, {true, false, true}), change + below(c.changeAdds))
            << c.texts.size();
    }
}

} // namespace
