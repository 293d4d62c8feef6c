// The request thread: asks the user with Windows Hello whether Android may run a command as root.
#include "host/elevation/Connection.h"

#include "core/ComApartment.h"

#include "core/host/TrayHooks.h"
#include "core/Log.h"
#include "core/LogEscape.h"
#include "core/Text.h"
#include "host/elevation/ElevationBridge.h"
#include "host/hello/WindowsHello.h"

#include <fmt/format.h>
#include <objbase.h>

namespace Pd::Bio::Elevation
{
namespace
{

Answer AnswerOf(VerifyResult result)
{
    switch (result)
    {
    case VerifyResult::Verified:
        return Answer::Granted;
    case VerifyResult::NotAvailable:
        return Answer::NotSetUp;
    case VerifyResult::Busy:
        return Answer::Busy;
    default:
        return Answer::Denied;
    }
}

} // namespace

void AskForRoot(Connection& connection, std::stop_token cancel, const Request& request)
{
    Core::ComApartment apartment(Core::Apartment::Multithreaded);
    const std::wstring caller = DescribeCaller(request);
    const std::wstring command = DescribeCommand(request);
    const std::wstring uid = std::to_wstring(request.uid);
    // Android's own strings reach the log only escaped, so that they cannot start a line of their own.
    Core::Log(fmt::format(
        "elevate: {} (uid {}) asks for root: {}", request.app.empty() ? "?" : Core::EscapeForLog(request.app),
        request.uid, request.command.empty() ? "<interactive shell>" : Core::EscapeForLog(request.command)));
    const Answer answer = AnswerOf(RequestVerification(RootRequestText(request), cancel));
    Core::Log(fmt::format("elevate: request {} {}", request.id, AnswerLogWord(answer)));
    // Free before the answer goes out: Android may send its next request the moment it reads it.
    connection.busy = false;
    SendAnswer(connection, answer, request.id);
    if (answer == Answer::Granted)
        Host::CallBalloonHook(Core::Text(TextId::RootGranted),
                              Core::FormatText(TextId::RootGrantedDetail, caller, uid, command));
}

} // namespace Pd::Bio::Elevation
