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

    void Store(const std::wstring& name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, SettingsKey, name.c_str(), type, data, size),
                  ERROR_SUCCESS);
    }

    void TearDown() override
    {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, SettingsKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
            return;
        for (const auto& name : names_)
            ::RegDeleteValueW(key, name.c_str());
        ::RegCloseKey(key);
    }

private:
    std::vector<std::wstring> names_;
};

TEST_F(SettingsTest, ReadsAStoredText)
{
    auto name = Name(L"text");
    ASSERT_EQ(WriteUserString(name, L"mirror"), ERROR_SUCCESS);
    EXPECT_EQ(ReadUserString(name, L"github"), L"mirror");
}

TEST_F(SettingsTest, MissingValueGivesTheDefault)
{
    EXPECT_EQ(ReadUserString(Name(L"missing"), L"github"), L"github");
}

TEST_F(SettingsTest, ValueOfAnotherTypeGivesTheDefault)
{
    auto name = Name(L"dword");
    ASSERT_EQ(WriteUserDword(name, 7), ERROR_SUCCESS);
    EXPECT_EQ(ReadUserString(name, L"fallback"), L"fallback");
}

TEST_F(SettingsTest, DataShorterThanOneCharacterGivesTheDefault)
{
    auto name = Name(L"short");
    Store(name, REG_SZ, "x", 1);
    EXPECT_EQ(ReadUserString(name, L"fallback"), L"fallback");
    Store(name, REG_SZ, "", 0);
    EXPECT_EQ(ReadUserString(name, L"fallback"), L"fallback");
}

TEST_F(SettingsTest, StoredEmptyStringIsEmptyNotTheDefault)
{
    auto name = Name(L"empty");
    Store(name, REG_SZ, L"", sizeof(wchar_t));
    EXPECT_EQ(ReadUserString(name, L"fallback"), L"");
}

TEST_F(SettingsTest, TextWithoutTerminatorIsReadWhole)
{
    auto name = Name(L"unterminated");
    Store(name, REG_SZ, L"abc", 3 * sizeof(wchar_t));
    EXPECT_EQ(ReadUserString(name, L"fallback"), L"abc");
}

TEST_F(SettingsTest, TextEndsAtItsFirstZero)
{
    auto name = Name(L"zero");
    Store(name, REG_SZ, L"ab\0cd", 6 * sizeof(wchar_t));
    EXPECT_EQ(ReadUserString(name, L"fallback"), L"ab");
}

TEST_F(SettingsTest, WritesAFourByteDword)
{
    auto name = Name(L"number");
    ASSERT_EQ(WriteUserDword(name, 0xFFFFFFFFu), ERROR_SUCCESS);
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD type = 0;
    ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, SettingsKey, name.c_str(), RRF_RT_ANY, &type, &value, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(value, 0xFFFFFFFFu);
}

TEST_F(SettingsTest, ReadsLongTexts)
{
    auto name = Name(L"long");
    std::wstring text(5000, L'x');
    ASSERT_EQ(WriteUserString(name, text), ERROR_SUCCESS);
    EXPECT_EQ(ReadUserString(name, L""), text);
}

} // namespace
