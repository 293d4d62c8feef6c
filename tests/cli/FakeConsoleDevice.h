// A console device for tests: standard handles of chosen kinds, a settable clock and window width,
// and a record of everything written, in order.
#pragma once

#include "cli/ConsoleDevice.h"

#include <string>
#include <vector>

namespace PdTest
{

inline HANDLE FakeHandle(std::uintptr_t value)
{
    return reinterpret_cast<HANDLE>(value);
}

struct FakeConsoleState
{
    // What the process starts with.
    Pd::Cli::HandleKind outputKind = Pd::Cli::HandleKind::None;
    Pd::Cli::HandleKind errorKind = Pd::Cli::HandleKind::None;
    bool parentConsole = true; // AttachConsole succeeds
    bool canAllocate = true;   // AllocConsole succeeds
    bool canOpenOutput = true; // "CONOUT$" opens
    bool escapesWork = true;   // the console takes escape sequences
    std::optional<int> columns = 95;
    std::uint64_t now = 10'000;

    // What the console did.
    struct Written
    {
        HANDLE handle;
        bool console;
        std::wstring text; // console writes
        std::string bytes; // file and pipe writes
    };
    std::vector<Written> written;
    int attachCalls = 0;
    int allocateCalls = 0;
    std::wstring title;
    int keyWaits = 0;
    int enterPresses = 0;
    int outputCloses = 0;
    int detaches = 0;

    // Everything written to a handle: console text as is, file bytes as UTF-8 text.
    std::wstring ConsoleText(HANDLE handle) const
    {
        std::wstring all;
        for (const Written& item : written)
            if (item.handle == handle && item.console)
                all += item.text;
        return all;
    }
    std::string FileBytes(HANDLE handle) const
    {
        std::string all;
        for (const Written& item : written)
            if (item.handle == handle && !item.console)
                all += item.bytes;
        return all;
    }
};

class FakeConsoleDevice final : public Pd::Cli::ConsoleDevice
{
public:
    static inline const HANDLE StdOutput = FakeHandle(0x10);
    static inline const HANDLE StdError = FakeHandle(0x20);
    static inline const HANDLE ConsoleOutput = FakeHandle(0x30);

    explicit FakeConsoleDevice(FakeConsoleState& state) : state_(state) {}

    HANDLE StdHandle(DWORD which) override { return which == STD_OUTPUT_HANDLE ? StdOutput : StdError; }
    Pd::Cli::HandleKind Classify(HANDLE handle) override
    {
        return handle == StdOutput  ? state_.outputKind
               : handle == StdError ? state_.errorKind
                                    : Pd::Cli::HandleKind::None;
    }
    bool AttachToParent() override
    {
        ++state_.attachCalls;
        return state_.parentConsole;
    }
    bool Allocate() override
    {
        ++state_.allocateCalls;
        return state_.canAllocate;
    }
    HANDLE OpenConsoleOutput() override { return state_.canOpenOutput ? ConsoleOutput : nullptr; }
    bool EnableEscapeSequences(HANDLE) override { return state_.escapesWork; }
    void SetTitle(std::wstring_view title) override { state_.title = title; }
    void WriteText(HANDLE console, std::wstring_view text) override
    {
        state_.written.push_back({console, true, std::wstring(text), {}});
    }
    void WriteBytes(HANDLE file, std::string_view bytes) override
    {
        state_.written.push_back({file, false, {}, std::string(bytes)});
    }
    std::optional<int> WindowColumns(HANDLE) override { return state_.columns; }
    std::uint64_t TickCount() override { return state_.now; }
    void WaitForKey() override { ++state_.keyWaits; }
    void PressEnter() override { ++state_.enterPresses; }
    void CloseConsoleOutput() override { ++state_.outputCloses; }
    void Detach() override { ++state_.detaches; }

private:
    FakeConsoleState& state_;
};

} // namespace PdTest
