#include "host/elevation/ElevationBridge.h"

#include <gtest/gtest.h>

namespace
{

using namespace Pd::Bio::Elevation;

TEST(ElevationDisplay, DescribesTheCaller)
{
    struct Case
    {
        std::uint32_t uid;
        std::string app;
        std::wstring shown;
    };
    const Case cases[] = {
        {0, "com.evil.app", L"root"},
        {2000, "com.evil.app", L"adb shell"},
        {10123, "", L"an unknown app"},
        {10123, "com.ex-am_ple:svc,1", L"com.ex-am_ple:svc,1"},
        {10123, "a/b c\n\xC3\xA9", L"a?b?c???"},
        {10123, std::string(250, 'x'), std::wstring(200, L'x')},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DescribeCaller({true, 1, c.uid, c.app, ""}), c.shown) << c.app;
}

TEST(ElevationDisplay, CommandsCannotBreakOrDisguiseThePrompt)
{
    struct Case
    {
        std::string command;
        std::wstring shown;
    };
    const Case cases[] = {
        {"ls -l /data", L"ls -l /data"},
        {"rm x\necho ok", L"rm x?echo ok"},
        {"a\xE2\x80\xAE"
         "b\xE2\x81\xA6"
         "c\xEF\xBB\xBF"
         "d\xD8\x9C"
         "e\xC2\x9B",
         L"a?b?c?d?e?"},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", L"caf\u00E9 \U0001F600"},
        {std::string(400, 'y'), std::wstring(300, L'y') + L"\u2026"},
        {std::string(300, 'y'), std::wstring(300, L'y') + L"\u2026"},
        // A pair that would be cut at the limit goes whole.
        {std::string(299, 'y') + "\xF0\x9F\x98\x80", std::wstring(299, L'y') + L"\u2026"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SanitizeForDisplay(c.command), c.shown) << c.command;
}

} // namespace
