// The one top-level window of the graphical mode.
#pragma once

#include "core/Handles.h"
#include "core/Language.h"
#include "core/Level.h"
#include "ui/Button.h"
#include "ui/Canvas.h"
#include "ui/LogView.h"
#include "ui/MainLayout.h"
#include "ui/MenuBar.h"

#include <windows.h>

#include <shobjidl.h>

#include <string>
#include <unordered_map>
#include <vector>

namespace Pd::Ui
{

inline constexpr const wchar_t* MainWindowClass = L"Peldra.MainWindow";

// Private messages the worker and the host-change wait send to the window.
inline constexpr UINT MessageLogLine = WM_APP + 1;  // lParam: heap LogLineMessage
inline constexpr UINT MessageQuestion = WM_APP + 4; // lParam: the sender's question text

struct LogLineMessage
{
    Pd::Level level = Pd::Level::Info;
    std::wstring text;
};

enum class CreateOutcome
{
    Created,
    AnotherWindow, // a window of another instance exists and was brought forward
    Failed,
};

using UniqueAccelerators = Unique<HACCEL, &::DestroyAcceleratorTable>;
using UniqueIcon = Unique<HICON, &::DestroyIcon>;

class MainWindow
{
public:
    explicit MainWindow(HINSTANCE instance);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    CreateOutcome Create(int showCommand);

    HWND Window() const { return window_; }
    HACCEL Accelerators() const { return accelerators_.Get(); }
    MenuBar& Bar() { return menuBar_; }
    LogView& Log() { return logView_; }

    void AppendLog(Pd::Level level, std::wstring text);
    void SetStatus(Pd::Level level, std::wstring text);

    static LRESULT CALLBACK StaticWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCreate();
    void OnCommand(int id);
    void OnClose();
    void BuildMenus();
    void Layout();
    void Paint(Canvas& canvas);
    void RestoreWindowRect(int showCommand);
    void ToggleLog(bool visible);
    float ButtonWidth() const;
    float MinimumHeight(bool logVisible) const;
    float Px(float dip) const { return fonts_.Px(dip); }

    HINSTANCE instance_;
    HWND window_ = nullptr;
    Fonts fonts_;
    MenuBar menuBar_;
    HMENU sourceMenu_ = nullptr;
    HMENU logMenu_ = nullptr;
    std::vector<Pd::Core::LanguageMenuItem> languages_;
    UniqueAccelerators accelerators_;
    UniqueIcon largeIcon_, smallIcon_;
    LogView logView_;
    std::unordered_map<int, ButtonLook> buttonLooks_{16};
    ComPtr<ITaskbarList3> taskbar_;
    UINT taskbarButtonCreated_ = 0;
    MainLayout layout_{}; // pixels
    bool trackingMouse_ = false;
    bool logVisible_ = false;
    bool closing_ = false;
    std::uint64_t unseenLogLines_ = 0;
    Pd::Level statusLevel_ = Pd::Level::Info;
    std::wstring statusText_;
    bool busy_ = false;
    bool uninstalling_ = false;
    bool skipWindowRect_ = false;
};

} // namespace Pd::Ui
