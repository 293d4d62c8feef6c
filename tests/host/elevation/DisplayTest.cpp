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

// Language files are hints: whatever a translation makes of the texts of both root prompts (the
// request and the confirmation of wider settings), each shows in full and first the built-in
// wording of what turns on and which app asks, and what the translation adds is bounded.
TEST_F(RootPromptWording, NoTranslationDropsReplacesOrPushesOutTheBuiltInDescription)
{
    using Pd::TextId;
    using Pd::Bio::Elevation::RootRequestText;
    // A named app's command; an unknown app's shell; an app name with a line break, a direction
    // mark and more than 200 bytes, whose shown form has a bound and only plain characters.
    const Pd::Bio::Elevation::Request requests[] = {
        {true, 1, 10123, "com.example.app", "id"},
        {true, 2, 10124, "", ""},
        {true, 3, 10125, "com.a\nRoot is off\u202E" + std::string(300, 'b'), "id"}};
    const std::wstring english[] = {
        L"Root rights for Android\n\ncom.example.app (uid 10123) wants to run as root: \u201Cid\u201D\n\n"
        L"Confirm only if this is your own command.",
        L"Root rights for Android\n\nan unknown app (uid 10124) wants to run as root: "
        L"an interactive shell\n\nConfirm only if this is your own command.",
        L"Root rights for Android\n\ncom.a?Root?is?off???" + std::wstring(180, L'b') +
            L" (uid 10125) wants to run as root: \u201Cid\u201D\n\nConfirm only if this is your own "
            L"command."};
    const std::wstring change = Pd::Core::FormatText(
        TextId::ConfirmRootChange, Pd::Core::BuiltinText(19161) + L"\n" + Pd::Core::BuiltinText(19163));
    const std::wstring lure = L"Windows Hello: confirm it is you, so that Peldra keeps your settings.";
    Pd::Core::TextMap everyIdLures;
    for (TextId id :
         {TextId::RootRequestPrompt, TextId::UnknownApp, TextId::InteractiveShell, TextId::CutNote,
          TextId::ConfirmRootChange, TextId::RootTurnsOn, TextId::SuTurnsOn, TextId::MagiskModeTurnsOn})
        everyIdLures[static_cast<std::uint32_t>(id)] = lure;
    struct Case
    {
        const char* what;
        Pd::Core::TextMap texts;
        std::wstring added; // below the built-in wording of the request; none: shown once
        std::wstring addedToChange;
    };
    const Case cases[] = {
        {"English", {}, L"", L""},
        {"a lure for every id", everyIdLures, lure, lure},
        {"a lure for the pieces",
         {{19001, L"{0}: OK"}, {19003, lure}, {19002, lure}, {19160, L"{0}"}, {19161, lure}, {19163, L""}},
         L"com.example.app: OK",
         lure + L"\n" + Pd::Core::BuiltinText(19163)},
        {"line breaks that push the rest out of view",
         {{19001, std::wstring(5000, L'\n') + lure}, {19160, std::wstring(5000, L'\n') + lure}},
         std::wstring(1000, L'\n') + L"\u2026",
         std::wstring(1000, L'\n') + L"\u2026"},
        {"fields that do not fit", {{19001, L"{3}"}, {19160, L"{1}{:x}"}}, L"", L""},
    };
    for (const Case& c : cases)
    {
        Translate(c.texts);
        const auto below = [](const std::wstring& added) { return added.empty() ? added : L"\n\n" + added; };
        EXPECT_EQ(RootRequestText(requests[0]), english[0] + below(c.added)) << c.what;
        EXPECT_TRUE(RootRequestText(requests[1]).starts_with(english[1])) << c.what;
        EXPECT_TRUE(RootRequestText(requests[2]).starts_with(english[2])) << c.what;
        EXPECT_EQ(Pd::Bio::RootChangeText({}, {true, false, true}), change + below(c.addedToChange))
            << c.what;
    }
}

} // namespace
