// What the tests of the real adapters share: the test classes are scripted, and note the calls
// they get, through the environment.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <initializer_list>
#include <string>

namespace Pd::Platform
{

class WinRtScripted : public testing::Test
{
protected:
    static void Clear(std::initializer_list<const wchar_t*> names)
    {
        for (const wchar_t* name : names)
            ::SetEnvironmentVariableW(name, nullptr);
    }
    static void Script(const wchar_t* name, const wchar_t* value) { ::SetEnvironmentVariableW(name, value); }
    static std::wstring Read(const wchar_t* name)
    {
        wchar_t value[8192];
        const DWORD length = ::GetEnvironmentVariableW(name, value, 8192);
        return length < 8192 ? std::wstring(value, length) : std::wstring();
    }
    static std::wstring Calls() { return Read(L"PD_TEST_CALLS"); }
};

} // namespace Pd::Platform
