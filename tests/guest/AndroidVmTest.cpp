#include "guest/AndroidVm.h"

#include "core/Handles.h"
#include "core/Strings.h"

#include "platform/Guid.h"
#include "platform/sim/SimComputeCore.h"
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
constexpr const wchar_t* OtherIdWide = L"11111111-2222-3333-4444-555555555555";

std::string IdOf(const std::optional<Pd::Guest::AndroidVm>& vm)
{
    return vm ? Pd::Core::ToUtf8(Pd::Platform::GuidText(vm->id, false)) : "none";
}

std::wstring Entry(std::wstring_view id, std::wstring_view owner, std::wstring_view type = L"VirtualMachine",
                   std::wstring_view state = L"Running")
{
    return fmt::format(LR"({{"Id":"{}","Owner":"{}","SystemType":"{}","State":"{}"}})", id, owner, type,
                       state);
}

TEST(SelectAndroidVm, FindsARunningVirtualMachineWhoseOwnerMentionsAndroidInAnyCase)
{
    auto vm = SelectAndroidVm(L"[" + Entry(VmIdWide, L"TovikANDROIDHost") + L"]");
    ASSERT_TRUE(vm);
    EXPECT_EQ(IdOf(vm), VmId);
    EXPECT_EQ(vm->owner, "TovikANDROIDHost");
}

TEST(SelectAndroidVm, IgnoresTheOnlyVirtualMachineWhenItsOwnerLacksAndroid)
{
    EXPECT_FALSE(SelectAndroidVm(L"[" + Entry(VmIdWide, L"WSL") + L"]"));
}

TEST(SelectAndroidVm, TakesOnlyVirtualMachinesSpelledExactly)
{
    EXPECT_FALSE(SelectAndroidVm(L"[" + Entry(VmIdWide, L"android", L"Container") + L"]"));
    EXPECT_FALSE(SelectAndroidVm(L"[" + Entry(VmIdWide, L"android", L"virtualmachine") + L"]"));
}

TEST(SelectAndroidVm, SkipsEntriesInAnyStateButRunningAndAcceptsAMissingState)
{
    EXPECT_FALSE(SelectAndroidVm(L"[" + Entry(VmIdWide, L"android", L"VirtualMachine", L"Stopped") + L"]"));
    EXPECT_FALSE(SelectAndroidVm(L"[" + Entry(VmIdWide, L"android", L"VirtualMachine", L"running") + L"]"));
    std::wstring noState =
        fmt::format(LR"([{{"Id":"{}","Owner":"android","SystemType":"VirtualMachine"}}])", VmIdWide);
    EXPECT_EQ(IdOf(SelectAndroidVm(noState)), VmId);
    std::wstring emptyState = fmt::format(
        LR"([{{"Id":"{}","Owner":"android","SystemType":"VirtualMachine","State":""}}])", VmIdWide);
    EXPECT_EQ(IdOf(SelectAndroidVm(emptyState)), VmId);
}

TEST(SelectAndroidVm, TheFirstQualifyingEntryWins)
{
    auto vm = SelectAndroidVm(L"[" + Entry(OtherIdWide, L"Other android") + L"," +
                              Entry(VmIdWide, L"android") + L"]");
    EXPECT_EQ(IdOf(vm), "11111111-2222-3333-4444-555555555555");
}

TEST(SelectAndroidVm, AnEntryWhoseIdIsNoGuidIsSkippedForTheNextOne)
{
    for (std::wstring_view bad :
         {L"not-a-guid", L"{6A2B9C1D-3E4F-4A5B-8C7D-9E0F1A2B3C4D}", L"6A2B9C1D-3E4F-4A5B-8C7D-9E0F1A2B3C4",
          L"6A2B9C1D 3E4F-4A5B-8C7D-9E0F1A2B3C4D"})
    {
        auto vm =
            SelectAndroidVm(L"[" + Entry(bad, L"android") + L"," + Entry(VmIdWide, L"android 2") + L"]");
        EXPECT_EQ(IdOf(vm), VmId) << std::string(bad.begin(), bad.end());
    }
}

TEST(SelectAndroidVm, ValuesThatAreNotTextsCountAsEmpty)
{
    std::wstring numberOwner = fmt::format(
        LR"([{{"Id":"{}","Owner":7,"SystemType":"VirtualMachine","State":"Running"}}])", VmIdWide);
    EXPECT_FALSE(SelectAndroidVm(numberOwner));
    std::wstring arrayState = fmt::format(
        LR"([{{"Id":"{}","Owner":"android","SystemType":"VirtualMachine","State":["Stopped"]}}])", VmIdWide);
    EXPECT_EQ(IdOf(SelectAndroidVm(arrayState)), VmId);
}

TEST(SelectAndroidVm, ReadsAListingThatBeginsWithAByteOrderMark)
{
    EXPECT_EQ(IdOf(SelectAndroidVm(L"\uFEFF[" + Entry(VmIdWide, L"android") + L"]")), VmId);
}

TEST(SelectAndroidVm, NothingFromBrokenOrNonArrayListings)
{
    EXPECT_FALSE(SelectAndroidVm(L""));
    EXPECT_FALSE(SelectAndroidVm(L"[" + Entry(VmIdWide, L"android")));
    EXPECT_FALSE(SelectAndroidVm(Entry(VmIdWide, L"android")));
}

// --- through the simulated Host Compute Service --------------------------------------------

std::string OneVm(std::string_view extra = "")
{
    return fmt::format(R"({{"computeSystems":[{{"id":"{}","owner":"TovikAndroid"{}}}]}})", VmId, extra);
}

TEST(ComputeSystems, WithoutTheServiceTheListingIsEmptyAndNoVmIsFound)
{
    // Wine has no computecore.dll: the real service is unavailable.
    EXPECT_EQ(Pd::Guest::EnumerateComputeSystems(), L"");
    EXPECT_FALSE(Pd::Guest::FindAndroidVm());
}

TEST(ComputeSystems, TheSimulatedVmIsListedAndFound)
{
    Pd::Test::SimScenario scenario(OneVm());
    EXPECT_NE(Pd::Guest::EnumerateComputeSystems().find(VmIdWide), std::wstring::npos);
    EXPECT_EQ(IdOf(Pd::Guest::FindAndroidVm()), VmId);
}

TEST(ComputeSystems, TheExitWatchSetsTheEventWhenTheVmEnds)
{
    Pd::Test::SimScenario scenario(OneVm());
    Pd::UniqueHandle exited(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto vm = Pd::Guest::FindAndroidVm();
    ASSERT_TRUE(vm);
    Pd::Guest::ComputeSystem system = Pd::Guest::OpenComputeSystem(vm->id, exited.Get());
    ASSERT_TRUE(system);
    EXPECT_EQ(::WaitForSingleObject(exited.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    Pd::Platform::Sim::EndComputeSystem(scenario.Folder(), VmIdWide);
    EXPECT_EQ(::WaitForSingleObject(exited.Get(), 10000), WAIT_OBJECT_0);
    EXPECT_FALSE(Pd::Guest::FindAndroidVm());
}

TEST(ComputeSystems, OpeningAVmThatIsNotRunningGivesNoHandle)
{
    Pd::Test::SimScenario scenario(OneVm());
    Pd::UniqueHandle exited(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto other = Pd::Platform::ParseGuid(std::wstring(L"{") + OtherIdWide + L"}");
    EXPECT_FALSE(Pd::Guest::OpenComputeSystem(*other, exited.Get()));
}

// --- StopAndroidVm ---------------------------------------------------------------------------

// A wait that is expected to end early is long, so that a slow machine cannot change the
// outcome; a wait that is expected to run out is short, so that the test stays quick.
constexpr Pd::Guest::VmStopTimings ExpectShutdown{10000, 10000, 10000};
constexpr Pd::Guest::VmStopTimings ExpectTermination{300, 10000, 10000};
constexpr Pd::Guest::VmStopTimings ExpectNoEnd{300, 10000, 500};

struct StopRun
{
    VmStop result;
    int hookCalls;
};

StopRun RunStop(const Pd::Test::SimScenario& scenario, const Pd::Guest::VmStopTimings& timings)
{
    std::atomic<int> calls{0};
    VmStop result = Pd::Guest::StopAndroidVm(
        [&] {
            ++calls;
            Pd::Platform::Sim::RequestGuestShutdown(scenario.Folder());
        },
        timings);
    return {result, calls.load()};
}

TEST(StopAndroidVm, NotRunningWithoutCallingTheHook)
{
    Pd::Test::SimScenario scenario(R"({"computeSystems":[]})");
    StopRun run = RunStop(scenario, ExpectShutdown);
    EXPECT_EQ(run.result, VmStop::NotRunning);
    EXPECT_EQ(run.hookCalls, 0);
}

TEST(StopAndroidVm, ShutDownWhenAndroidEndsAfterTheHook)
{
    Pd::Test::SimScenario scenario(OneVm(R"(,"shutdown":true)"));
    StopRun run = RunStop(scenario, ExpectShutdown);
    EXPECT_EQ(run.result, VmStop::ShutDown);
    EXPECT_EQ(run.hookCalls, 1);
    EXPECT_FALSE(Pd::Guest::FindAndroidVm());
}

TEST(StopAndroidVm, TerminatedWhenAndroidIgnoresTheHook)
{
    Pd::Test::SimScenario scenario(OneVm(R"(,"shutdown":false,"terminate":"works")"));
    StopRun run = RunStop(scenario, ExpectTermination);
    EXPECT_EQ(run.result, VmStop::Terminated);
    EXPECT_EQ(run.hookCalls, 1);
    EXPECT_FALSE(Pd::Guest::FindAndroidVm());
}

TEST(StopAndroidVm, FailedWhenEvenTheTerminationDoesNotEndIt)
{
    for (const char* mode : {"refused", "fails", "ignored"})
    {
        Pd::Test::SimScenario scenario(OneVm(fmt::format(R"(,"shutdown":false,"terminate":"{}")", mode)));
        EXPECT_EQ(RunStop(scenario, ExpectNoEnd).result, VmStop::Failed) << mode;
        EXPECT_TRUE(Pd::Guest::FindAndroidVm()) << mode;
    }
}

TEST(StopAndroidVm, AVmThatEndsJustBeforeTheTerminationIsReportedAsEndedNotFailed)
{
    Pd::Test::SimScenario scenario(OneVm(R"(,"shutdown":false,"terminate":"endedFirst")"));
    EXPECT_EQ(RunStop(scenario, ExpectTermination).result, VmStop::ShutDown);
}

TEST(StopAndroidVm, TheStoppedVmStaysStoppedForOtherCallers)
{
    Pd::Test::SimScenario scenario(OneVm(R"(,"shutdown":true)"));
    ASSERT_EQ(RunStop(scenario, ExpectShutdown).result, VmStop::ShutDown);
    // A second stop, as another process would run it, finds nothing to stop.
    EXPECT_EQ(RunStop(scenario, ExpectShutdown).result, VmStop::NotRunning);
}

} // namespace
