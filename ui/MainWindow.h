// The one top-level window of the graphical mode.
#pragma once

#include "core/Handles.h"
#include "core/host/RootConsent.h"
#include "core/Language.h"
#include "core/Level.h"
#include "core/TextId.h"
#include "release/base/InstallFolder.h"
#include "release/base/InstallState.h"
#include "release/install/ReleasePlan.h"
#include "release/manifest/Manifest.h"
#include "release/windows/WindowsInfo.h"
#include "ui/Button.h"
#include "ui/Canvas.h"
#include "ui/LogView.h"
#include "ui/MainCommandTable.h"
#include "ui/MainLayout.h"
#include "ui/MenuBar.h"
#include "ui/ProgressText.h"
#include "ui/WorkerMessages.h"

#include <windows.h>

#include <shobjidl.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace Pd::Ui
{

inline constexpr const wchar_t* MainWindowClass = L"Peldra.MainWindow";

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
    // The usage text is what the command-line help shows.
    MainWindow(HINSTANCE instance, std::wstring usageText);
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
    // The command table says what each command runs.
    friend std::span<const CommandRow> MainCommandRows();

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleWorkerMessage(UINT message, LPARAM lParam);
    void OnCreate();
    void OnClose();
    // The progress frame: at most one paint of the bar, and of the status line, per tick.
    void OnTimer();
    void RunFrames();
    void StopFrames();
    void ShowProgressReport();

    // Commands.
    void OnCommand(int id);
    void LaunchAndroid();
    void ChangeInstallFolder();
    void DropSourceMenu();
    void SetSource(const std::wstring& word);
    void EditCustomSource();
    void TurnBluetoothOn();
    void TurnBluetoothOff();
    void ToggleStartWithWindows();
    // Asks before root settings are stored that widen what was confirmed; true when they may be.
    bool ConfirmRoot(Pd::Host::RootChoice choice);
    void ToggleRoot();
    void ToggleSu();
    void ToggleTrayIcon();
    void SetHelloRemember(std::uint32_t minutes, TextId choice);
    void RegisterWithPlay();
    void SetLanguage(int id);
    void RebuildTexts();
    void ShowCommandLineHelp();
    void ReportError(const std::wstring& text);
    void OpenAddress(const std::wstring& address);

    // Menus and command state.
    void BuildMenus();
    void OnInitMenuPopup(HMENU popup);
    bool IsCommandEnabled(unsigned id) const;
    CommandState CurrentCommandState() const;
    MenuMarks CurrentMenuMarks(const CommandState& state) const;
    void UpdateButtons();
    HWND Control(MainCommand id) const { return ::GetDlgItem(window_, Id(id)); }
    ButtonLook& Look(MainCommand id) { return buttonLooks_[Id(id)]; }

    // Layout and painting.
    void Layout();
    void Paint(Canvas& canvas);
    void PaintHeader(Canvas& canvas);
    void PaintProgress(Canvas& canvas);
    void PaintHostCard(Canvas& canvas);
    void PaintComponents(Canvas& canvas);
    void RestoreWindowRect(int showCommand);
    void ToggleLog(bool visible);
    float ButtonWidth() const;
    float MinimumHeight(bool logVisible) const;
    bool ShowsRegistration() const;
    float Px(float dip) const { return fonts_.Px(dip); }
    void InvalidateRectF(const D2D1_RECT_F& rect);

    // Release check and host state.
    static std::wstring ReadSource();
    static std::wstring SourceLabel();
    // startHost: start the background host first when it does not run.
    void CheckRelease(bool keepProgress, bool startHost = false);
    void OnReleaseChecked(Pd::Core::WindowsInfo facts, std::optional<Pd::Core::Manifest> manifest,
                          std::wstring error);
    void UpdateComponents();
    void DescribeRelease();
    void SetTaskbarProgress(TBPFLAG state, int value);
    void RefreshHostState();

    // Operations on the worker.
    template <typename Body> void StartWorker(Body body);
    void ResetProgress();
    void StartInstall();
    void UpdateApp();
    void Uninstall();
    void StopTovik();
    void ToggleMagisk();
    void OnFinished(const OperationResult& result);
    void OnInstallFinished(bool ok, bool canceled, bool restart, const std::wstring& error);
    void OnUninstallFinished(bool ok, bool removeEverything, bool restart, std::uint64_t failedItems,
                             const std::wstring& error);
    void OnStopFinished(std::int32_t result);
    void OnMagiskFinished(bool ok, bool canceled, const std::wstring& error, const std::wstring& tag);
    void FinishLook(bool succeeded, bool failed);
    void Report(Pd::Level level, const std::wstring& text);

    HINSTANCE instance_;
    std::wstring usageText_;
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
    MainLayout layout_{};       // pixels
    float labelWidth_ = 80;     // pixels
    float registerWidth_ = 100; // pixels
    bool trackingMouse_ = false;
    std::optional<Pd::Core::WindowsInfo> windows_;
    // Shared read-only with an install worker, which needs the same manifest the window shows.
    std::shared_ptr<const Pd::Core::Manifest> manifest_;
    std::wstring releaseError_;
    Pd::Core::InstallFolder installFolder_;
    // Why Install and Uninstall do not act on the folder shown (an install another version made
    // that no elevated run recorded, or a recorded folder replaced) until one is chosen; empty
    // when they do.
    std::wstring folderRefusal_;
    Pd::Core::InstallState installState_;
    Pd::Core::ReleasePlan plan_;
    bool checking_ = false;
    bool holdResult_ = false; // the running check follows an operation whose result is shown
    bool logVisible_ = false;
    bool closing_ = false;
    std::uint64_t unseenLogLines_ = 0;
    Pd::Level statusLevel_ = Pd::Level::Info;
    std::wstring statusText_;
    bool busy_ = false;
    Pd::Core::Progress progress_;
    bool reportWaiting_ = false; // progress_ is not in the status line and taskbar yet
    ProgressLinePace linePace_;
    bool framesRunning_ = false;
    float shownFraction_ = 0;
    bool progressFailed_ = false;
    bool progressSucceeded_ = false;
    std::uint64_t bluetoothAdapter_ = 0;
    bool releaseChecked_ = false;
    bool bluetoothBridgeOn_ = false;
    bool bluetoothConnected_ = false;
    bool startWithWindows_ = false;
    std::uint32_t releaseState_ = 0;
    bool playRegistered_ = false;
    std::optional<std::wstring> helloBridgeHolder_;
    bool registrationRequested_ = false;
    std::wstring appUpdateVersion_;
    bool magiskRestartPending_ = false;
    bool reopenAfterStop_ = false;
    UniqueHandle hostChangedEvent_;
    UniqueWait hostChangedWait_;
    bool uninstalling_ = false;
    bool skipWindowRect_ = false;
    std::uint64_t progressStart_ = 0;
    std::jthread worker_;
};

} // namespace Pd::Ui
