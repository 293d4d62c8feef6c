// stop, launch, settings and register: one service call each, turned into a row and an exit code.
#include "cli/Commands.h"

#include "core/Elevation.h"
#include "core/Handles.h"
#include "core/release/TovikControl.h"
#include "core/Settings.h"
#include "core/Text.h"

#include <windows.h>

namespace Pd::Cli
{
namespace
{

// Created by the background host; setting it asks the host to register this PC with Google Play.
constexpr const wchar_t* RegisterEventName = L"Local\\Peldra.Host.Register";

ExitCode FromOpened(Console& console, const Result<>& opened)
{
    if (opened)
        return ExitCode::Ok;
    console.Row(Level::Error, opened.error());
    return ExitCode::Failed;
}

// Android handed its device id to the host once the host stored GooglePlayIdKnown as non-zero.
bool DeviceIdKnown()
{
    return Core::ReadUserDword(L"GooglePlayIdKnown").value_or(0) != 0;
}

} // namespace

ExitCode StopTovik(Console& console, const Args&)
{
    if (!Core::IsElevated())
    {
        console.Row(Level::Error, NeedsAdministratorText);
        return ExitCode::Unavailable;
    }
    switch (Install::Stop())
    {
    case Guest::VmStop::NotRunning:
        console.Row(Level::Info, Core::Text(14026));
        return ExitCode::Ok;
    case Guest::VmStop::ShutDown:
        console.Row(Level::Success, Core::Text(14024));
        return ExitCode::Ok;
    case Guest::VmStop::Terminated:
        console.Row(Level::Warning, Core::Text(14025));
        return ExitCode::Ok;
    default:
        console.Row(Level::Error, Core::Text(14027));
        return ExitCode::Failed;
    }
}

ExitCode Launch(Console& console, const Args&)
{
    return FromOpened(console, Install::OpenTovikStore());
}

ExitCode OpenSettings(Console& console, const Args&)
{
    return FromOpened(console, Install::OpenTovikSettings());
}

ExitCode Register(Console& console, const Args&)
{
    UniqueHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, RegisterEventName));
    if (!event)
    {
        console.Row(Level::Error, Core::Text(14031));
        return ExitCode::Failed;
    }
    // The host opens Google's page; it may come to the front only with this process's consent.
    ::AllowSetForegroundWindow(ASFW_ANY);
    ::SetEvent(event.Get());
    event = {};

    if (DeviceIdKnown())
    {
        console.Row(Level::Success, Core::Text(14029));
        return ExitCode::Ok;
    }
    console.Row(Level::Info, Core::Text(14030));
    return FromOpened(console, Install::OpenTovikStore());
}

} // namespace Pd::Cli
