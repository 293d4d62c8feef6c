// A DLL the tests plant beside a copy of Peldra.exe under a system DLL's name. Loaded, it leaves
// "<its own file name>.loaded" in the folder PD_PLANTED_MARKERS names; it exports nothing.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    wchar_t folder[MAX_PATH] = {}, path[MAX_PATH] = {};
    DWORD length =
        reason == DLL_PROCESS_ATTACH ? ::GetEnvironmentVariableW(L"PD_PLANTED_MARKERS", folder, MAX_PATH) : 0;
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
