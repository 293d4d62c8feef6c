#include "cli/ReleaseReporting.h"

#include "core/Strings.h"
#include "core/Text.h"

#include <fmt/xchar.h>

namespace Pd::Cli
{
namespace
{

constexpr std::uint32_t CanceledText = 10008;

} // namespace

void ShowProgress(Console& console, const Core::Progress& progress)
{
    if (progress.position < 0 || progress.bytesTotal == 0)
        return;
    std::wstring detail = fmt::format(L"{} / {}", Core::FormatBytes(progress.bytesDone),
                                      Core::FormatBytes(progress.bytesTotal));
    if (progress.bytesPerSecond != 0)
        detail += fmt::format(L"  {}/s", Core::FormatBytes(progress.bytesPerSecond));
    // The bar follows the bytes of the current stage, not the position in the whole run.
    console.Progress(progress.stage,
                     static_cast<double>(progress.bytesDone) / static_cast<double>(progress.bytesTotal),
                     detail);
}

bool AnswerFromYes(Console& console, const std::wstring& question, bool yes)
{
    console.EndProgress();
    console.Write(Stream::Output, question + L"\n");
    console.Write(Stream::Output, yes ? L"  --yes: accepted\n" : L"  not accepted (add --yes to accept)\n");
    return yes;
}

ExitCode FailureExitCode(const std::wstring& error)
{
    return error == Core::DefaultText(CanceledText) ? ExitCode::Canceled : ExitCode::Failed;
}

} // namespace Pd::Cli
