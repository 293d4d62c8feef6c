#include "host/hello/RootChange.h"

#include "core/Elevation.h"
#include "core/SecurityPrompt.h"
#include "core/Text.h"

#include <cwchar>

namespace Pd::Bio
{
namespace
{

BOOL CALLBACK AnswerNo(HWND window, LPARAM)
{
    wchar_t className[8]{};
    if (::GetClassNameW(window, className, 8) && std::wcscmp(className, L"#32770") == 0)
        ::PostMessageW(window, WM_COMMAND, IDNO, 0);
    return TRUE;
}

} // namespace

std::wstring RootChangeText(const Host::RootSettings& from, const Host::RootSettings& to)
{
    const Host::RootWidening widening = Host::WideningOf(from, to);
    return Core::SecurityPromptText([&widening](Core::Wording wording) {
        std::wstring changes;
        auto add = [&](TextId id) { changes += (changes.empty() ? L"" : L"\n") + Core::Text(id, wording); };
        if (widening.root)
            add(TextId::RootTurnsOn);
        if (widening.appsAsk && !widening.androidPrompt) // Magisk's own su comes with its prompt
            add(TextId::SuTurnsOn);
        if (widening.androidPrompt)
            add(TextId::MagiskModeTurnsOn);
        return Core::FormatText(wording, TextId::ConfirmRootChange, changes);
    });
}

bool ConfirmRootChange(const Host::RootSettings& from, const Host::RootSettings& to, std::stop_token stop,
                       const OwnDialog& ownDialog)
{
    const std::wstring text = RootChangeText(from, to);
    return Detail::ConfirmWith(
        CheckAvailability(), [&] { return RequestVerification(text, stop); },
        [&] { return !stop.stop_requested() && ownDialog && ownDialog(text); });
}

bool ConfirmRootSettings(const Host::RootSettings& to, std::stop_token stop, const OwnDialog& ownDialog)
{
    const Host::RootSettings confirmed = Host::ConfirmedRootSettings();
    if (!Host::Widens(confirmed, to) || !Core::IsElevated())
        return true;
    if (!ConfirmRootChange(confirmed, to, std::move(stop), ownDialog))
        return false;
    static_cast<void>(Host::RecordConfirmedRootSettings(to)); // unrecorded, the host asks once more
    return true;
}

bool AskInMessageBox(HWND owner, const std::wstring& text, std::stop_token stop)
{
    if (stop.stop_requested())
        return false;
    // A stop answers the box of this thread, as its own No button would.
    std::stop_callback answerNo(
        stop, [thread = ::GetCurrentThreadId()] { ::EnumThreadWindows(thread, &AnswerNo, 0); });
    const std::wstring caption = Core::Text(TextId::RootConfirmTitle);
    const UINT topmost = owner ? 0 : MB_TOPMOST;
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(),
                         MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2 | MB_SETFOREGROUND | topmost) == IDYES;
}

namespace Detail
{

bool ConfirmWith(Availability availability, const std::function<VerifyResult()>& verify,
                 const std::function<bool()>& ownDialog)
{
    if (availability == Availability::DeviceBusy)
        return false;
    if (availability != Availability::Available)
        return ownDialog();
    switch (verify())
    {
    case VerifyResult::Verified:
        return true;
    case VerifyResult::NotAvailable:
        return ownDialog();
    default:
        return false;
    }
}

} // namespace Detail

} // namespace Pd::Bio
