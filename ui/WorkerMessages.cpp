#include "ui/WorkerMessages.h"

#include <algorithm>

namespace Pd::Ui
{

void PostProgress(HWND window, const Pd::Core::Progress& report)
{
    PostPayload(window, MessageProgress, std::make_unique<Pd::Core::Progress>(report));
}

void PostLogLine(HWND window, Pd::Level level, std::wstring text)
{
    PostPayload(window, MessageLogLine,
                std::make_unique<LogLineMessage>(LogLineMessage{level, std::move(text)}));
}

bool AskQuestion(HWND window, const std::wstring& question)
{
    return ::SendMessageW(window, MessageQuestion, 0, reinterpret_cast<LPARAM>(question.c_str())) == 1;
}

Pd::Core::Progress ByteProgressReport(const std::wstring& stage, std::uint64_t done, std::uint64_t total)
{
    Pd::Core::Progress report;
    report.stage = stage;
    // Done may pass total on a server that sends more than it announced.
    report.position =
        total ? static_cast<std::int32_t>(std::min<std::uint64_t>(done, total) * 1000 / total) : -1;
    report.bytesDone = done;
    report.bytesTotal = total;
    return report;
}

Pd::Core::Callbacks WindowCallbacks(HWND window)
{
    return Pd::Core::Callbacks{
        [window](const Pd::Core::Progress& report) { PostProgress(window, report); },
        [window](Pd::Level level, const std::wstring& text) { PostLogLine(window, level, text); },
        [window](const std::wstring& question) { return AskQuestion(window, question); },
    };
}

} // namespace Pd::Ui
