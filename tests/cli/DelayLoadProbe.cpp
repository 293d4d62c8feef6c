// Through Peldra.exe's delay-load helper: "function" calls a function version.dll lacks, "dll" one
// of a DLL that does not exist (each must end with the helper's text); "default <dll>" loads a
// DLL by the ordinary search, as the loader resolves a static import, and prints its path.
#include <windows.h>

#include <cstdio>
#include <string>

extern "C" __declspec(dllimport) DWORD WINAPI PdNoSuchFunction();
extern "C" __declspec(dllimport) DWORD WINAPI PdNoSuchLibraryFunction();

int wmain(int count, wchar_t** words)
{
    std::wstring mode = count > 1 ? words[1] : L"";
    if (mode == L"function" || mode == L"dll")
        return static_cast<int>(mode == L"dll" ? PdNoSuchLibraryFunction() : PdNoSuchFunction()) + 100;
    wchar_t path[MAX_PATH] = {};
    HMODULE module = mode == L"default" && count > 2 ? ::LoadLibraryW(words[2]) : nullptr;
    if (module == nullptr || ::GetModuleFileNameW(module, path, MAX_PATH) == 0)
        return 1;
    std::printf("%ls\n", path);
    return 0;
}
