#include "guest/AndroidVm.h"

#include "core/Handles.h"
#include "core/Strings.h"

#include "platform/Guid.h"
#include "platform/sim/SimComputeCore.h"
#include "tests/support/HangLimit.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <fmt/xchar.h>

#include <atomic>

namespace
{

using Pd::Guest::SelectAndroidVm;
using Pd::Guest::VmStop;

constexpr const char* VmId = "6A2B9C1D-3E4F-4A5B-8C7D-9E0F1A2B3C4D";
constexpr const wchar_t* VmIdWide = L"6A2B9C1D-3E4F-4A5B-8C7D-9E0F1A2B3C4D";

std::string IdOf(const std::optional<Pd::Guest::AndroidVm>& vm)
{
    return vm ? Pd::Core::ToUtf8(Pd::Platform::GuidText(vm->id, false)) : "none";
}

std::wstring Entry(std::wstring_view id, std::wstring_view owner, std::wstring_view type = L"VirtualMachine",
                   std::wstring_view state = LR"("State":"Running")")
{
    return fmt::format(LR"({{"Id":"{}","Owner":"{}","SystemType":"{}"{}{}}})", id, owner, type,
                       state.empty() ? L"" : L",", state);
}

TEST(SelectAndroidVm, TakesTheFirstRunningVirtualMachineWhoseOwnerMentionsAndroid)
{
    const std::wstring other = L"11111111-2222-3333-4444-555555555555";
    const std::pair<std::wstring, std::string> cases[] = {
        {L"[" + Entry(VmIdWide, L"TovikANDROIDHost") + L"]", VmId},
        {L"\uFEFF[" + Entry(VmIdWide, L"android") + L"]", VmId},
        {L"[" + Entry(VmIdWide, L"WSL") + L"]", "none"},
        {L"[" + Entry(VmIdWide, L"android", L"Container") + L"]", "none"},
        {L"[" + Entry(VmIdWide, L"android", L"virtualmachine") + L"]", "none"},
        {L"[" + Entry(VmIdWide, L"android", L"VirtualMachine", LR"("State":"Stopped")") + L"]", "none"},
        {L"[" + Entry(VmIdWide, L"android", L"VirtualMachine", LR"("State":"running")") + L"]", "none"},
        {L"[" + Entry(VmIdWide, L"android", L"VirtualMachine", L"") + L"]", VmId},
        {L"[" + Entry(VmIdWide, L"android", L"VirtualMachine", LR"("State":"")") + L"]", VmId},
        // Values that are not texts count as empty.
        {L"[" + Entry(VmIdWide, L"android", L"VirtualMachine", LR"("State":["Stopped"])") + L"]", VmId},
        {fmt::format(LR"([{{"Id":"{}","Owner":7,"SystemType":"VirtualMachine"}}])", VmIdWide), "none"},
        {L"[" + Entry(other, L"Other android") + L"," + Entry(VmIdWide, L"android") + L"]",
         "11111111-2222-3333-4444-555555555555"},
        // An entry whose id is no GUID is skipped for the next one.
        {L"[" + Entry(L"not-a-guid", L"android") + L"," + Entry(VmIdWide, L"android") + L"]", VmId},
        {L"[" + Entry(L"{6A2B9C1D-3E4F-4A5B-8C7D-9E0F1A2B3C4D}", L"android") + L"," +
             Entry(VmIdWide, L"android") + L"]",
         VmId},
        {L"[" + Entry(L"6A2B9C1D 3E4F-4A5B-8C7D-9E0F1A2B3C4D", L"android") + L"]", "none"},
        {L"", "none"},
        {L"[" + Entry(VmIdWide, L"android"), "none"},
        {Entry(VmIdWide, L"android"), "none"},
    };
    for (const auto& [listing, id] : cases)
        EXPECT_EQ(IdOf(SelectAndroidVm(listing)), id) << Pd::Core::ToUtf8(listing);
    EXPECT_EQ(SelectAndroidVm(L"[" + Entry(VmIdWide, L"TovikANDROIDHost") + L"]")->owner, "TovikANDROIDHost");
}

// Another account's Android is never this user's: an owner that names this user's SID, as a word
// of its own, makes a VM theirs; one that names no account does only while nobody else can run one.
TEST(SelectOwnAndroidVm, TakesOnlyAVmWhoseOwnerNamesThisUser)
{
    using Pd::Guest::VmAccount;
    const std::wstring me = L"S-1-5-21-1-2-3-1001";
    const std::pair<const char*, VmAccount> owners[] = {
        {"TovikAndroid S-1-5-21-1-2-3-1001", VmAccount::ThisUser},
        {"TovikAndroid (s-1-5-21-1-2-3-1001)", VmAccount::ThisUser},
        {"TovikAndroid S-1-5-21-1-2-3-1002", VmAccount::OtherUser},
        {"TovikAndroid S-1-5-21-1-2-3-10011", VmAccount::OtherUser},
        {"TovikAndroid S-1-5-21-1-2-3-1001x", VmAccount::OtherUser},
        {"TovikAndroidS-1-5-21-1-2-3-1001", VmAccount::Unknown},
        {"TovikAndroid", VmAccount::Unknown},
        {"TovikAndroid S-1-5-21-1-2-3-1001 S-1-5-21-1-2-3-1002", VmAccount::Unknown},
    };
    for (const auto& [owner, account] : owners)
        EXPECT_EQ(Pd::Guest::AccountOfOwner(owner, me), account) << owner;

    const std::wstring listing = L"[" +
                                 Entry(L"11111111-2222-3333-4444-555555555555", L"android S-1-5-21-9") +
                                 L"," + Entry(L"22222222-2222-3333-4444-555555555555", L"android") + L"," +
                                 Entry(VmIdWide, L"android " + me) + L"]";
    auto lookup = Pd::Guest::SelectOwnAndroidVm(listing, me, false);
    EXPECT_EQ(IdOf(lookup.vm), VmId);
    EXPECT_EQ(lookup.passedOver, "");
    lookup = Pd::Guest::SelectOwnAndroidVm(listing, L"S-1-5-21-4", false);
    EXPECT_EQ(IdOf(lookup.vm), "none");
    EXPECT_EQ(
        lookup.passedOver,
        "Android VM {11111111-2222-3333-4444-555555555555} (owner android S-1-5-21-9) belongs to another "
        "account; Android VM {22222222-2222-3333-4444-555555555555} (owner android) names no account of its "
        "own; Android VM {6A2B9C1D-3E4F-4A5B-8C7D-9E0F1A2B3C4D} (owner android S-1-5-21-1-2-3-1001) belongs "
        "to another account");
    EXPECT_EQ(IdOf(Pd::Guest::SelectOwnAndroidVm(listing, L"", false).vm), "none")
        << "an unknown user owns nothing";

    // A VM whose owner names nobody: this user's while nobody else is signed in, and alone.
    const std::wstring unnamed = Entry(VmIdWide, L"android");
    EXPECT_EQ(IdOf(Pd::Guest::SelectOwnAndroidVm(L"[" + unnamed + L"]", me, false).vm), VmId);
    EXPECT_EQ(IdOf(Pd::Guest::SelectOwnAndroidVm(L"[" + unnamed + L"]", me, true).vm), "none");
    EXPECT_EQ(
        IdOf(Pd::Guest::SelectOwnAndroidVm(
                 L"[" + unnamed + L"," + Entry(L"22222222-2222-3333-4444-555555555555", L"android") + L"]",
                 me, false)
                 .vm),
        "none");
}

std::string OneVm(std::string_view extra = "")
{
    return fmt::format(R"({{"computeSystems":[{{"id":"{}","owner":"TovikAndroid"{}}}]}})", VmId, extra);
}

TEST(ComputeSystems, TheSimulatedVmIsFoundAndItsExitWatchFiresWhenItEnds)
{
    // Wine has no computecore.dll: without the simulator the service is unavailable.
    EXPECT_EQ(Pd::Guest::EnumerateComputeSystems(), L"");
    EXPECT_FALSE(Pd::Guest::FindAndroidVm());

    Pd::Test::SimScenario scenario(OneVm());
    Pd::UniqueHandle exited(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto vm = Pd::Guest::FindAndroidVm();
    ASSERT_EQ(IdOf(vm), VmId);
    EXPECT_FALSE(Pd::Guest::OpenComputeSystem(
        *Pd::Platform::ParseGuid(L"{11111111-2222-3333-4444-555555555555}"), exited.Get()))
        << "a VM that is not running";
    Pd::Guest::ComputeSystem system = Pd::Guest::OpenComputeSystem(vm->id, exited.Get());
    ASSERT_TRUE(system);
    EXPECT_EQ(::WaitForSingleObject(exited.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    Pd::Platform::Sim::EndComputeSystem(scenario.Folder(), VmIdWide);
    EXPECT_EQ(::WaitForSingleObject(exited.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0);
    EXPECT_FALSE(Pd::Guest::FindAndroidVm());
}

TEST(ComputeSystems, TheExitWatchFiresWhenAnEndFallsDueWithoutAnyFileChanging)
{
    // The clock of exitAfterMs, and a shutdown whose delay runs out after it was recorded.
    for (std::string_view extra : {R"(,"exitAfterMs":1500)", R"(,"shutdownDelayMs":1500)"})
    {
        Pd::Test::SimScenario scenario(OneVm(extra));
        Pd::UniqueHandle exited(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        auto vm = Pd::Guest::FindAndroidVm();
        ASSERT_EQ(IdOf(vm), VmId);
        Pd::Guest::ComputeSystem system = Pd::Guest::OpenComputeSystem(vm->id, exited.Get());
        ASSERT_TRUE(system);
        if (extra.find("shutdown") != std::string_view::npos)
        {
            EXPECT_EQ(Pd::Platform::Sim::RequestGuestShutdown(scenario.Folder()), 1);
        }
        EXPECT_EQ(::WaitForSingleObject(exited.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0) << extra;
    }
}

TEST(StopAndroidVm, ShutsDownThenTerminatesAndReportsWhatEndedTheVm)
{
    // A wait that is expected to end early is long, so that a slow machine cannot change the
    // outcome; a wait that is expected to run out is short, so that the test stays quick.
    constexpr Pd::Guest::VmStopTimings ExpectShutdown{10000, 10000, 10000};
    constexpr Pd::Guest::VmStopTimings ExpectTermination{300, 10000, 10000};
    constexpr Pd::Guest::VmStopTimings ExpectNoEnd{300, 10000, 500};
    struct Case
    {
        std::string scenario;
        Pd::Guest::VmStopTimings timings;
        VmStop result;
        int hookCalls;
        bool stopped = false; // stop requested before the call: no wait, no termination
    };
    const Case cases[] = {
        {R"({"computeSystems":[]})", ExpectShutdown, VmStop::NotRunning, 0},
        {OneVm(R"(,"shutdown":true)"), ExpectShutdown, VmStop::ShutDown, 1},
        {OneVm(R"(,"shutdown":false,"terminate":"works")"), ExpectTermination, VmStop::Terminated, 1},
        // A VM that ends just before the termination is reported as ended, not failed.
        {OneVm(R"(,"shutdown":false,"terminate":"endedFirst")"), ExpectTermination, VmStop::ShutDown, 1},
        {OneVm(R"(,"shutdown":false,"terminate":"refused")"), ExpectNoEnd, VmStop::Failed, 1},
        {OneVm(R"(,"shutdown":false,"terminate":"fails")"), ExpectNoEnd, VmStop::Failed, 1},
        {OneVm(R"(,"shutdown":false,"terminate":"ignored")"), ExpectNoEnd, VmStop::Failed, 1},
        {OneVm(R"(,"shutdown":false,"terminate":"works")"), ExpectShutdown, VmStop::Failed, 1, true},
    };
    for (const Case& c : cases)
    {
        Pd::Test::SimScenario scenario(c.scenario);
        std::atomic<int> calls{0};
        auto hook = [&] {
            ++calls;
            Pd::Platform::Sim::RequestGuestShutdown(scenario.Folder());
        };
        std::stop_source stop;
        if (c.stopped)
            stop.request_stop();
        EXPECT_EQ(Pd::Guest::StopAndroidVm(hook, c.timings, stop.get_token()), c.result) << c.scenario;
        EXPECT_EQ(calls, c.hookCalls) << c.scenario;
        EXPECT_EQ(Pd::Guest::FindAndroidVm().has_value(), c.result == VmStop::Failed) << c.scenario;
        // A second stop, as another process would run it, finds the stopped VM stopped.
        if (c.result != VmStop::Failed)
        {
            EXPECT_EQ(Pd::Guest::StopAndroidVm(hook, c.timings), VmStop::NotRunning) << c.scenario;
        }
    }
}

} // namespace
