#include "core/ChildEnvironment.h"
#include "core/Handles.h"
#include "core/Json.h"
#include "core/Module.h"
#include "core/Strings.h"
#include "platform/Account.h"
#include "platform/Bluetooth.h"
#include "platform/ComputeCore.h"
#include "platform/HvSocket.h"
#include "platform/MobileBroadband.h"
#include "platform/PackageManager.h"
#include "platform/sim/SimComputeCore.h"
#include "platform/sim/Simulation.h"
#include "platform/WindowsVersion.h"
#include "platform/Wmi.h"
#include "tests/support/HangLimit.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

namespace
{

using namespace std::chrono_literals;
using Pd::Test::SimScenario;

constexpr const wchar_t* VmIdWide = L"2B1B9D9E-0A4C-4D3B-9E8F-7A6B5C4D3E2F";
const GUID VmGuid = {0x2B1B9D9E, 0x0A4C, 0x4D3B, {0x9E, 0x8F, 0x7A, 0x6B, 0x5C, 0x4D, 0x3E, 0x2F}};

// One VM with the extra keys, then further systems, then further scenario keys.
std::string OneVm(std::string_view extra = "", std::string_view systems = "", std::string_view rest = "")
{
    return fmt::format(
        R"({{"computeSystems":[{{"id":"2B1B9D9E-0A4C-4D3B-9E8F-7A6B5C4D3E2F","owner":"android"{}}}{}]{}}})",
        extra, systems, rest);
}

// The listing text of one service object, freed as the service expects.
std::wstring List(Pd::Platform::ComputeCore& service)
{
    HCS_OPERATION operation = service.CreateOperation();
    std::wstring text;
    if (SUCCEEDED(service.EnumerateComputeSystems(nullptr, operation)))
    {
        PWSTR document = nullptr;
        if (SUCCEEDED(service.WaitForOperationResult(operation, 10000, &document)) && document != nullptr)
            text = document;
        ::LocalFree(document);
    }
    service.CloseOperation(operation);
    return text;
}

bool Listed(Pd::Platform::ComputeCore& service)
{
    return List(service).find(VmIdWide) != std::wstring::npos;
}

TEST(WithoutSimulation, WinesMissingServicesAreUnavailable)
{
    // Wine has no computecore.dll, no Hyper-V sockets, no Windows Runtime package manager and no
    // optional features in WMI; Windows itself has all of them.
    EXPECT_EQ(Pd::Platform::ComputeService(), nullptr);
    WSADATA data{};
    ::WSAStartup(MAKEWORD(2, 2), &data);
    EXPECT_FALSE(Pd::Platform::ConnectToGuest(VmGuid, 0x544B4254, 2000));
    ::WSACleanup();
    auto walk = Pd::Platform::Packages()->FindPackagesForCurrentUser();
    EXPECT_TRUE(walk.packages.empty());
    ASSERT_TRUE(walk.stoppedBy);
    EXPECT_EQ(walk.stoppedBy->code, REGDB_E_CLASSNOTREG);
    auto watcher = Pd::Platform::CreateAdvertisementWatcher(Pd::Platform::ScanningMode::Active);
    ASSERT_FALSE(watcher);
    EXPECT_EQ(watcher.error().code, REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(Pd::Core::VmpInstallState());
    EXPECT_GT(Pd::Platform::ReadWindowsVersion().build, 0u);
}

TEST(Wmi, QueriesRunAndBadQueriesNameThemselves)
{
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    {
        auto services = Pd::Core::WmiConnect();
        ASSERT_TRUE(services) << Pd::Core::ToUtf8(services.error());
        auto objects = Pd::Core::WmiQuery(services->Get(), L"SELECT * FROM Win32_OperatingSystem");
        ASSERT_TRUE(objects);
        EXPECT_FALSE(objects->empty());
        EXPECT_FALSE(Pd::Core::WmiReadInstallState(objects->front().Get()))
            << "the class has no InstallState";
        auto bad = Pd::Core::WmiQuery(services->Get(), L"SELECT nothing FROM");
        if (!bad) // Wine checks the syntax when the query runs; Windows may answer with an empty list
        {
            EXPECT_TRUE(bad.error().starts_with(L"SELECT nothing FROM: ")) << Pd::Core::ToUtf8(bad.error());
        }
    }
    ::CoUninitialize();
}

TEST(SimulatedWindows, ABrokenScenarioIsAnEmptyPcAndIsReportedOnce)
{
    Pd::Test::LogCapture log;
    SimScenario scenario(R"({"computeSystems":[)");
    auto service = Pd::Platform::ComputeService();
    ASSERT_TRUE(service) << "simulation stays on: never the real services";
    EXPECT_EQ(List(*service), L"[]");
    EXPECT_EQ(List(*service), L"[]");
    EXPECT_EQ(log.Count("simulation: "), 1u) << log.Dump();
    EXPECT_EQ(Pd::Platform::ReadWindowsVersion().build, 0u);
}

TEST(SimulatedComputeService, ListsSystemsWithTheirTextsUntilExitAfterMsAfterTheyWereFirstListed)
{
    SimScenario scenario(OneVm(R"(,"exitAfterMs":1000)",
                               R"(,{"id":"a","owner":"O1","systemType":"Container","state":"Paused"})"));
    auto service = Pd::Platform::ComputeService();
    ASSERT_TRUE(service);
    const auto beforeFirstListing = std::chrono::steady_clock::now();
    auto listing = Pd::Json::Parser(List(*service)).Parse();
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing->Items().size(), 2u);
    EXPECT_EQ(listing->Items()[0].TextOr(L"Owner", L""), L"android " + Pd::Platform::ProcessUserSid())
        << "the owner names this account";
    EXPECT_EQ(listing->Items()[0].TextOr(L"SystemType", L""), L"VirtualMachine");
    EXPECT_EQ(listing->Items()[0].TextOr(L"State", L""), L"Running");
    EXPECT_EQ(listing->Items()[1].TextOr(L"Id", L""), L"a");
    EXPECT_EQ(listing->Items()[1].TextOr(L"SystemType", L""), L"Container");
    EXPECT_EQ(listing->Items()[1].TextOr(L"State", L""), L"Paused");
    EXPECT_TRUE(Pd::Test::PollUntil([&] { return !Listed(*service); }));
    EXPECT_GE(std::chrono::steady_clock::now() - beforeFirstListing, 1000ms) << "ended before exitAfterMs";
}

TEST(SimulatedComputeService, AGuestShutdownEndsOnlySystemsThatHonourItAfterTheirDelay)
{
    constexpr const char* Stubborn = R"(,{"id":"B","owner":"stubborn","shutdown":false})";
    SimScenario scenario(OneVm(R"(,"shutdownDelayMs":100000)", Stubborn));
    EXPECT_EQ(Pd::Platform::Sim::RequestGuestShutdown(scenario.Folder()), 1);
    EXPECT_TRUE(Pd::Platform::Sim::IsComputeSystemRunning(scenario.Folder(), VmGuid)) << "within its delay";
    scenario.Write(OneVm(R"(,"shutdownDelayMs":0)", Stubborn));
    EXPECT_EQ(Pd::Platform::Sim::RequestGuestShutdown(scenario.Folder()), 1);
    EXPECT_FALSE(Pd::Platform::Sim::IsComputeSystemRunning(scenario.Folder(), VmGuid));
    EXPECT_NE(List(*Pd::Platform::ComputeService()).find(L"stubborn"), std::wstring::npos);
}

// Windows refuses to replace a file while anyone has it open; the simulator's readers hold its
// files for a moment, so a write must wait for them rather than be lost.
TEST(SimulatedState, AWriteWaitsForAReaderThatHasTheFileOpen)
{
    SimScenario scenario("{}");
    const std::filesystem::path file = scenario.Folder() / L"state.json";
    Pd::Platform::Sim::StateStore store(scenario.Folder());
    ASSERT_TRUE(store.Update([](Pd::Json::Value&) { return true; }));
    Pd::UniqueFile reader(::CreateFileW(file.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader);
    std::atomic<bool> returned{false};
    std::jthread release([&] {
        // Lets go once the new state lies beside the file (the writer is at its move then), or once
        // a move that the reader did not hold up has returned.
        const std::filesystem::path staged = file.wstring() + L".new";
        Pd::Test::PollUntil([&] {
            std::error_code error;
            return returned || std::filesystem::exists(staged, error);
        });
        reader.Reset();
    });
    auto written = store.Update([](Pd::Json::Value& state) {
        (*state.members)[L"mark"] = Pd::Json::Value::MakeBool(true);
        return true;
    });
    returned = true;
    ASSERT_TRUE(written) << Pd::Core::ToUtf8(written.error());
    release.join();
    EXPECT_EQ(store.Read().Member(L"mark").AsBool(), true);
}

// Run in a second process by the test below: ends the VM of the inherited scenario.
TEST(SimulatorHelper, EndTheVmOfTheInheritedScenario)
{
    if (::GetEnvironmentVariableW(L"PELDRA_TEST_HELPER", nullptr, 0) == 0)
        GTEST_SKIP() << "only run as the second process of SeparateProcessesSeeTheSameVm";
    auto service = Pd::Platform::ComputeService();
    HCS_SYSTEM system = nullptr;
    ASSERT_EQ(service->OpenComputeSystem(VmIdWide, GENERIC_ALL, &system), S_OK);
    HCS_OPERATION operation = service->CreateOperation();
    ASSERT_EQ(service->TerminateComputeSystem(system, operation, nullptr), S_OK);
    service->CloseOperation(operation);
    service->CloseComputeSystem(system);
}

TEST(SimulatedComputeService, SeparateProcessesSeeTheSameVm)
{
    SimScenario scenario(OneVm());
    ASSERT_TRUE(Listed(*Pd::Platform::ComputeService()));
    std::wstring commandLine =
        L"\"" + Pd::Core::ModulePath() + L"\" --gtest_filter=SimulatorHelper.EndTheVmOfTheInheritedScenario";
    ::SetEnvironmentVariableW(L"PELDRA_TEST_HELPER", L"1");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    BOOL started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                    &startup, &process);
    ::SetEnvironmentVariableW(L"PELDRA_TEST_HELPER", nullptr);
    ASSERT_TRUE(started);
    Pd::UniqueHandle processHandle(process.hProcess);
    Pd::UniqueHandle threadHandle(process.hThread);
    ASSERT_EQ(::WaitForSingleObject(process.hProcess, Pd::Test::HangLimitMs), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(Listed(*Pd::Platform::ComputeService())) << "ended by the other process";
    // So do the programs a simulated run starts through its own environment block.
    const auto passedOn = Pd::Core::ChildVariables();
    ASSERT_TRUE(passedOn);
    EXPECT_TRUE(std::any_of(passedOn->begin(), passedOn->end(), [](const Pd::Core::ChildVariable& v) {
        return v.name == Pd::Platform::Sim::SimulationVariable &&
               v.value == Pd::Platform::Sim::ActiveScenarioFolder().value_or(L"").wstring();
    }));
}

TEST(SimulatedHvSocket, ConnectsToThePeerOfTheServiceWhileTheVmRuns)
{
    Pd::Test::LoopbackPeer peer(Pd::Test::LoopbackPeer::HoldUntilClosed);
    SimScenario scenario(OneVm("", "", fmt::format(R"(,"services":{{"544B4254":{}}})", peer.Port())));
    WSADATA data{};
    ::WSAStartup(MAKEWORD(2, 2), &data);
    {
        Pd::Platform::UniqueSocket socket = Pd::Platform::ConnectToGuest(VmGuid, 0x544B4254, 2000);
        EXPECT_TRUE(socket);
        EXPECT_FALSE(Pd::Platform::ConnectToGuest(VmGuid, 0x544B4255, 2000)) << "no such service";
        GUID otherVm = VmGuid;
        otherVm.Data1 ^= 1;
        EXPECT_FALSE(Pd::Platform::ConnectToGuest(otherVm, 0x544B4254, 2000)) << "no such VM";
        EXPECT_TRUE(peer.WaitForConnections(1, Pd::Test::HangLimit));
    }
    Pd::Platform::Sim::EndComputeSystem(scenario.Folder(), VmIdWide);
    EXPECT_FALSE(Pd::Platform::ConnectToGuest(VmGuid, 0x544B4254, 2000)) << "the VM has ended";
    ::WSACleanup();
}

TEST(SimulatedAdvertisementWatcher, DeliversTheAdvertisersRepeatedlyOnItsOwnThreadOnlyWhileStarted)
{
    SimScenario scenario(R"({"bluetooth":{"advertisers":[
        {"address":"C0FFEE000001","random":true,"type":5,"scannable":true,"rssi":-70,"everyMs":20},
        {"address":"C0FFEE000002","type":4,"everyMs":20}]}})");
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Pd::Platform::ReceivedAdvertisement> heard;
    const std::thread::id testThread = std::this_thread::get_id();
    bool onTestThread = false;
    auto watcher = Pd::Platform::CreateAdvertisementWatcher(Pd::Platform::ScanningMode::Passive);
    ASSERT_TRUE(watcher);
    ASSERT_TRUE((*watcher)->AddReceived([&](const Pd::Platform::ReceivedAdvertisement& received) {
        std::lock_guard guard(lock);
        onTestThread = onTestThread || std::this_thread::get_id() == testThread;
        heard.push_back(received);
        changed.notify_all();
    }));
    std::this_thread::sleep_for(100ms);
    {
        std::lock_guard guard(lock);
        EXPECT_TRUE(heard.empty()) << "nothing before Start";
    }
    ASSERT_TRUE((*watcher)->Start());
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(changed.wait_for(guard, Pd::Test::HangLimit, [&] { return heard.size() >= 3; }))
            << "repeated every everyMs";
    }
    ASSERT_TRUE((*watcher)->Stop());
    std::size_t afterStop = 0;
    {
        std::lock_guard guard(lock);
        afterStop = heard.size();
    }
    std::this_thread::sleep_for(100ms); // unlocked: a late delivery would be heard
    std::lock_guard guard(lock);
    EXPECT_EQ(heard.size(), afterStop) << "nothing once Stop returned";
    EXPECT_FALSE(onTestThread) << "delivered on the watcher's own thread";
    for (const auto& received : heard)
    {
        EXPECT_EQ(received.address, 0xC0FFEE000001u) << "a passive scan hears no scan responses";
        EXPECT_EQ(received.type, Pd::Platform::AdvertisementType::Extended);
        EXPECT_TRUE(received.randomAddress && received.isScannable && !received.isConnectable);
        EXPECT_EQ(received.rawSignalStrengthInDBm, -70);
    }
}

// A sink that keeps the modem's SMS object, as the telephony sink does, and stays in its signal
// call until the test has let go of everything else: the event thread's copy of the sink is then
// the last share of the simulated device's objects. The event thread must never be ended from
// itself (that aborts the process), and the manager's release waits for the call.
class HoldingSink final : public Pd::Platform::MbnEvents
{
public:
    HoldingSink(std::shared_ptr<Pd::Platform::MbnSms> sms, HANDLE entered, HANDLE letGo, bool& released)
        : sms_(std::move(sms)), entered_(entered), letGo_(letGo), released_(released)
    {
    }
    ~HoldingSink() override { released_ = true; }
    void OnSmsSendComplete(std::uint32_t, HRESULT) override {}
    void OnSmsReadComplete(std::uint32_t, const std::vector<Pd::Platform::MbnSmsMessage>&, bool,
                           std::uint32_t, HRESULT) override
    {
    }
    void OnSmsNewClass0Message(std::uint32_t, const std::vector<Pd::Platform::MbnSmsMessage>&) override {}
    void OnSmsDeleteComplete(std::uint32_t, HRESULT) override {}
    void OnSmsStatusChange() override {}
    void OnSignalStateChange() override
    {
        ::SetEvent(entered_);
        ::WaitForSingleObject(letGo_, Pd::Test::HangLimitMs);
    }
    void OnRegisterStateChange() override {}
    void OnPacketServiceStateChange() override {}

private:
    std::shared_ptr<Pd::Platform::MbnSms> sms_;
    HANDLE entered_;
    HANDLE letGo_;
    bool& released_;
};

TEST(SimulatedModem, LettingGoWhileItsThreadCallsASinkNeverEndsThatThreadFromItself)
{
    const std::string signals[] = {R"({"modem": {"signal": 20}})", R"({"modem": {"signal": 12}})"};
    SimScenario scenario(signals[0]);
    for (int round = 0; round < 5; ++round)
    {
        SCOPED_TRACE(round);
        Pd::UniqueHandle entered(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        Pd::UniqueHandle letGo(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        bool released = false;
        auto manager = Pd::Platform::MobileBroadband();
        ASSERT_TRUE(manager && *manager);
        auto interfaces = (*manager)->GetInterfaces();
        ASSERT_TRUE(interfaces && interfaces->size() == 1);
        auto sink =
            std::make_shared<HoldingSink>(interfaces->front()->Sms(), entered.Get(), letGo.Get(), released);
        auto cookie = (*manager)->Advise(Pd::Platform::MbnEventFamily::Signal, sink);
        ASSERT_TRUE(cookie);
        // The signal changes only now that the sink listens, however late that is.
        scenario.Write(signals[(round + 1) % 2]);
        ASSERT_EQ(::WaitForSingleObject(entered.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0);
        (*manager)->Unadvise(Pd::Platform::MbnEventFamily::Signal, *cookie);
        sink.reset();
        interfaces->clear();
        ::SetEvent(letGo.Get());
        manager->reset();
        EXPECT_TRUE(released) << "the manager's release waited for the call and its copy of the sink";
    }
}

} // namespace
