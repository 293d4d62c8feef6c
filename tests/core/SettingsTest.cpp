#include "core/Settings.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace
{

using namespace Pd::Core;

// Value names of this test exe only: other test exes share the Wine prefix and its registry.
class SettingsTest : public ::testing::Test
{
protected:
    std::wstring Name(const wchar_t* what)
    {
        std::wstring name = L"SettingsTest." + std::to_wstring(::GetCurrentProcessId()) + L"." + what;
        names_.push_back(name);
        return name;
    }

    void TearDown() override
    {
        for (const auto& name : names_)
            ::RegDeleteKeyValueW(HKEY_CURRENT_USER, SettingsKey, name.c_str());
    }

private:
    std::vector<std::wstring> names_;
};

TEST_F(SettingsTest, ReadsTextsAsStoredOrTheDefault)
{
    std::wstring longText(5000, L'x');
    ASSERT_EQ(WriteUserString(Name(L"text"), L"mirror"), ERROR_SUCCESS);
    ASSERT_EQ(WriteUserString(Name(L"long"), longText), ERROR_SUCCESS);
    EXPECT_EQ(ReadUserString(Name(L"text"), L"github"), L"mirror");
    EXPECT_EQ(ReadUserString(Name(L"long"), L""), longText);
    EXPECT_EQ(ReadUserString(Name(L"missing"), L"github"), L"github");
    ASSERT_EQ(WriteUserDword(Name(L"dword"), 7), ERROR_SUCCESS);
    EXPECT_EQ(ReadUserString(Name(L"dword"), L"fallback"), L"fallback") << "a value of another type";
}

TEST_F(SettingsTest, RawStoredTextsAreReadUpToTheirEndOrFirstZero)
{
    struct Case
    {
        const wchar_t* name;
        const void* data;
        DWORD size;
        const wchar_t* expected;
    };
    for (const Case& c : {
             Case{L"odd", "x", 1, L"fallback"}, // shorter than one character
             Case{L"none", "", 0, L"fallback"},
             Case{L"empty", L"", sizeof(wchar_t), L""},
             Case{L"unterminated", L"abc", 3 * sizeof(wchar_t), L"abc"},
             Case{L"zero", L"ab\0cd", 6 * sizeof(wchar_t), L"ab"},
         })
    {
        ASSERT_EQ(
            ::RegSetKeyValueW(HKEY_CURRENT_USER, SettingsKey, Name(c.name).c_str(), REG_SZ, c.data, c.size),
            ERROR_SUCCESS);
        EXPECT_EQ(ReadUserString(Name(c.name), L"fallback"), c.expected) << c.name;
    }
}

TEST_F(SettingsTest, ReadsNumbersAsStoredOrNone)
{
    ASSERT_EQ(WriteUserDword(Name(L"number"), 0xFFFFFFFE), ERROR_SUCCESS);
    ASSERT_EQ(WriteUserString(Name(L"text"), L"1"), ERROR_SUCCESS);
    EXPECT_EQ(ReadUserDword(Name(L"number")), 0xFFFFFFFEu);
    EXPECT_EQ(ReadUserDword(Name(L"text")), std::nullopt) << "a value of another type";
    EXPECT_EQ(ReadUserDword(Name(L"missing")), std::nullopt);
}

} // namespace
