// What the worker thread sends to the main window: log lines, progress, questions, the result of
// an operation and of a release check. Every posted payload belongs to the window once posted;
// when posting fails the sender frees it at once.
#pragma once

#include "core/Level.h"
#include "release/base/Callbacks.h"
#include "release/manifest/Manifest.h"
#include "release/windows/WindowsInfo.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace Pd::Ui
{

inline constexpr UINT MessageLogLine = WM_APP + 1;      // lParam: heap LogLineMessage
inline constexpr UINT MessageProgress = WM_APP + 2;     // lParam: heap Pd::Core::Progress
inline constexpr UINT MessageFinished = WM_APP + 3;     // lParam: heap OperationResult
inline constexpr UINT MessageQuestion = WM_APP + 4;     // lParam: the sender's question text (sent)
inline constexpr UINT MessageReleaseCheck = WM_APP + 5; // lParam: heap ReleaseCheckResult
inline constexpr UINT MessageHostChanged = WM_APP + 6;  // no payload

struct LogLineMessage
{
    Pd::Level level = Pd::Level::Info;
    std::wstring text;
};

struct OperationResult
{
    bool ok = false;
    bool canceled = false;
    bool restartNeeded = false;
    std::wstring errorText;
    bool isUninstall = false;
    bool removeEverything = false;
    std::uint64_t failedItems = 0;
    std::int32_t stopResult = 0; // 0 not running, 1 shut down, 2 terminated, 3 failed
    bool isStop = false;
    bool isSelfUpdate = false;
    bool isMagisk = false;
    std::wstring magiskTag;
};

struct ReleaseCheckResult
{
    Pd::Core::WindowsInfo windows;
    std::optional<Pd::Core::Manifest> manifest;
    std::wstring error;
    std::uint64_t bluetoothAdapter = 0;
    bool startWithWindows = false;
};

// Posts a heap payload; frees it when the window cannot take it.
template <typename T> void PostPayload(HWND window, UINT message, std::unique_ptr<T> payload)
{
    if (::PostMessageW(window, message, 0, reinterpret_cast<LPARAM>(payload.get())))
        payload.release();
}

// Takes back a posted payload in the window's handler.
template <typename T> std::unique_ptr<T> TakePayload(LPARAM lParam)
{
    return std::unique_ptr<T>(reinterpret_cast<T*>(lParam));
}

void PostProgress(HWND window, const Pd::Core::Progress& report);
void PostLogLine(HWND window, Pd::Level level, std::wstring text);
bool AskQuestion(HWND window, const std::wstring& question);
// A byte count as a progress report under a fixed stage label.
Pd::Core::Progress ByteProgressReport(const std::wstring& stage, std::uint64_t done, std::uint64_t total);

// The release-management callbacks that report to the window.
Pd::Core::Callbacks WindowCallbacks(HWND window);

} // namespace Pd::Ui
