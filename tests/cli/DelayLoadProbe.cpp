// Calls through Peldra.exe's delay-load helper, for the end-to-end test of it: "function" calls a
// function that version.dll lacks and "dll" one of a DLL that does not exist (each must end the
// process with the helper's text); "default <dll>" loads a DLL by the ordinary search, as the
// loader resolves a static import, and prints where it came from.
#include <windows.h>

#include <cstdio>
#include <string>

extern "C"
{
    __declspec(dllimport) DWORD WINAPI PdNoSuchFunction();
    __declspec(dllimport) DWORD WINAPI PdNoSuchLibraryFunction();
}

int wmain(int count, wchar_t** words)
{
    std::wstring mode = count > 1 ? words[1] : L"";
    if (mode == L"function")
        return static_cast<int>(PdNoSuchFunction()) + 100;
    if (mode == L"dll")
        return static_cast<int>(PdNoSuchLibraryFunction()) + 100;
    if (mode != L"default" || count < 3)
        return 2;
    HMODULE module = ::LoadLibraryW(words[2]);
    wchar_t path[MAX_PATH] = {};
    DWORD length = module != nullptr ? ::GetModuleFileNameW(module, path, MAX_PATH) : 0;
    if (length == 0 || length >= MAX_PATH)
        return 1;
    std::printf("%ls\n", path);
    return 0;
}
