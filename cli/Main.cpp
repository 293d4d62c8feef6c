// Process entry of Peldra.exe.
#include "core/Handles.h"
#include "core/Version.h"

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <string_view>

namespace
{

// Writes UTF-8 text to a standard stream; a process without one writes nothing.
void WriteStd(DWORD which, std::string_view text)
{
    HANDLE out = ::GetStdHandle(which);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string Utf8(std::wstring_view text)
{
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string result(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                              nullptr, nullptr);
    return result;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int argc = 0;
    Pd::UniqueLocal args(::CommandLineToArgvW(::GetCommandLineW(), &argc));
    auto* argv = static_cast<LPWSTR*>(args.Get());
    std::wstring command = (argv != nullptr && argc > 1) ? argv[1] : L"";

    if (command == L"version" || command == L"--version")
    {
        WriteStd(STD_OUTPUT_HANDLE, "Peldra " + Utf8(Pd::ProgramVersion) + "\n");
        return 0;
    }
    WriteStd(STD_ERROR_HANDLE, "unknown command " + Utf8(command) + "\n");
    return 2;
}
