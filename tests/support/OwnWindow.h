// A top-level window of this process by class and title (either may be null for any): the test
// exes of a run share their prefix's desktop, where FindWindow would also find another test's.
#pragma once

#include <windows.h>

#include <string_view>

namespace Pd::Test
{

inline HWND FindOwnWindow(const wchar_t* className, const wchar_t* title)
{
    struct Search
    {
        const wchar_t* className;
        const wchar_t* title;
        HWND found = nullptr;
    } search{className, title};
    ::EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto& search = *reinterpret_cast<Search*>(parameter);
            DWORD process = 0;
            ::GetWindowThreadProcessId(window, &process);
            wchar_t text[256] = {};
            if (process != ::GetCurrentProcessId() ||
                (search.className &&
                 (::GetClassNameW(window, text, 256) == 0 || std::wstring_view(text) != search.className)) ||
                (search.title &&
                 (::GetWindowTextW(window, text, 256) < 0 || std::wstring_view(text) != search.title)))
                return TRUE;
            search.found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace Pd::Test
