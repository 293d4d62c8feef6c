// A console device for tests: standard handles of chosen kinds, a settable clock and window width,
// and a record of every write, in order.
#pragma once

#include "cli/ConsoleDevice.h"

#include <string>
#include <vector>

namespace PdTest
{

struct FakeConsoleState
{
    static inline const HANDLE StdOutput = reinterpret_cast<HANDLE>(0x10);
    static inline const HANDLE StdError = reinterpret_cast<HANDLE>(0x20);
    static inline const HANDLE ConsoleOutput = reinterpret_cast<HANDLE>(0x30);

    // What the process starts with.
    Pd::Cli::HandleKind outputKind = Pd::Cli::HandleKind::None;
    Pd::Cli::HandleKind errorKind = Pd::Cli::HandleKind::None;
    bool parentConsole = true; // AttachConsole succeeds
    std::optional<int> columns = 95;
    std::uint64_t now = 10'000;

    // What the console did.
    struct Written
    {
        HANDLE handle;
        std::wstring text; // console writes
        std::string bytes; // file and pipe writes
    };
    std::vector<Written> written;
    int attachCalls = 0, allocateCalls = 0, keyWaits = 0, enterPresses = 0, detaches = 0;
    std::wstring title;

    std::wstring OnConsole() const
    {
        std::wstring all;
        for (const Written& item : written)
            all += item.handle == ConsoleOutput ? item.text : L"";
        return all;
    }
    std::string InFile(HANDLE handle) const
    {
        std::string all;
        for (const Written& item : written)
            all += item.handle == handle ? item.bytes : "";
        return all;
    }
};

class FakeConsoleDevice final : public Pd::Cli::ConsoleDevice
{
public:
    explicit FakeConsoleDevice(FakeConsoleState& state) : s_(state) {}

    HANDLE StdHandle(DWORD which) override { return which == STD_OUTPUT_HANDLE ? s_.StdOutput : s_.StdError; }
    Pd::Cli::HandleKind Classify(HANDLE handle) override
    {
        return handle == s_.StdOutput ? s_.outputKind : s_.errorKind;
    }
    bool AttachToParent() override { return ++s_.attachCalls, s_.parentConsole; }
    bool Allocate() override { return ++s_.allocateCalls, true; }
    HANDLE OpenConsoleOutput() override { return s_.ConsoleOutput; }
    bool EnableEscapeSequences(HANDLE) override { return true; }
    void SetTitle(std::wstring_view title) override { s_.title = title; }
    void WriteText(HANDLE console, std::wstring_view text) override
    {
        s_.written.push_back({console, std::wstring(text), {}});
    }
    void WriteBytes(HANDLE file, std::string_view bytes) override
    {
        s_.written.push_back({file, {}, std::string(bytes)});
    }
    std::optional<int> WindowColumns(HANDLE) override { return s_.columns; }
    std::uint64_t TickCount() override { return s_.now; }
    void WaitForKey() override { ++s_.keyWaits; }
    void PressEnter() override { ++s_.enterPresses; }
    void CloseConsoleOutput() override {}
    void Detach() override { ++s_.detaches; }

private:
    FakeConsoleState& s_;
};

} // namespace PdTest
