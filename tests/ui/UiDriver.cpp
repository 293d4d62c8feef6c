// Drives the interface for the window check under Xvfb: "main" runs the main window and reports
// where its parts are and what its log pane holds; "dialog <rounds>" opens the modal dialog over
// an owner window again and again and reports each answer; "inspect" reports the state of the
// program's open window ("inspect 1": without its log); "shrink" asks that window for a size of
// 300 x 300 pixels, reports what it took instead and gives it its size back; "refused" chooses a
// Windows Hello setting while the settings key refuses writes and reports the log's last line;
// "record" records the folder the per-user InstallFolder value names as the one an earlier
// elevated install of the user went to, so that the window works there.
#include "core/Handles.h"
#include "core/Level.h"
#include "core/Settings.h"
#include "DriverMain.h"
#include "release/folders/InstallFolderChoice.h"
#include "ui/Dialog.h"
#include "ui/MainWindow.h"

#include <windows.h>

#include <sddl.h>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <string>
#include <vector>

namespace
{

using Pd::UiDriver::Say;

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    return out;
}

void SayRect(const std::string& name, HWND window)
{
    RECT r{};
    ::GetClientRect(window, &r);
    POINT origin{0, 0};
    ::ClientToScreen(window, &origin);
    Say(fmt::format("{} {} {} {} {}", name, origin.x, origin.y, r.right, r.bottom));
}

std::wstring Clipboard()
{
    std::wstring text;
    if (!::OpenClipboard(nullptr))
        return text;
    if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT))
        if (auto* chars = static_cast<const wchar_t*>(::GlobalLock(data)))
        {
            text = chars;
            ::GlobalUnlock(data);
        }
    ::CloseClipboard();
    return text;
}

Pd::Ui::MainWindow* mainWindow = nullptr;

void CALLBACK ReportLog(HWND, UINT, UINT_PTR, DWORD)
{
    static std::string last, lastClipboard;
    const auto& lines = mainWindow->Log().Lines();
    auto selection = lines.Selection();
    std::string state =
        fmt::format("log: lines={} first={} selection={} position={:.0f} follow={}", lines.Entries().size(),
                    lines.Entries().empty() ? "-" : Narrow(lines.Entries().front().text),
                    selection ? fmt::format("{}-{}", selection->first, selection->second) : "none",
                    mainWindow->Log().ScrollState().position, mainWindow->Log().ScrollState().follow ? 1 : 0);
    if (state != last)
        Say(last = state);
    std::wstring clip = Clipboard();
    std::string clipState =
        fmt::format("clipboard: rows={} text={}", std::count(clip.begin(), clip.end(), L'\n'),
                    Narrow(clip.substr(0, 120)));
    if (clipState != lastClipboard)
        Say(lastClipboard = clipState);
}

// Reports the program's window as another process sees it: each action button's text and
// whether it is enabled and shown, the window's client size, and the log pane's text, copied
// with the window's own Copy log command.
int Inspect(bool withLog)
{
    HWND window = ::FindWindowW(Pd::Ui::MainWindowClass, nullptr);
    if (!window)
    {
        Say("inspect: no window");
        return 1;
    }
    std::string buttons;
    for (int id : {1000, 1001, 1002, 1005, 1007, 1022, 1034, 1036})
    {
        HWND button = ::GetDlgItem(window, id);
        wchar_t text[128]{};
        ::GetWindowTextW(button, text, 128);
        buttons += fmt::format("|{}={}{}:{}", id, ::IsWindowEnabled(button) ? "on" : "off",
                               ::IsWindowVisible(button) ? "" : ",hidden", Narrow(text));
    }
    Say("inspect:" + buttons);
    SayRect("client", window);
    for (int id : {1000, 1001, 1002, 1007, 1016})
        SayRect(fmt::format("button {}", id), ::GetDlgItem(window, id));
    SayRect("logpane", ::GetDlgItem(window, 2001));
    if (!withLog)
        return 0;
    if (::OpenClipboard(nullptr))
    {
        ::EmptyClipboard();
        ::CloseClipboard();
    }
    ::SendMessageW(window, WM_COMMAND, 1014, 0);
    std::wstring text = Clipboard();
    for (std::size_t start = 0; start < text.size();)
    {
        std::size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        Say("logline: " + Narrow(line));
        start = end + 1;
    }
    return 0;
}

// Sizes the program's window as a user's drag would, from another process: SetWindowPos waits
// until the window's thread has applied what its minimum size left of the request.
int Shrink()
{
    HWND window = ::FindWindowW(Pd::Ui::MainWindowClass, nullptr);
    RECT normal{};
    if (!window || !::GetWindowRect(window, &normal))
    {
        Say("shrink: no window");
        return 1;
    }
    constexpr UINT Flags = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;
    if (!::SetWindowPos(window, nullptr, 0, 0, 300, 300, Flags))
        return 1;
    SayRect("client", window);
    SayRect("logpane", ::GetDlgItem(window, 2001));
    return ::SetWindowPos(window, nullptr, 0, 0, normal.right - normal.left, normal.bottom - normal.top,
                          Flags)
               ? 0
               : 1;
}

int RunMain(HINSTANCE instance, int lines)
{
    Pd::Ui::MainWindow window(instance, L"usage");
    mainWindow = &window;
    if (window.Create(SW_SHOWNORMAL) != Pd::Ui::CreateOutcome::Created)
        return 1;
    for (int at = 1; at <= lines; ++at)
        window.AppendLog(at % 4 == 0 ? Pd::Level::Warning : Pd::Level::Info,
                         fmt::format(L"line {} of the driver's log", at));
    ::UpdateWindow(window.Window());
    SayRect("client", window.Window());
    for (int id : {1007, 1005, 1022, 1001, 1002, 1000, 1016, 1035})
        SayRect(fmt::format("button {}", id), ::GetDlgItem(window.Window(), id));
    SayRect("logpane", window.Log().Window());
    for (const auto& menu : window.Bar().Menus())
        Say(fmt::format("caption {} {:.0f} {:.0f} {:.0f} {:.0f}", Narrow(menu.caption), menu.rect.left,
                        menu.rect.top, menu.rect.right, menu.rect.bottom));
    Say("main: up");
    ::SetTimer(nullptr, 0, 100, ReportLog);
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        if (::TranslateAcceleratorW(window.Window(), window.Accelerators(), &message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    Say("main: closed");
    return 0;
}

// Replaces the settings key's access list by one that refuses new values to everyone, and puts the
// old one back when it goes.
class RefusingSettings
{
public:
    explicit RefusingSettings(HKEY root)
    {
        ::RegCreateKeyExW(root, Pd::Core::SettingsKey, 0, nullptr, 0, READ_CONTROL | WRITE_DAC, nullptr,
                          key_.Put(), nullptr);
        DWORD size = static_cast<DWORD>(saved_.size());
        if (!key_ || ::RegGetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, saved_.data(), &size) != 0)
            return;
        PSECURITY_DESCRIPTOR refusing = nullptr;
        if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(D;;0x2;;;WD)(A;;KA;;;WD)",
                                                                   SDDL_REVISION_1, &refusing, nullptr))
        {
            refusing_ = ::RegSetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, refusing) == 0;
            ::LocalFree(refusing);
        }
    }
    ~RefusingSettings()
    {
        if (refusing_)
            ::RegSetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, saved_.data());
    }
    bool Refusing() const { return refusing_; }

private:
    Pd::UniqueRegKey key_;
    std::vector<BYTE> saved_ = std::vector<BYTE>(4096);
    bool refusing_ = false;
};

int RunRefusedSetting(HINSTANCE instance)
{
    Pd::Ui::MainWindow window(instance, L"usage");
    if (window.Create(SW_SHOWNORMAL) != Pd::Ui::CreateOutcome::Created)
        return 1;
    {
        // The per-user value and the machine-wide store the remember time is kept in.
        RefusingSettings user(HKEY_CURRENT_USER), machine(HKEY_LOCAL_MACHINE);
        if (!user.Refusing() || !machine.Refusing())
            return 1;
        ::SendMessageW(window.Window(), WM_COMMAND, 1029, 0); // Windows Hello: ask every time
    }
    const auto& entries = window.Log().Lines().Entries();
    Say("refused: " + (entries.empty() ? std::string("-") : Narrow(entries.back().text)));
    ::DestroyWindow(window.Window());
    return 0;
}

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == 7)
        Say("owner: clicked");
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void CALLBACK ReportDialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND dialog = ::FindWindowW(Pd::Ui::DialogClass, nullptr);
    if (!dialog || !::IsWindowVisible(dialog))
        return;
    ::KillTimer(nullptr, timer);
    HWND owner = ::GetWindow(dialog, GW_OWNER);
    SayRect("dialog", dialog);
    for (int id : {3, 1, 2})
        if (HWND button = ::GetDlgItem(dialog, id))
            SayRect(fmt::format("dialog button {}", id), button);
    Say(fmt::format("dialog: open owner-enabled={}", ::IsWindowEnabled(owner) ? 1 : 0));
}

int RunDialogs(HINSTANCE instance, int rounds)
{
    WNDCLASSW ownerClass{};
    ownerClass.lpfnWndProc = OwnerProc;
    ownerClass.hInstance = instance;
    ownerClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH));
    ownerClass.lpszClassName = L"DriverOwner";
    ::RegisterClassW(&ownerClass);
    HWND owner = ::CreateWindowExW(0, L"DriverOwner", L"Driver owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20,
                                   20, 900, 700, nullptr, nullptr, instance, nullptr);
    HWND button = ::CreateWindowExW(0, L"BUTTON", L"Owner", WS_CHILD | WS_VISIBLE, 10, 10, 100, 30, owner,
                                    reinterpret_cast<HMENU>(7), instance, nullptr);
    SayRect("owner button", button);
    for (int round = 1; round <= rounds; ++round)
    {
        Pd::Ui::DialogSpec spec;
        spec.title = L"Change to Windows";
        spec.text = L"Peldra turns on a Windows feature. Windows restarts afterwards.";
        spec.fields = {{L"Name", L"  \"first value\" ", L"", nullptr}};
        spec.thirdText = L"Later";
        ::SetTimer(nullptr, 0, 100, ReportDialog);
        auto result = Pd::Ui::ShowDialog(owner, spec);
        Say(fmt::format("dialog: result round={} button={} value={}", round, result.button,
                        result.values.empty() ? "-" : Narrow(result.values[0])));
    }
    ::DestroyWindow(owner);
    return 0;
}

} // namespace

int Pd::UiDriver::RunMode(HINSTANCE instance, const std::wstring& mode, int number)
{
    if (mode == L"main")
        return RunMain(instance, number);
    if (mode == L"dialog")
        return RunDialogs(instance, number);
    if (mode == L"inspect")
        return Inspect(number == 0);
    if (mode == L"shrink")
        return Shrink();
    if (mode == L"refused")
        return RunRefusedSetting(instance);
    if (mode == L"record")
    {
        auto recorded = Pd::Install::RecordInstallFolder(
            Pd::Core::InstallFolder::From(Pd::Core::ReadUserString(L"InstallFolder", L"")));
        Say(recorded ? "record: done" : "record: " + Narrow(recorded.error()));
        return recorded ? 0 : 1;
    }
    return 2;
}
