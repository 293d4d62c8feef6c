// The user's latest mouse press and icon key as low-level hooks see them, for the tray to check
// an icon event against (IconInput.h). The hooks run on a thread of their own that does nothing
// but pump their messages: Windows removes a low-level hook without notice once its thread keeps
// an input waiting past LowLevelHooksTimeout, and the tray thread waits on the shell, on message
// boxes' owners and on its refreshes.
#pragma once

#include "core/Handles.h"
#include "host/tray/IconInput.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

namespace Pd::Host
{

struct ObservedInput
{
    ObservedPress press;
    ObservedKey key;
};

class InputWatch
{
public:
    // Starts the thread and returns once its hooks are set, or failed to be: then nothing is
    // ever observed, and no icon event counts as the user's.
    InputWatch();
    ~InputWatch(); // ends the thread, whose end removes the hooks
    InputWatch(const InputWatch&) = delete;
    InputWatch& operator=(const InputWatch&) = delete;

    ObservedInput Latest() const;
    bool Watching() const { return watching_.load(); }

private:
    void Run(HANDLE ready);
    static LRESULT CALLBACK OnMouse(int code, WPARAM message, LPARAM data);
    static LRESULT CALLBACK OnKey(int code, WPARAM message, LPARAM data);
    void Record(const ButtonEvent& event);
    void RecordKey(bool injected, DWORD tick);

    mutable std::mutex lock_;
    ObservedInput latest_;
    std::uint64_t serial_ = 0;
    std::atomic<bool> watching_{false};
    std::atomic<DWORD> threadId_{0};
    std::jthread thread_;
};

} // namespace Pd::Host
