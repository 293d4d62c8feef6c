// A stand-in for a program that the product starts: it records how it was started in
// "<its own path>.args" (UTF-16 command line, current folder on the next line, then its
// environment, each variable ended by a zero) and ends with ProbeExitCode, so that tests see the
// command line, the folder, the environment and the exit code passing through.
#include <windows.h>

#include <cwchar>
#include <string>

int wmain()
{
    wchar_t self[MAX_PATH * 4] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
    if (length == 0 || length >= std::size(self))
        return 1;
    wchar_t folder[MAX_PATH * 4] = {};
    ::GetCurrentDirectoryW(static_cast<DWORD>(std::size(folder)), folder);
    std::wstring record = std::wstring(::GetCommandLineW()) + L"\n" + folder + L"\n";
    if (wchar_t* environment = ::GetEnvironmentStringsW())
    {
        for (const wchar_t* variable = environment; *variable; variable += std::wcslen(variable) + 1)
            record += std::wstring(variable) + L'\0';
        ::FreeEnvironmentStringsW(environment);
    }
    const std::wstring path = std::wstring(self, length) + L".args";
    const std::wstring partial = path + L".part";
    HANDLE file = ::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    ::WriteFile(file, record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)), &written, nullptr);
    ::CloseHandle(file);
    // Appears whole or not at all for a test that polls for it.
    ::MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    return 42;
}
