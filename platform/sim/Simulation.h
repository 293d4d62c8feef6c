// The simulator's switch and its files (only in exes that link the simulator, never in
// Peldra.exe). PELDRA_SIMULATION names a folder holding scenario.json (the simulated PC, read
// afresh on every call, so that a test or another process may change it) and state.json (what
// changed since: written only by the simulator, under a lock, and replaced atomically, so that
// separate processes agree).
#pragma once

#include "core/Json.h"
#include "core/Result.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace Pd::Platform::Sim
{

inline constexpr const wchar_t* SimulationVariable = L"PELDRA_SIMULATION";

// The folder PELDRA_SIMULATION names (give a full path: processes started elsewhere inherit
// the variable); none when the variable is unset or empty. Simulation is on whenever it is
// set, even when the folder or its scenario is unusable: a mistyped scenario then gives an
// empty PC, never the real services.
std::optional<std::filesystem::path> ActiveScenarioFolder();

// Milliseconds since 1970 (UTC): the simulator's clock, the same in every process.
std::uint64_t NowMs();

// Reads a UTF-8 JSON file (a leading byte-order mark is dropped).
Pd::Result<Json::Value> ReadJsonFile(const std::filesystem::path& file);

// Writes the value as UTF-8 to "<file>.new" and moves it over the file.
Pd::Result<> WriteJsonFile(const std::filesystem::path& file, const Json::Value& value);

// Moves `replacement` over `file`. Windows refuses to replace a file that is open, even one
// opened for sharing with deletion, and another process may be reading it this moment: the
// move is tried again while it is refused for that reason, for up to a minute, as a reader that
// a busy machine keeps from running may hold the file for seconds.
bool ReplaceFileWhenUnread(const std::filesystem::path& replacement, const std::filesystem::path& file);

// The simulator's changing state in state.json: an object whose members belong to the
// simulated services ("computeSystems", "packages").
class StateStore
{
public:
    explicit StateStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

    // The state as last written; an empty object when there is none yet or it is unreadable.
    Json::Value Read() const;

    // Reads the state, lets `change` edit it, and writes it back when `change` returns true,
    // all while holding the folder's lock against other threads and processes.
    Pd::Result<> Update(const std::function<bool(Json::Value& state)>& change) const;

private:
    std::filesystem::path folder_;
};

// Logs a scenario problem once per process and text, so that a broken scenario is visible
// without a line on every call.
void ReportScenarioProblem(const std::wstring& text);

} // namespace Pd::Platform::Sim
