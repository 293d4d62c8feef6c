#include "host/hello/RootChange.h"

#include "core/Elevation.h"
#include "core/Handles.h"
#include "core/SecurityPrompt.h"
#include "core/Text.h"

#include <cwchar>
#include <string>

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

using UniqueHook = Unique<HHOOK, &::UnhookWindowsHookEx>;

constexpr UINT_PTR EnableTimer = 1;

// The box this thread's hook is waiting for; one box at a time per thread.
thread_local HWND heldBox = nullptr;

void CALLBACK EnableBox(HWND box, UINT, UINT_PTR timer, DWORD)
{
    ::KillTimer(box, timer);
    ::EnableWindow(box, TRUE);
    if (HWND no = ::GetDlgItem(box, IDNO))
        ::SetFocus(no);
}

// Takes the access key off the Yes button, whatever the language's text, so that only a click,
// or Tab to it and a key, says Yes.
void DropAccessKey(HWND button)
{
    wchar_t text[64]{};
    const int length = ::GetWindowTextW(button, text, 64);
    std::wstring plain;
    for (int i = 0; i < length; ++i)
        if (text[i] != L'&')
            plain += text[i];
    ::SetWindowTextW(button, plain.c_str());
}

LRESULT CALLBACK OnBoxActivate(int code, WPARAM wParam, LPARAM lParam)
{
    HWND window = reinterpret_cast<HWND>(wParam);
    wchar_t className[8]{};
    if (code == HCBT_ACTIVATE && heldBox == nullptr && ::GetClassNameW(window, className, 8) &&
        std::wcscmp(className, L"#32770") == 0)
    {
        heldBox = window;
        if (HWND yes = ::GetDlgItem(window, IDYES))
            DropAccessKey(yes);
        ::SendMessageW(window, DM_SETDEFID, IDNO, 0); // as MB_DEFBUTTON2 asks; Wine leaves IDOK
        ::EnableWindow(window, FALSE);
        ::SetTimer(window, EnableTimer, YesDelayMs, &EnableBox);
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// Holds the next message box of this thread disabled for its first second, for as long as it
// lives. Without the hook the box is shown as it is: still with No as its default.
class HoldFirstInput
{
public:
    HoldFirstInput() : hook_(::SetWindowsHookExW(WH_CBT, &OnBoxActivate, nullptr, ::GetCurrentThreadId()))
    {
        heldBox = nullptr;
    }
    HoldFirstInput(const HoldFirstInput&) = delete;
    HoldFirstInput& operator=(const HoldFirstInput&) = delete;
    ~HoldFirstInput() { heldBox = nullptr; }

private:
    UniqueHook hook_;
};

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

bool ConfirmRootSettings(Host::RootChoice choice, std::stop_token stop, const OwnDialog& ownDialog)
{
    if (!Core::IsElevated())
        return true;
    const Host::RootSettings confirmed = Host::ConfirmedRootSettings();
    const Host::RootSettings to = Host::RecordAfterChoice(confirmed, choice);
    if (Host::Widens(confirmed, to) && !ConfirmRootChange(confirmed, to, std::move(stop), ownDialog))
        return false;
    // What the user chose here: unrecorded, the host asks once more.
    if (to != confirmed)
        static_cast<void>(Host::RecordConfirmedRootSettings(to));
    // The user turned a setting on in Peldra: the host may ask again for what it saw declined.
    if (choice.on)
        static_cast<void>(Host::CountRootChoice());
    return true;
}

bool AskInMessageBox(HWND owner, const std::wstring& text, std::stop_token stop)
{
    if (stop.stop_requested())
        return false;
    // A stop answers the box of this thread, as its own No button would.
    std::stop_callback answerNo(
        stop, [thread = ::GetCurrentThreadId()] { ::EnumThreadWindows(thread, &AnswerNo, 0); });
    HoldFirstInput hold;
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
