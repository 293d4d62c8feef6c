// The install's registration step, driven through the real Windows Runtime adapters (the test
// classes stand for Windows' own under Wine), for what the shipped exe cannot reach there:
//   WinRtRoadDriver register <release folder>   dependencies added from the folder, the folder
//                                               registered in development mode, Tovik's settings
//                                               seeded; prints each log line, each setting's
//                                               presence afterwards and the test classes' calls;
//                                               1 and "[FAIL] <text>" when a step fails
//   WinRtRoadDriver bluetooth <port>            the default adapter read, then the H4 session
//                                               served on a TCP connection to 127.0.0.1:<port>
//                                               until the peer closes it, then the test classes'
//                                               calls; 1 when either fails
#include "bt/Session.h"
#include "platform/Bluetooth.h"
#include "platform/PackageManager.h"
#include "release/windows/PackageDeployment.h"
#include "release/windows/Packages.h"
#include "release/windows/TovikControl.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <string>

namespace
{

// What the test classes were asked, as they noted it.
void PrintCalls()
{
    wchar_t calls[8192];
    const DWORD length = ::GetEnvironmentVariableW(L"PD_TEST_CALLS", calls, 8192);
    std::wprintf(L"calls:\n%ls", length < 8192 ? std::wstring(calls, length).c_str() : L"");
}

int Register(const std::wstring& folder)
{
    const Pd::Core::LogText log = [](const std::wstring& line) { std::wprintf(L"log: %ls\n", line.c_str()); };
    Pd::Result<> done = Pd::Install::InstallDependencies(folder, log);
    if (done)
        done = Pd::Install::RegisterPackage(folder, log);
    if (!done)
    {
        std::wprintf(L"[FAIL] %ls\n", done.error().c_str());
        return 1;
    }
    Pd::Install::SeedTovikSettings();
    for (const wchar_t* name : {L"DeveloperModeEnabled", L"OptionalDiagnosticDataEnabled"})
    {
        auto present = Pd::Platform::Packages()->HasSettingValue(Pd::Install::TovikFamilyName, name);
        std::wprintf(L"setting %ls %ls\n", name,
                     !present   ? L"unreadable"
                     : *present ? L"present"
                                : L"absent");
    }
    PrintCalls();
    return 0;
}

int ServeBluetooth(const std::wstring& port)
{
    auto adapter = Pd::Platform::DefaultBluetoothAdapter();
    if (!adapter || *adapter == 0)
    {
        std::wprintf(L"[FAIL] no default adapter\n");
        return 1;
    }
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 1;
    SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = ::htons(static_cast<u_short>(std::wcstoul(port.c_str(), nullptr, 10)));
    peer.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    if (socket == INVALID_SOCKET || ::connect(socket, reinterpret_cast<sockaddr*>(&peer), sizeof(peer)) != 0)
    {
        std::wprintf(L"[FAIL] cannot connect to port %ls\n", port.c_str());
        if (socket != INVALID_SOCKET)
            ::closesocket(socket);
        return 1;
    }
    std::wprintf(L"adapter %012llX\n", static_cast<unsigned long long>(*adapter));
    std::fflush(stdout);
    Pd::Bt::RunSession(socket, *adapter, {});
    ::closesocket(socket);
    ::WSACleanup();
    PrintCalls();
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wstring(argv[1]) == L"register")
        return Register(argv[2]);
    if (argc == 3 && std::wstring(argv[1]) == L"bluetooth")
        return ServeBluetooth(argv[2]);
    std::fwprintf(stderr, L"usage: WinRtRoadDriver register <release folder> | bluetooth <port>\n");
    return 2;
}
