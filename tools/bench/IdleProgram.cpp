// The do-nothing program the host's idle cost is measured against: a window-less process that
// waits in a message loop for the given milliseconds and ends. DLLs named after the time are
// loaded first, so that the benchmark can also show what loading the host's DLLs alone costs
// under the same Wine.
#include <windows.h>

#include <cwchar>

int wmain(int count, wchar_t** words)
{
    const ULONGLONG end = ::GetTickCount64() + (count > 1 ? std::wcstoull(words[1], nullptr, 10) : 60000);
    for (int at = 2; at < count; ++at)
        ::LoadLibraryW(words[at]); // one Wine lacks stays unloaded, as it would for the host
    MSG message;
    for (ULONGLONG now = ::GetTickCount64(); now < end; now = ::GetTickCount64())
    {
        if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT) ==
            WAIT_TIMEOUT)
            break;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&message);
    }
    return 0;
}
