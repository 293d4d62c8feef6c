#include "host/background/BackgroundHost.h"

#include "core/Elevation.h"
#include "core/Handles.h"
#include "core/host/HostControl.h"
#include "core/host/HostObjects.h"
#include "core/ObjectSecurity.h"
#include "core/ScopeExit.h"
#include "core/Strings.h"
#include "tests/core/host/HostStandIn.h"
#include "tests/support/HangLimit.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PlantedObject.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace
{

using Pd::Core::ReleaseState;
using Pd::Test::ClearedSettings;

// What the stand-in threads and tray did, in order.
class Events
{
public:
    void Add(std::string event)
    {
        {
            std::lock_guard guard(lock_);
            events_.push_back(std::move(event));
        }
        changed_.notify_all();
    }
    // Waits until the event has happened `count` times in all.
    bool WaitFor(const std::string& event, size_t count = 1)
    {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, Pd::Test::HangLimit, [&] {
            return std::count(events_.begin(), events_.end(), event) >= long(count);
        });
    }
    std::vector<std::string> All()
    {
        std::lock_guard guard(lock_);
        return events_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
};

class BackgroundHostTest : public ::testing::Test
{
protected:
    BackgroundHostTest()
    {
        parts.verifyRelease = [this](std::stop_token) {
            events.Add("verify");
            return ReleaseState::Verified;
        };
        parts.bluetooth = Body("bluetooth");
        parts.registration = Body("registration");
        parts.telephony = Body("telephony");
        parts.updateNotices = Body("notices");
        parts.startTray = [this](HANDLE stop) {
            events.Add(stop ? "tray start" : "tray without stop");
            return [this] { events.Add("tray close"); };
        };
        parts.handleRegister = [this] { events.Add("register"); };
    }

    Pd::Host::ThreadBody Body(std::string name)
    {
        return [this, name](std::stop_token stop) {
            events.Add(name + " start");
            std::mutex lock;
            std::condition_variable_any wake;
            std::unique_lock guard(lock);
            wake.wait(guard, stop, [] { return false; });
            events.Add(name + " stop");
        };
    }

    std::future<int> Start()
    {
        return std::async(std::launch::async, [this] { return Pd::Host::RunBackgroundWith(parts); });
    }

    static void Reload() { ASSERT_TRUE(Pd::Host::NotifyHostReload()); }

    ClearedSettings settings{{L"Bluetooth", L"Tray", L"ReleaseState", L"GooglePlayIdKnown"}};
    Pd::Test::LogCapture log;
    Events events;
    Pd::Host::HostParts parts;
};

TEST_F(BackgroundHostTest, AnUnverifiedOrCancelledReleaseServesNothing)
{
    struct Case
    {
        ReleaseState state;
        int exitCode;
        const char* logged;
    };
    ClearedSettings::SetDword(L"Bluetooth", 1);
    for (const Case& c : {
             Case{ReleaseState::Modified, 4,
                  "host: the installed Android is an official release changed after "
                  "installing - Bluetooth and Windows Hello are not served"},
             Case{ReleaseState::Unverifiable, 4,
                  "host: the installed Android is not an official Peldra release - "},
             Case{ReleaseState::Cancelled, 0, "host: started"},
         })
    {
        SCOPED_TRACE(static_cast<int>(c.state));
        Pd::Test::LogCapture log;
        std::optional<DWORD> stateDuringCheck;
        parts.verifyRelease = [&](std::stop_token stop) {
            stateDuringCheck = ClearedSettings::Dword(L"ReleaseState");
            if (c.state != ReleaseState::Cancelled)
                return c.state;
            Pd::Core::SignalNamedEvent(Pd::Host::StopEventName); // Stop during the check ends it
            while (!stop.stop_requested())
                ::Sleep(1);
            return ReleaseState::Cancelled;
        };
        EXPECT_EQ(Pd::Host::RunBackgroundWith(parts), c.exitCode);
        EXPECT_EQ(stateDuringCheck, 2u);
        EXPECT_EQ(ClearedSettings::Dword(L"ReleaseState"), static_cast<DWORD>(c.state));
        EXPECT_EQ(log.Count(c.logged), 1u) << log.Dump();
        EXPECT_TRUE(events.All().empty()) << "no thread started";
        EXPECT_FALSE(Pd::UniqueHandle(::OpenMutexW(SYNCHRONIZE, FALSE, Pd::Host::HostMutexName)));
    }
}

// Another account that made one of the host's objects first keeps it from starting, and says so;
// a host's own leftover objects (the administrators') do not.
TEST_F(BackgroundHostTest, ObjectsAnotherAccountMadeFirstKeepTheHostFromStarting)
{
    using PdTest::Planted;
    const std::pair<const wchar_t*, Planted> names[] = {{Pd::Host::HostMutexName, Planted::Mutex},
                                                        {Pd::Host::StopEventName, Planted::Event},
                                                        {Pd::Host::ReloadEventName, Planted::Event}};
    for (const auto& [name, kind] : names)
    {
        SCOPED_TRACE(Pd::Core::ToUtf8(name));
        Pd::UniqueHandle planted = PdTest::PlantObject(name, L"S-1-5-21-1-2-3-4", kind);
        ASSERT_TRUE(planted);
        EXPECT_EQ(Pd::Host::RunBackgroundWith(parts), 1);
        EXPECT_EQ(log.Count("host: another program holds Peldra's name " + Pd::Core::ToUtf8(name) +
                            " (owner S-1-5-21-1-2-3-4), refused"),
                  1u)
            << log.Dump();
        EXPECT_TRUE(events.All().empty()) << "nothing checked or started";
    }
    Pd::UniqueHandle leftover = PdTest::PlantObject(Pd::Host::StopEventName, L"BA", Planted::Event);
    ::SetEvent(leftover.Get());
    auto host = Start();
    ASSERT_TRUE(events.WaitFor("verify"));
    Pd::Host::Stop();
    EXPECT_EQ(host.get(), 0);
}

// An elevated host never yields to one without administrator rights (whose mutex is the user's,
// not the Administrators'): it asks that one to stop and starts once it is gone.
TEST_F(BackgroundHostTest, AnElevatedHostTakesOverFromAnUnelevatedOne)
{
    const std::wstring user = Pd::Core::ProcessUserSid();
    Pd::UniqueHandle stop = PdTest::PlantObject(Pd::Host::StopEventName, user, PdTest::Planted::Event);
    Pd::UniqueHandle mutex = PdTest::PlantObject(Pd::Host::HostMutexName, user, PdTest::Planted::Mutex);
    auto host = Start();
    ASSERT_EQ(::WaitForSingleObject(stop.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0) << "not asked to stop";
    mutex.Reset(); // the unelevated host ends
    ASSERT_TRUE(events.WaitFor("verify"));
    Pd::Host::Stop();
    EXPECT_EQ(host.get(), 0);
}

// Bluetooth and the tray follow the settings on each Reload; Register is remembered while Android
// has no id; Stop closes the tray and joins the threads in their fixed order.
TEST_F(BackgroundHostTest, PassesFollowTheSettingsAndStopEndsEverythingInOrder)
{
    ClearedSettings::SetDword(L"Bluetooth", 1);
    std::future<int> host = Start();
    ASSERT_TRUE(events.WaitFor("bluetooth start"));
    ASSERT_TRUE(events.WaitFor("tray start"));
    ASSERT_TRUE(events.WaitFor("registration start"));
    ASSERT_TRUE(events.WaitFor("telephony start"));
    ASSERT_TRUE(events.WaitFor("notices start"));
    EXPECT_EQ(ClearedSettings::Dword(L"ReleaseState"), 1u);
    EXPECT_EQ(ClearedSettings::Dword(L"GooglePlayIdKnown"), 0u);

    ClearedSettings::SetDword(L"Bluetooth", 0);
    ClearedSettings::SetDword(L"Tray", 0);
    Reload();
    EXPECT_TRUE(events.WaitFor("bluetooth stop"));
    EXPECT_TRUE(events.WaitFor("tray close"));

    ClearedSettings::SetDword(L"Bluetooth", 1);
    ClearedSettings::SetDword(L"Tray", 1);
    Reload();
    EXPECT_TRUE(events.WaitFor("bluetooth start", 2));
    EXPECT_TRUE(events.WaitFor("tray start", 2));

    for (int request = 1; request <= 2; ++request)
    {
        Pd::Core::SignalNamedEvent(Pd::Host::RegisterEventName);
        EXPECT_TRUE(events.WaitFor("register", request));
    }

    Pd::Host::Stop();
    ASSERT_EQ(host.wait_for(Pd::Test::HangLimit), std::future_status::ready);
    EXPECT_EQ(host.get(), 0);
    std::vector<std::string> all = events.All();
    EXPECT_EQ(std::vector<std::string>(all.end() - 5, all.end()),
              (std::vector<std::string>{"tray close", "notices stop", "bluetooth stop", "telephony stop",
                                        "registration stop"}));
    EXPECT_EQ(log.Count("host: stopping"), 1u);
    EXPECT_FALSE(Pd::UniqueHandle(::OpenMutexW(SYNCHRONIZE, FALSE, Pd::Host::HostMutexName)));
}

// Root settings written behind the host's back are served only once the user confirms them; a
// declined widening is written back, asked again only once the user turned a setting on in an
// elevated Peldra (whatever event another program sets), and turning off lowers what is confirmed.
TEST_F(BackgroundHostTest, AWiderRootSettingIsServedOnlyOnceConfirmed)
{
    ClearedSettings root{{L"Elevation", L"ElevationSu", L"ElevationMagisk", L"MagiskOffPending"}};
    const std::wstring user = Pd::Core::ProcessUserSid();
    Pd::Core::ScopeExit clearRecords([&] {
        for (const std::wstring& name : {L"RootConfirmed-" + user, L"RootChoices-" + user})
            ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Ormel\\Peldra", name.c_str());
    });
    ASSERT_EQ(Pd::Host::RecordConfirmedRootSettings({true, false, false}), ERROR_SUCCESS);
    ClearedSettings::SetDword(L"Elevation", 1);
    std::atomic<bool> answer = false;
    parts.confirmRoot = [&](const Pd::Host::RootSettings&, const Pd::Host::RootSettings& stored,
                            std::stop_token) {
        events.Add(stored.magisk ? "confirm magisk" : "confirm");
        return answer.load();
    };
    parts.elevation = [this](std::stop_token stop, Pd::Bio::Elevation::Mode mode) {
        Body(mode.magisk ? "magisk" : "root")(stop);
    };
    std::future<int> host = Start();
    ASSERT_TRUE(events.WaitFor("root start"));
    // The first pass ends with the tray: a setting changed before then would be its own. Each
    // write below turns the tray over, so that the pass is seen to have settled it.
    ASSERT_TRUE(events.WaitFor("tray start"));
    size_t trayStarts = 1, trayCloses = 0;
    auto writeAndWake = [&](const wchar_t* name) {
        const bool trayOn = trayCloses == trayStarts;
        ClearedSettings::SetDword(name, 1);
        ClearedSettings::SetDword(L"Tray", trayOn ? 1 : 0);
        Reload();
        ASSERT_TRUE(trayOn ? events.WaitFor("tray start", ++trayStarts)
                           : events.WaitFor("tray close", ++trayCloses));
        EXPECT_EQ(ClearedSettings::Dword(name), 0u) << "written back";
    };

    writeAndWake(L"ElevationMagisk");
    EXPECT_EQ(
        log.Count("host: the wider root settings were not confirmed; the previous ones are written back"),
        1u);
    // The same change again is written back unasked, and said once; so is another widening after
    // its own prompt, in turn with the first. An event another program sets re-arms nothing.
    Pd::UniqueHandle oldRequest(::CreateEventW(nullptr, FALSE, TRUE, L"Local\\Peldra.Host.RootRequest"));
    for (int round = 0; round < 3; ++round)
    {
        writeAndWake(L"ElevationMagisk");
        writeAndWake(L"ElevationSu");
        ::SetEvent(oldRequest.Get());
    }
    EXPECT_EQ(log.Count("host: another program changed the root settings again; written back without asking"),
              2u)
        << "once after each prompt";
    EXPECT_EQ(
        log.Count("host: the wider root settings were not confirmed; the previous ones are written back"),
        2u);

    // The user turned a setting on in Peldra: asked again, and confirmed.
    answer = true;
    ASSERT_EQ(Pd::Host::CountRootChoice(), ERROR_SUCCESS);
    ClearedSettings::SetDword(L"ElevationMagisk", 1);
    Reload();
    ASSERT_TRUE(events.WaitFor("magisk start"));
    EXPECT_EQ(Pd::Host::ConfirmedRootSettings(), (Pd::Host::RootSettings{true, false, true}));

    ClearedSettings::SetDword(L"Elevation", 0);
    Reload();
    ASSERT_TRUE(events.WaitFor("magisk stop"));
    EXPECT_EQ(Pd::Host::ConfirmedRootSettings(), (Pd::Host::RootSettings{false, false, true}));
    Pd::Host::Stop();
    ASSERT_EQ(host.wait_for(Pd::Test::HangLimit), std::future_status::ready);
    const std::vector<std::string> all = events.All();
    EXPECT_EQ(std::count(all.begin(), all.end(), "confirm magisk"), 2);
    EXPECT_EQ(std::count(all.begin(), all.end(), "confirm"), 1);
    EXPECT_EQ(std::count(all.begin(), all.end(), "root start"), 1) << "the declined change restarted nothing";
}

// A body that has returned still holds its slot: it starts again only after the setting went off.
TEST(BluetoothSlot, AnEndedBridgeIsNotRestartedUntilTurnedOff)
{
    std::atomic<int> starts{0};
    std::promise<void> firstEnded;
    Pd::Host::ThreadBody body = [&](std::stop_token) {
        if (++starts == 1)
            firstEnded.set_value(); // ends on its own, as without an adapter
    };
    std::jthread slot;
    Pd::Host::SetBluetoothBridgeRunningWith(slot, true, body);
    firstEnded.get_future().wait();
    Pd::Host::SetBluetoothBridgeRunningWith(slot, true, body);
    Pd::Host::SetBluetoothBridgeRunningWith(slot, false, body);
    EXPECT_EQ(starts.load(), 1);
    EXPECT_FALSE(slot.joinable());
    Pd::Host::SetBluetoothBridgeRunningWith(slot, true, body);
    slot.join();
    EXPECT_EQ(starts.load(), 2);
}

} // namespace
