// bluetooth and hello: one bridge of the background host in the foreground of a console until
// Ctrl+C, with the program log on the console; hello also checks and tests Windows Hello and sets
// how long a confirmation is remembered.
#include "cli/Commands.h"

#include "bt/Bridge.h"
#include "cli/HelloRemember.h"
#include "core/Elevation.h"
#include "core/Handles.h"
#include "core/host/HostObjects.h"
#include "core/host/HostSettings.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "guest/AndroidVm.h"
#include "host/hello/HelloBridge.h"
#include "host/hello/WindowsHello.h"

#include <fmt/xchar.h>

#include <windows.h>

#include <stop_token>

namespace Pd::Cli
{
namespace
{

// One command per process: the sources are never reset.
std::stop_source& BluetoothStop()
{
    static std::stop_source source;
    return source;
}

std::stop_source& HelloStop()
{
    static std::stop_source source;
    return source;
}

BOOL WINAPI BluetoothCtrlHandler(DWORD)
{
    BluetoothStop().request_stop();
    return TRUE;
}

BOOL WINAPI HelloCtrlHandler(DWORD)
{
    HelloStop().request_stop();
    return TRUE;
}

bool HostRuns()
{
    return static_cast<bool>(UniqueHandle(::OpenMutexW(SYNCHRONIZE, FALSE, Host::HostMutexName)));
}

// Runs a bridge with the program log on the console and the control handler installed.
template <typename Bridge>
int RunInConsole(Console& console, PHANDLER_ROUTINE handler, std::stop_source& stop, Bridge bridge)
{
    Core::SetLogSink([&console](std::string_view line) {
        console.EndProgress();
        console.Write(Stream::Output, Core::FromUtf8(line) + L"\n");
    });
    ::SetConsoleCtrlHandler(handler, TRUE);
    const int result = static_cast<int>(bridge(stop.get_token()));
    ::SetConsoleCtrlHandler(handler, FALSE);
    Core::SetLogSink({});
    return result;
}

const wchar_t* VerifyResultWord(Bio::VerifyResult result)
{
    switch (result)
    {
    case Bio::VerifyResult::Verified:
        return L"verified";
    case Bio::VerifyResult::Canceled:
        return L"canceled";
    case Bio::VerifyResult::NotAvailable:
        return L"not available";
    case Bio::VerifyResult::Busy:
        return L"busy";
    default:
        return L"failed";
    }
}

// Writes the availability line; true when Windows Hello is available.
bool ShowAvailability(Console& console)
{
    const Bio::Availability availability = Bio::CheckAvailability();
    console.Write(Stream::Output, fmt::format(L"Windows Hello  {}\n", Bio::AvailabilityText(availability)));
    return availability == Bio::Availability::Available;
}

ExitCode TestHello(Console& console)
{
    if (!ShowAvailability(console))
        return ExitCode::Unavailable;
    const Bio::VerifyResult result = Bio::RequestVerification(L"Peldra Windows Hello test", {});
    const bool verified = result == Bio::VerifyResult::Verified;
    console.Row(verified ? Level::Success : Level::Warning,
                fmt::format(L"Result: {}", VerifyResultWord(result)));
    if (verified)
        return ExitCode::Ok;
    return result == Bio::VerifyResult::Canceled ? ExitCode::Canceled : ExitCode::Failed;
}

} // namespace

ExitCode Bluetooth(Console& console, const Args& args)
{
    if (!Core::IsElevated())
    {
        console.Row(Level::Error, NeedsAdministratorText);
        return ExitCode::Unavailable;
    }
    if (args.listVms)
    {
        console.Write(Stream::Output, Guest::EnumerateComputeSystems() + L"\n");
        return ExitCode::Ok;
    }
    if (HostRuns() && Host::BluetoothEnabled())
    {
        console.Row(Level::Warning,
                    L"the Peldra background host already serves Bluetooth (turn it off in the "
                    L"window's Bluetooth menu first)");
        return ExitCode::Unavailable;
    }
    const int result = RunInConsole(console, &BluetoothCtrlHandler, BluetoothStop(), &Bt::RunBridge);
    return result == static_cast<int>(Bt::BridgeResult::Stopped) ? ExitCode::Ok : ExitCode::Unavailable;
}

ExitCode Hello(Console& console, const Args& args)
{
    if (!args.positional.empty() && Core::ToLower(args.positional.front()) == L"remember")
    {
        Args rest = args;
        rest.positional.erase(rest.positional.begin());
        return HelloRemember(console, rest);
    }
    if (args.check)
        return ShowAvailability(console) ? ExitCode::Ok : ExitCode::Unavailable;
    if (args.test)
        return TestHello(console);
    if (!Core::IsElevated())
    {
        console.Row(Level::Error, NeedsAdministratorText);
        return ExitCode::Unavailable;
    }
    if (HostRuns())
    {
        console.Row(Level::Warning, L"the Peldra background host already serves Windows Hello (see the log "
                                    L"in %LOCALAPPDATA%\\Peldra)");
        return ExitCode::Unavailable;
    }
    const int result = RunInConsole(console, &HelloCtrlHandler, HelloStop(), &Bio::Hello::RunBridge);
    return result == 0 ? ExitCode::Ok : ExitCode::Unavailable;
}

ExitCode HelloRemember(Console& console, const Args& args)
{
    if (args.positional.empty())
    {
        const std::uint32_t stored = Host::HelloRememberMinutes();
        console.Write(Stream::Output,
                      fmt::format(L"Remember Windows Hello  {}\n", HelloRememberText(stored)));
        return ExitCode::Ok;
    }
    const std::wstring word = Core::ToLower(args.positional.front());
    std::uint32_t value = 0;
    if (word == L"5")
        value = 5;
    else if (word == L"30")
        value = 30;
    else if (word == L"lock")
        value = HelloRememberUntilLocked;
    else if (word != L"off")
    {
        console.Write(Stream::Error, L"hello remember: off, 5, 30 or lock\n");
        return ExitCode::Usage;
    }
    if (value != 0 && !args.yes)
    {
        console.Write(
            Stream::Output,
            L"After one Windows Hello confirmation, Android apps that ask for a fingerprint (a bank or a "
            L"broker,\nfor example) get in without asking again; so does anyone using this PC meanwhile. "
            L"Locking Windows,\nsleep with a sign-in and signing out end it; root for Android apps still "
            L"asks every time.\n");
        console.Row(Level::Warning, L"add --yes to accept this at your own responsibility");
        return ExitCode::Canceled;
    }
    // The running host's bridge reads the value at each request: nothing to signal.
    if (auto stored = Host::SetHelloRememberMinutes(value); !stored)
    {
        console.Row(Level::Error, stored.error());
        return ExitCode::Failed;
    }
    console.Row(Level::Success, fmt::format(L"Remember Windows Hello: {}", HelloRememberText(value)));
    return ExitCode::Ok;
}

} // namespace Pd::Cli
