#include "platform/sim/SimSmsRouter.h"

#include "core/StoppableSleep.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/Simulation.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace Pd::Platform::Sim
{
namespace
{

constexpr const wchar_t* RegistrationsKey = L"smsRegistrations";
// How often a registration looks for messages added to the scenario.
constexpr std::chrono::milliseconds ScenarioPoll{200};

std::unexpected<Error> NotRegistered()
{
    return Failure(REGDB_E_CLASSNOTREG, L"Windows' SMS router is not available");
}

// Edits the registered ids; the scenario's "registrations" stand until the first change.
Pd::Result<> UpdateRegistrations(const std::filesystem::path& folder, const ScenarioSmsRouter& router,
                                 const std::function<void(std::vector<std::wstring>&)>& change)
{
    return StateStore(folder).Update([&](Json::Value& state) {
        Json::Value& stored = (*state.members)[RegistrationsKey];
        std::vector<std::wstring> ids;
        if (stored.kind == Json::Kind::Array)
            for (const Json::Value& id : stored.Items())
                ids.push_back(id.text);
        else
            ids = router.registrations;
        change(ids);
        stored = Json::Value::MakeArray();
        for (const std::wstring& id : ids)
            stored.items->push_back(Json::Value::MakeString(id));
        return true;
    });
}

class SimRegistration final : public SmsRegistration
{
public:
    SimRegistration(std::filesystem::path folder, ScenarioSmsRouter router, std::wstring id,
                    RoutedSmsHandler handler)
        : folder_(std::move(folder)), router_(std::move(router)), id_(std::move(id))
    {
        thread_ = std::jthread(
            [this, handler = std::move(handler)](std::stop_token stop) { Deliver(stop, handler); });
    }

    Outcome<> Unregister() override
    {
        bool found = false;
        auto updated = UpdateRegistrations(folder_, router_, [&](std::vector<std::wstring>& ids) {
            auto at = std::find(ids.begin(), ids.end(), id_);
            if ((found = at != ids.end()))
                ids.erase(at);
        });
        if (!updated)
            return Failure(E_FAIL, updated.error());
        if (!found)
            return Failure(E_INVALIDARG, L"The SMS registration is no longer registered");
        return {};
    }

private:
    // The router's callback thread: each message at its time after the registration, in time
    // order. Messages added to the scenario while registered arrive too (at once when their time
    // is past); a message is known by its position in the list.
    void Deliver(std::stop_token stop, const RoutedSmsHandler& handler)
    {
        auto start = std::chrono::steady_clock::now();
        std::vector<ScenarioSmsMessage> messages = router_.messages;
        std::vector<bool> delivered;
        while (!stop.stop_requested())
        {
            auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            delivered.resize(std::max(delivered.size(), messages.size()));
            std::vector<std::size_t> due;
            auto next = elapsed + ScenarioPoll;
            for (std::size_t i = 0; i < messages.size(); ++i)
                if (!delivered[i] && std::chrono::milliseconds(messages[i].afterMs) <= elapsed)
                    due.push_back(i);
                else if (!delivered[i])
                    next = std::min(next, std::chrono::milliseconds(messages[i].afterMs));
            std::ranges::stable_sort(due, {}, [&](std::size_t i) { return messages[i].afterMs; });
            for (std::size_t i : due)
            {
                if (stop.stop_requested())
                    return;
                delivered[i] = true;
                const ScenarioSmsMessage& message = messages[i];
                if (message.readFails)
                    handler(Failure(*message.readFails, L"The simulated SMS message cannot be read"));
                else
                    handler(RoutedSmsMessage{static_cast<SmsMessageType>(message.type), message.from,
                                             message.contentType, message.body,
                                             static_cast<std::int64_t>(message.timestamp)});
            }
            Core::SleepUntil(stop, start + next);
            if (!stop.stop_requested())
                messages = LoadScenario(folder_).smsRouter.messages;
        }
    }

    std::filesystem::path folder_;
    ScenarioSmsRouter router_;
    std::wstring id_;
    std::jthread thread_; // last: stopped and joined before the rest goes
};

class SimRouter final : public SmsRouter
{
public:
    explicit SimRouter(std::filesystem::path folder) : folder_(std::move(folder)) {}

    Outcome<std::size_t> UnregisterAll(std::wstring_view id) override
    {
        ScenarioSmsRouter router = LoadScenario(folder_).smsRouter;
        if (!router.present)
            return NotRegistered();
        std::size_t removed = 0;
        auto updated = UpdateRegistrations(folder_, router, [&](std::vector<std::wstring>& ids) {
            removed = static_cast<std::size_t>(std::erase(ids, std::wstring(id)));
        });
        if (!updated)
            return Failure(E_FAIL, updated.error());
        return removed;
    }

    Outcome<std::unique_ptr<SmsRegistration>> RegisterWapPeek(std::wstring_view id,
                                                              RoutedSmsHandler handler) override
    {
        ScenarioSmsRouter router = LoadScenario(folder_).smsRouter;
        if (!router.present)
            return NotRegistered();
        if (router.registerFails)
            return Failure(*router.registerFails, L"The simulated SMS router refused the registration");
        auto updated = UpdateRegistrations(folder_, router,
                                           [&](std::vector<std::wstring>& ids) { ids.emplace_back(id); });
        if (!updated)
            return Failure(E_FAIL, updated.error());
        return std::make_unique<SimRegistration>(folder_, std::move(router), std::wstring(id),
                                                 std::move(handler));
    }

private:
    std::filesystem::path folder_;
};

} // namespace

std::shared_ptr<SmsRouter> MakeSmsRouter(const std::filesystem::path& folder)
{
    return std::make_shared<SimRouter>(folder);
}

std::vector<std::wstring> SmsRegistrations(const std::filesystem::path& folder)
{
    const Json::Value state = StateStore(folder).Read();
    const Json::Value& stored = state.Member(RegistrationsKey);
    if (stored.kind != Json::Kind::Array)
        return LoadScenario(folder).smsRouter.registrations;
    std::vector<std::wstring> ids;
    for (const Json::Value& id : stored.Items())
        ids.push_back(id.text);
    return ids;
}

} // namespace Pd::Platform::Sim
