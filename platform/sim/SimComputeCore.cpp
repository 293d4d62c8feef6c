#include "platform/sim/SimComputeCore.h"

#include "core/Handles.h"
#include "core/Json.h"
#include "core/SetEventOnStop.h"
#include "platform/Guid.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/Simulation.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>
#include <thread>

namespace Pd::Platform::Sim
{
namespace
{

// What the real service answers for a system that does not exist (any more).
constexpr HRESULT SystemNotFound = static_cast<HRESULT>(0xC037010EL);
constexpr DWORD WatchPeriodMs = 50; // only when the folder cannot be watched

using UniqueChangeNotification = Unique<HANDLE, &::FindCloseChangeNotification, -1>;

// state.json: "computeSystems": { "<id>": { "firstListed": ms, "endsAt": ms } }
const Json::Value& SystemState(const Json::Value& state, const std::wstring& id)
{
    return state.Member(L"computeSystems").Member(id);
}

Json::Value& EditSystemState(Json::Value& state, const std::wstring& id)
{
    if (state.Member(L"computeSystems").kind != Json::Kind::Object)
        (*state.members)[L"computeSystems"] = Json::Value::MakeObject();
    Json::Value& systems = (*state.members)[L"computeSystems"];
    Json::Value& system = (*systems.members)[id];
    if (system.kind != Json::Kind::Object)
        system = Json::Value::MakeObject();
    return system;
}

// Brings `endsAt` forward to `when` (an end already due earlier stays).
bool SetEnd(Json::Value& state, const std::wstring& id, std::uint64_t when)
{
    Json::Value& system = EditSystemState(state, id);
    std::optional<std::uint64_t> current = system.Member(L"endsAt").AsUInt64();
    if (current && *current <= when)
        return false;
    (*system.members)[L"endsAt"] = Json::Value::MakeNumber(when);
    return true;
}

// When the system ends (or ended): its recorded end or its exitAfterMs clock, whichever comes first.
std::optional<std::uint64_t> EndTime(const ScenarioComputeSystem& system, const Json::Value& state)
{
    const Json::Value& saved = SystemState(state, system.id);
    std::optional<std::uint64_t> end = saved.Member(L"endsAt").AsUInt64();
    if (auto firstListed = saved.Member(L"firstListed").AsUInt64(); firstListed && system.exitAfterMs)
        end = std::min(end.value_or(UINT64_MAX), *firstListed + *system.exitAfterMs);
    return end;
}

bool Running(const ScenarioComputeSystem& system, const Json::Value& state, std::uint64_t now)
{
    std::optional<std::uint64_t> end = EndTime(system, state);
    return !end || now < *end;
}

const ScenarioComputeSystem* FindSystem(const Scenario& scenario, const GUID& id)
{
    for (const ScenarioComputeSystem& system : scenario.computeSystems)
        if (auto guid = system.Guid(); guid && *guid == id)
            return &system;
    return nullptr;
}

std::wstring Listing(const Scenario& scenario, const Json::Value& state, std::uint64_t now)
{
    Json::Value listing = Json::Value::MakeArray();
    for (const ScenarioComputeSystem& system : scenario.computeSystems)
    {
        if (!Running(system, state, now))
            continue;
        Json::Value entry = Json::Value::MakeObject();
        (*entry.members)[L"Id"] = Json::Value::MakeString(system.id);
        (*entry.members)[L"Owner"] = Json::Value::MakeString(system.ListedOwner());
        (*entry.members)[L"SystemType"] = Json::Value::MakeString(system.systemType);
        (*entry.members)[L"State"] = Json::Value::MakeString(system.state);
        listing.items->push_back(std::move(entry));
    }
    std::wstring text;
    Json::Write(listing, 0, text);
    return text;
}

// Starts the exitAfterMs clocks of the systems listed for the first time.
void NoteFirstListing(const std::filesystem::path& folder, const Scenario& scenario, std::uint64_t now)
{
    StateStore(folder).Update([&](Json::Value& state) {
        bool changed = false;
        for (const ScenarioComputeSystem& system : scenario.computeSystems)
        {
            if (!system.exitAfterMs || SystemState(state, system.id).Member(L"firstListed").AsUInt64())
                continue;
            (*EditSystemState(state, system.id).members)[L"firstListed"] = Json::Value::MakeNumber(now);
            changed = true;
        }
        return changed;
    });
}

void EndNow(const std::filesystem::path& folder, const std::wstring& id)
{
    std::uint64_t now = NowMs();
    StateStore(folder).Update([&](Json::Value& state) { return SetEnd(state, id, now); });
}

struct Operation
{
    bool started = false;
    HRESULT result = S_OK;
    std::wstring document;
};

// An open compute system. Its exit watch is a thread that looks at the scenario and the state
// when a file in the folder changes and when the system's end falls due, and reports the end once;
// at rest it does not wake. Closing the system stops and joins the watch.
struct OpenSystem
{
    std::filesystem::path folder;
    GUID guid{};
    std::wstring id;
    HCS_EVENT_CALLBACK callback = nullptr;
    void* context = nullptr;
    UniqueHandle stop; // set by the watch's stop request
    UniqueChangeNotification folderChanged;
    std::jthread watch; // last: stopped and joined before the handles it waits on go
};

void WatchForExit(std::stop_token stop, OpenSystem* system)
{
    std::stop_callback<Core::SetEventOnStop> wake(stop, Core::SetEventOnStop{system->stop.Get()});
    for (;;)
    {
        Scenario scenario = LoadScenario(system->folder);
        const ScenarioComputeSystem* entry = FindSystem(scenario, system->guid);
        const std::uint64_t now = NowMs();
        std::optional<std::uint64_t> end;
        if (entry != nullptr)
            end = EndTime(*entry, StateStore(system->folder).Read());
        if (entry == nullptr || (end && now >= *end))
        {
            std::wstring data = L"{\"Id\":\"" + system->id + L"\"}";
            HCS_EVENT event{HcsEventSystemExited, data.c_str(), nullptr};
            system->callback(&event, system->context);
            return;
        }
        DWORD waitMs = end ? static_cast<DWORD>(std::min<std::uint64_t>(*end - now, INFINITE - 1)) : INFINITE;
        HANDLE handles[] = {system->stop.Get(), system->folderChanged.Get()};
        const DWORD count = system->folderChanged ? 2 : 1;
        if (!system->folderChanged)
            waitMs = std::min(waitMs, WatchPeriodMs);
        const DWORD woken = ::WaitForMultipleObjects(count, handles, FALSE, waitMs);
        if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED)
            return;
        if (woken == WAIT_OBJECT_0 + 1)
            ::FindNextChangeNotification(system->folderChanged.Get());
    }
}

class SimComputeCore final : public ComputeCore
{
public:
    explicit SimComputeCore(std::filesystem::path folder) : folder_(std::move(folder)) {}

    HCS_OPERATION CreateOperation() override { return reinterpret_cast<HCS_OPERATION>(new Operation); }

    void CloseOperation(HCS_OPERATION operation) override { delete AsOperation(operation); }

    HRESULT WaitForOperationResult(HCS_OPERATION handle, DWORD, PWSTR* resultDocument) override
    {
        Operation* operation = AsOperation(handle);
        if (resultDocument != nullptr)
            *resultDocument = nullptr;
        if (operation == nullptr || !operation->started)
            return E_UNEXPECTED;
        if (resultDocument != nullptr && !operation->document.empty())
        {
            size_t bytes = (operation->document.size() + 1) * sizeof(wchar_t);
            auto* copy = static_cast<PWSTR>(::LocalAlloc(LMEM_FIXED, bytes));
            if (copy == nullptr)
                return E_OUTOFMEMORY;
            std::memcpy(copy, operation->document.c_str(), bytes);
            *resultDocument = copy;
        }
        return operation->result;
    }

    HRESULT EnumerateComputeSystems(PCWSTR, HCS_OPERATION handle) override
    {
        Operation* operation = AsOperation(handle);
        if (operation == nullptr)
            return E_INVALIDARG;
        Scenario scenario = LoadScenario(folder_);
        std::uint64_t now = NowMs();
        NoteFirstListing(folder_, scenario, now);
        operation->started = true;
        operation->result = S_OK;
        operation->document = Listing(scenario, StateStore(folder_).Read(), now);
        return S_OK;
    }

    HRESULT OpenComputeSystem(PCWSTR id, DWORD, HCS_SYSTEM* system) override
    {
        *system = nullptr;
        std::optional<GUID> guid = ParseGuid(L"{" + std::wstring(id) + L"}");
        if (!guid)
            return E_INVALIDARG;
        Scenario scenario = LoadScenario(folder_);
        const ScenarioComputeSystem* entry = FindSystem(scenario, *guid);
        if (entry == nullptr || !Running(*entry, StateStore(folder_).Read(), NowMs()))
            return SystemNotFound;
        auto* open = new OpenSystem;
        open->folder = folder_;
        open->guid = *guid;
        open->id = entry->id;
        *system = reinterpret_cast<HCS_SYSTEM>(open);
        return S_OK;
    }

    HRESULT SetComputeSystemCallback(HCS_SYSTEM handle, HCS_EVENT_OPTIONS, const void* context,
                                     HCS_EVENT_CALLBACK callback) override
    {
        OpenSystem* system = AsSystem(handle);
        if (system == nullptr || callback == nullptr || system->watch.joinable())
            return E_INVALIDARG;
        system->callback = callback;
        system->context = const_cast<void*>(context);
        system->stop.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!system->stop)
            return HRESULT_FROM_WIN32(::GetLastError());
        system->folderChanged.Reset(::FindFirstChangeNotificationW(
            system->folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE));
        try
        {
            system->watch = std::jthread(&WatchForExit, system);
        }
        catch (const std::system_error& error)
        {
            return HRESULT_FROM_WIN32(static_cast<DWORD>(error.code().value()));
        }
        return S_OK;
    }

    HRESULT TerminateComputeSystem(HCS_SYSTEM handle, HCS_OPERATION operationHandle, PCWSTR) override
    {
        OpenSystem* system = AsSystem(handle);
        Operation* operation = AsOperation(operationHandle);
        if (system == nullptr || operation == nullptr)
            return E_INVALIDARG;
        Scenario scenario = LoadScenario(folder_);
        const ScenarioComputeSystem* entry = FindSystem(scenario, system->guid);
        if (entry == nullptr)
            return SystemNotFound;
        if (entry->terminate == TerminateMode::Refused)
            return E_ACCESSDENIED;
        if (entry->terminate == TerminateMode::EndedFirst)
            EndNow(folder_, entry->id);
        operation->started = true;
        if (!IsComputeSystemRunning(folder_, system->guid))
            operation->result = SystemNotFound;
        else if (entry->terminate == TerminateMode::Fails)
            operation->result = E_FAIL;
        else
        {
            operation->result = S_OK;
            if (entry->terminate == TerminateMode::Works)
                EndNow(folder_, entry->id);
        }
        return S_OK;
    }

    // Stops and joins the exit watch, which runs the callback.
    void CloseComputeSystem(HCS_SYSTEM handle) override { delete AsSystem(handle); }

private:
    static Operation* AsOperation(HCS_OPERATION handle) { return reinterpret_cast<Operation*>(handle); }
    static OpenSystem* AsSystem(HCS_SYSTEM handle) { return reinterpret_cast<OpenSystem*>(handle); }

    std::filesystem::path folder_;
};

} // namespace

std::shared_ptr<ComputeCore> MakeComputeCore(const std::filesystem::path& folder)
{
    return std::make_shared<SimComputeCore>(folder);
}

bool IsComputeSystemRunning(const std::filesystem::path& folder, const GUID& id)
{
    Scenario scenario = LoadScenario(folder);
    const ScenarioComputeSystem* system = FindSystem(scenario, id);
    return system != nullptr && Running(*system, StateStore(folder).Read(), NowMs());
}

int RequestGuestShutdown(const std::filesystem::path& folder)
{
    Scenario scenario = LoadScenario(folder);
    int ending = 0;
    std::uint64_t now = NowMs();
    StateStore(folder).Update([&](Json::Value& state) {
        bool changed = false;
        for (const ScenarioComputeSystem& system : scenario.computeSystems)
        {
            if (!system.shutdown || !Running(system, state, now))
                continue;
            ++ending;
            changed |= SetEnd(state, system.id, now + system.shutdownDelayMs);
        }
        return changed;
    });
    return ending;
}

void EndComputeSystem(const std::filesystem::path& folder, const std::wstring& id)
{
    EndNow(folder, id);
}

} // namespace Pd::Platform::Sim
