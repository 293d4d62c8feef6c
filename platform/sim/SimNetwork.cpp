#include "platform/sim/SimNetwork.h"

#include "core/Handles.h"
#include "core/Strings.h"
#include "platform/sim/FolderWatch.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/Simulation.h"

#include <algorithm>

namespace Pd::Platform::Sim
{
namespace
{

constexpr const wchar_t* OpenedPagesKey = L"openedPages";

bool IsProgram(const std::wstring& target)
{
    const std::filesystem::path path(target);
    std::error_code error;
    return Core::EqualsIgnoringCase(path.extension().wstring(), L".exe") &&
           std::filesystem::is_regular_file(path, error);
}

// Starts a program as the user's shell would, but with this process's environment, so that a
// test's stand-in sees the simulated PC too.
void StartProgram(const ShellRequest& request)
{
    std::wstring commandLine = L"\"" + request.target + L"\"";
    if (!request.arguments.empty())
        commandLine += L" " + request.arguments;
    std::error_code error;
    const bool inFolder = !request.folder.empty() && std::filesystem::is_directory(request.folder, error);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (::CreateProcessW(request.target.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         inFolder ? request.folder.c_str() : nullptr, &startup, &process))
    {
        UniqueHandle thread(process.hThread);
        UniqueHandle started(process.hProcess);
    }
}

Error HintUnavailable()
{
    return Error{HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), L"the simulated PC has no connectivity hint"};
}

// Tells the watcher's event once at once and then whenever the scenario's "network" changes.
class SimConnectivityWatch final : public ConnectivityWatch
{
public:
    SimConnectivityWatch(std::filesystem::path folder, HANDLE wake)
        : folder_(std::move(folder)), wake_(wake), seen_(LoadScenario(folder_).network),
          watch_(folder_, [this] { return Check(); })
    {
        ::SetEvent(wake_);
    }
    const FolderWatch& Watch() const { return watch_; }
    bool Start() { return watch_.Start(INFINITE); }

private:
    std::optional<DWORD> Check()
    {
        ScenarioNetwork now = LoadScenario(folder_).network;
        if (now != seen_)
        {
            seen_ = now;
            ::SetEvent(wake_);
        }
        return INFINITE;
    }

    std::filesystem::path folder_;
    HANDLE wake_;
    ScenarioNetwork seen_;
    FolderWatch watch_; // last: it ends first, so no check runs on what is gone
};

class SimNetworkHints final : public NetworkConnectivity
{
public:
    explicit SimNetworkHints(std::filesystem::path folder) : folder_(std::move(folder)) {}

    Outcome<ConnectivityLevel> Level() override
    {
        ScenarioNetwork network = LoadScenario(folder_).network;
        if (!network.present)
            return std::unexpected(HintUnavailable());
        if (network.fails)
            return Failure(E_FAIL, L"the simulated connectivity hint failed");
        return static_cast<ConnectivityLevel>(network.level);
    }

    Outcome<std::unique_ptr<ConnectivityWatch>> Watch(HANDLE wake) override
    {
        if (!LoadScenario(folder_).network.present)
            return std::unexpected(HintUnavailable());
        auto watch = std::make_unique<SimConnectivityWatch>(folder_, wake);
        if (!watch->Watch().SeesChanges())
            return Failure(watch->Watch().ChangesError(), L"the scenario folder cannot be watched");
        if (!watch->Start())
            return Failure(E_FAIL, L"the scenario folder cannot be watched");
        return watch;
    }

private:
    std::filesystem::path folder_;
};

} // namespace

std::shared_ptr<NetworkConnectivity> MakeNetworkHints(const std::filesystem::path& folder)
{
    return std::make_shared<SimNetworkHints>(folder);
}

Outcome<> OpenAsUser(const std::filesystem::path& folder, const ShellRequest& request)
{
    const Scenario scenario = LoadScenario(folder);
    const std::wstring scheme = Detail::SchemeOf(request.target);
    if (!scenario.shell.opensPages ||
        (!scheme.empty() && std::ranges::none_of(scenario.shell.schemes, [&](const std::wstring& handled) {
            return Core::EqualsIgnoringCase(handled, scheme);
        })))
        return Failure(HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION),
                       L"the shell could not open it (code " + std::to_wstring(ERROR_NO_ASSOCIATION) + L")");
    const std::wstring opened =
        request.arguments.empty() ? request.target : request.target + L" " + request.arguments;
    auto recorded = StateStore(folder).Update([&](Json::Value& state) {
        Json::Value& pages = (*state.members)[OpenedPagesKey];
        if (pages.kind != Json::Kind::Array)
            pages = Json::Value::MakeArray();
        pages.items->push_back(Json::Value::MakeString(opened));
        return true;
    });
    if (!recorded)
        ReportScenarioProblem(recorded.error());
    if (IsProgram(request.target))
        StartProgram(request);
    return {};
}

std::vector<std::wstring> OpenedWebPages(const std::filesystem::path& folder)
{
    std::vector<std::wstring> pages;
    const Json::Value state = StateStore(folder).Read();
    for (const Json::Value& entry : state.Member(OpenedPagesKey).Items())
        pages.push_back(entry.text);
    return pages;
}

} // namespace Pd::Platform::Sim
