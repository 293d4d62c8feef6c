// stop, launch, settings and register: one service call each, turned into a row and an exit code.
#include "cli/Commands.h"

#include "core/Elevation.h"
#include "core/host/RegistrationRequest.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "release/windows/TovikControl.h"

#include <chrono>

namespace Pd::Cli
{
namespace
{

// How long register waits for the host to open Google's page with an id it already has.
constexpr std::chrono::seconds PageOpenTimeout{10};

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
        console.Row(Level::Info, Core::Text(TextId::TovikNotRunning));
        return ExitCode::Ok;
    case Guest::VmStop::ShutDown:
        console.Row(Level::Success, Core::Text(TextId::TovikStopped));
        return ExitCode::Ok;
    case Guest::VmStop::Terminated:
        console.Row(Level::Warning, Core::Text(TextId::TovikStoppedAtOnce));
        return ExitCode::Ok;
    default:
        console.Row(Level::Error, Core::Text(TextId::TovikNotStopped));
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
    if (auto asked = Host::RequestRegistration(); !asked)
    {
        console.Row(Level::Error, asked.error());
        return ExitCode::Failed;
    }
    if (!DeviceIdKnown())
    {
        console.Row(Level::Info, Core::Text(TextId::StartingAndroidForGooglePage));
        return FromOpened(console, Install::OpenTovikStore());
    }
    switch (Host::WaitForIdCopy(PageOpenTimeout))
    {
    case Host::IdCopy::Copied:
        console.Row(Level::Success, Core::Text(TextId::IdCopiedForGooglePage));
        return ExitCode::Ok;
    case Host::IdCopy::NotCopied:
        console.Row(Level::Error, Core::Text(TextId::GooglePageOpenIdNotCopied));
        return ExitCode::Failed;
    default:
        console.Row(Level::Error,
                    Core::FormatText(TextId::GooglePageNotOpenedInTime, PageOpenTimeout.count()));
        return ExitCode::Failed;
    }
}

} // namespace Pd::Cli
