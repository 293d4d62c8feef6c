#include "DriverMain.h"

#include "core/ComApartment.h"

#include <commctrl.h>
#include <shellapi.h>

namespace Pd::UiDriver
{

void Say(const std::string& line)
{
    std::string text = line + "\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
                nullptr);
}

} // namespace Pd::UiDriver

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::wstring mode = count > 1 ? words[1] : L"";
    int number = count > 2 ? _wtoi(words[2]) : 0;
    ::LocalFree(words);
    Pd::Core::ComApartment apartment(Pd::Core::Apartment::SingleThreaded);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    return Pd::UiDriver::RunMode(instance, mode, number);
}
