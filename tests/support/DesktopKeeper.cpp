// Keeps the desktop of a test run's Wine prefix. Wine's desktop process takes the standard error
// of the program that first needs the desktop and lives for as long as any program uses it, so a
// test whose program came first would find its output pipe held open by it. Started by
// tools/wine-prefix.sh with every stream on /dev/null, this program is that first one, and stays
// a user of the desktop until the prefix's server ends it.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    ::GetDesktopWindow();
    ::Sleep(INFINITE);
    return 0;
}
