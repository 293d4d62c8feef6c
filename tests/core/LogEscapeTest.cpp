#include "core/LogEscape.h"

#include <gtest/gtest.h>

namespace
{

TEST(EscapeForLog, LeavesNothingThatBreaksOrDisguisesALine)
{
    struct Case
    {
        std::string_view in;
        std::string_view out;
    };
    const Case cases[] = {
        {"com.example.app", "com.example.app"},
        {"id\n[12:00:00.000] elevate: request 9 granted", "id\\x0A[12:00:00.000] elevate: request 9 granted"},
        {"a\rb\tc\x7F", "a\\x0Db\\x09c\\x7F"},
        {"back\\x0A", "back\\\\x0A"},                       // a literal escape stays readable as one
        {"r\xE2\x80\xAEtl", "r\\u202Etl"},                  // right-to-left override
        {"\xC2\x85next\xE2\x80\xA8", "\\u0085next\\u2028"}, // C1 NEL, line separator
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"}, // other text passes
        {"bad\xFF\xC3", "bad\\xFF\\xC3"},                                 // invalid and cut sequences
        {"\xC0\x8A", "\\xC0\\x8A"},                                       // overlong line feed
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},                              // encoded surrogate
        {std::string_view("nul\0x", 5), "nul\\x00x"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Pd::Core::EscapeForLog(c.in), c.out) << c.in;
    EXPECT_EQ(Pd::Core::EscapeQuotedForLog("say \"hi\"\n"), "say \\x22hi\\x22\\x0A");
}

TEST(EscapeForLog, CutsAfterTheLimitInCharacters)
{
    EXPECT_EQ(Pd::Core::EscapeForLog("abcd", 4), "abcd");
    EXPECT_EQ(Pd::Core::EscapeForLog("abcde", 4), "abcd\xE2\x80\xA6");
    EXPECT_EQ(Pd::Core::EscapeForLog("\xC3\xA9\xC3\xA9\xC3\xA9", 2), "\xC3\xA9\xC3\xA9\xE2\x80\xA6");
    EXPECT_EQ(Pd::Core::EscapeForLog(std::string(10000, '\n')).size(), 300 * 4 + 3);
}

} // namespace
