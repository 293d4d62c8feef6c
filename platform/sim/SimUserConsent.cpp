#include "platform/sim/SimUserConsent.h"

#include "platform/sim/Scenario.h"
#include "platform/sim/Simulation.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace Pd::Platform::Sim
{
namespace
{

constexpr const wchar_t* PromptsKey = L"helloPrompts";
// What the Windows Runtime answers for results asked of an operation that has none.
constexpr HRESULT IllegalMethodCall = static_cast<HRESULT>(0x8000000EL);

Error SimulatedFailure()
{
    return Error{E_FAIL, L"The simulated Windows Hello call failed"};
}

// One open prompt: a worker ends it after promptMs unless Cancel ends it first.
class SimConsentRequest final : public ConsentRequest
{
public:
    explicit SimConsentRequest(const ScenarioHello& hello)
        : answer_(hello.result), worker_([this, wait = std::chrono::milliseconds(hello.promptMs)](
                                             std::stop_token stop) { Run(stop, wait); })
    {
    }

    // The worker ends before the request goes; a prompt still open then ends unreported.
    ~SimConsentRequest() override
    {
        worker_.request_stop();
        worker_.join();
    }

    void Cancel() override { Finish(ConsentStatus::Canceled); }

    void OnCompleted(std::function<void()> handler) override
    {
        {
            std::lock_guard guard(lock_);
            if (status_ == ConsentStatus::Started)
            {
                handler_ = std::move(handler);
                return;
            }
        }
        handler();
    }

    ConsentStatus Status() override
    {
        std::lock_guard guard(lock_);
        return status_;
    }

    Outcome<std::uint32_t> Result() override
    {
        std::lock_guard guard(lock_);
        if (status_ == ConsentStatus::Completed)
            return answer_.value;
        if (status_ == ConsentStatus::Error)
            return std::unexpected(SimulatedFailure());
        return Failure(IllegalMethodCall, L"The operation has no result");
    }

private:
    void Run(std::stop_token stop, std::chrono::milliseconds wait)
    {
        {
            std::unique_lock guard(lock_);
            if (!changed_.wait_for(guard, stop, wait, [this] { return status_ != ConsentStatus::Started; }) &&
                stop.stop_requested())
                return;
        }
        Finish(answer_.fails ? ConsentStatus::Error : ConsentStatus::Completed);
    }

    // Ends the operation once, and runs the completion handler outside the lock.
    void Finish(ConsentStatus status)
    {
        std::function<void()> handler;
        {
            std::lock_guard guard(lock_);
            if (status_ != ConsentStatus::Started)
                return;
            status_ = status;
            handler = std::move(handler_);
        }
        changed_.notify_all();
        if (handler)
            handler();
    }

    const ScenarioHelloAnswer answer_;
    std::mutex lock_;
    std::condition_variable_any changed_;
    ConsentStatus status_ = ConsentStatus::Started;
    std::function<void()> handler_;
    std::jthread worker_; // last: it starts once everything it uses exists
};

void RecordPrompt(const std::filesystem::path& folder, const std::wstring& text, bool ownerWindow)
{
    auto recorded = StateStore(folder).Update([&](Json::Value& state) {
        Json::Value& prompts = (*state.members)[PromptsKey];
        if (prompts.kind != Json::Kind::Array)
            prompts = Json::Value::MakeArray();
        Json::Value prompt = Json::Value::MakeObject();
        (*prompt.members)[L"text"] = Json::Value::MakeString(text);
        (*prompt.members)[L"ownerWindow"] = Json::Value::MakeBool(ownerWindow);
        prompts.items->push_back(std::move(prompt));
        return true;
    });
    if (!recorded)
        ReportScenarioProblem(recorded.error());
}

class SimUserConsentVerifier final : public UserConsentVerifier
{
public:
    explicit SimUserConsentVerifier(std::filesystem::path folder) : folder_(std::move(folder)) {}

    Outcome<std::uint32_t> CheckAvailability() override
    {
        ScenarioHelloAnswer answer = LoadScenario(folder_).hello.availability;
        if (answer.fails)
            return std::unexpected(SimulatedFailure());
        return answer.value;
    }

    Outcome<std::unique_ptr<ConsentRequest>> RequestVerification(HWND owner,
                                                                 const std::wstring& text) override
    {
        RecordPrompt(folder_, text, owner != nullptr && ::IsWindow(owner));
        return std::make_unique<SimConsentRequest>(LoadScenario(folder_).hello);
    }

private:
    std::filesystem::path folder_;
};

} // namespace

std::shared_ptr<UserConsentVerifier> MakeUserConsentVerifier(const std::filesystem::path& folder)
{
    return std::make_shared<SimUserConsentVerifier>(folder);
}

std::vector<HelloPrompt> RecordedHelloPrompts(const std::filesystem::path& folder)
{
    std::vector<HelloPrompt> prompts;
    const Json::Value state = StateStore(folder).Read();
    for (const Json::Value& entry : state.Member(PromptsKey).Items())
    {
        const Json::Value& owner = entry.Member(L"ownerWindow");
        prompts.push_back({entry.Member(L"text").text, owner.AsBool().value_or(false)});
    }
    return prompts;
}

} // namespace Pd::Platform::Sim
