// A DLL that the tests put beside a copy of Peldra.exe under the name of a system DLL. Loaded, it
// leaves "<its own name>.loaded" in the folder PD_PLANTED_MARKERS names; it exports nothing, so a
// program that then calls into it fails.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t folder[MAX_PATH] = {};
    DWORD length = ::GetEnvironmentVariableW(L"PD_PLANTED_MARKERS", folder, MAX_PATH);
    wchar_t path[MAX_PATH] = {};
    DWORD pathLength = ::GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || pathLength == 0 || pathLength >= MAX_PATH)
        return TRUE;
    std::wstring own(path, pathLength);
    std::wstring marker =
        std::wstring(folder, length) + L"\\" + own.substr(own.find_last_of(L'\\') + 1) + L".loaded";
    HANDLE file = ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        ::CloseHandle(file);
    return TRUE;
}
