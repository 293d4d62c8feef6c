#include "core/host/HostControl.h"
#include "core/host/HostSettings.h"
#include "core/host/RootConsent.h"

#include "core/DefaultInstallFolder.h"
#include "core/Elevation.h"
#include "core/Module.h"
#include "core/ScopeExit.h"
#include "core/Text.h"
#include "HostStandIn.h"
#include "tests/support/HangLimit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <tuple>

namespace
{

using Pd::Test::ClearedSettings;
using Pd::Test::HostObjects;

const std::vector<std::wstring> HostValues = {
    L"Bluetooth",        L"Elevation",       L"ElevationSu", L"ElevationMagisk",
    L"MagiskOffPending", L"MagiskInAndroid", L"Tray",        L"HelloRemember"};

bool InstalledHostExists()
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::path(Pd::Core::DefaultInstallFolder()) / L"Peldra.exe",
                                   error);
}

// Watches for this test exe being started as the host.
class HostStartWatch
{
public:
    HostStartWatch() : started_(::CreateEventW(nullptr, TRUE, FALSE, Pd::Test::HostStartedEventName)) {}
    bool Started(DWORD waitMs) const
    {
        return ::WaitForSingleObject(started_.Get(), waitMs) == WAIT_OBJECT_0;
    }

private:
    Pd::UniqueHandle started_;
};

TEST(HostSettings, MissingOrUnreadableValuesReadAsOffExceptTheTray)
{
    ClearedSettings cleared(HostValues);
    EXPECT_FALSE(Pd::Host::BluetoothEnabled());
    EXPECT_FALSE(Pd::Host::ElevationEnabled());
    EXPECT_FALSE(Pd::Host::ElevationSuEnabled());
    EXPECT_FALSE(Pd::Host::ElevationMagiskEnabled());
    EXPECT_FALSE(Pd::Host::MagiskOffPending());
    EXPECT_TRUE(Pd::Host::TrayEnabled());
    EXPECT_EQ(Pd::Host::HelloRememberMinutes(), 0u);
    ClearedSettings::SetDword(L"Tray", 0);
    EXPECT_FALSE(Pd::Host::TrayEnabled()) << "off only for a stored zero";
    ClearedSettings::SetDword(L"Tray", 7);
    EXPECT_TRUE(Pd::Host::TrayEnabled());
    ClearedSettings::SetText(L"Tray", L"0");
    EXPECT_TRUE(Pd::Host::TrayEnabled()) << "a value of another type cannot be read: on";
    ClearedSettings::SetText(L"Bluetooth", L"1");
    EXPECT_FALSE(Pd::Host::BluetoothEnabled()) << "a value of another type cannot be read: off";
}

// Remembering Windows Hello weakens the fingerprint prompt: only the machine's value (which only
// administrators can change) lengthens it; the per-user value an unelevated program can write
// only shortens it.
TEST(HostSettings, TheHelloRememberTimeComesFromTheAdministratorsStoreAndTheUsersValueOnlyShortensIt)
{
    using Pd::Host::Detail::TrustedRememberMinutes;
    constexpr std::uint32_t UntilLocked = 0xFFFFFFFF;
    EXPECT_EQ(TrustedRememberMinutes(std::nullopt, std::nullopt), 0u);
    EXPECT_EQ(TrustedRememberMinutes(std::nullopt, UntilLocked), 0u) << "an older install's value";
    EXPECT_EQ(TrustedRememberMinutes(30, std::nullopt), 30u);
    EXPECT_EQ(TrustedRememberMinutes(5, 30), 5u);
    EXPECT_EQ(TrustedRememberMinutes(UntilLocked, 30), 30u);
    EXPECT_EQ(TrustedRememberMinutes(UntilLocked, 0), 0u);

    ClearedSettings cleared(HostValues);
    ClearedSettings::SetDword(L"HelloRemember", UntilLocked);
    ASSERT_TRUE(Pd::Host::SetHelloRememberMinutes(0));
    ClearedSettings::SetDword(L"HelloRemember", UntilLocked);
    EXPECT_EQ(Pd::Host::HelloRememberMinutes(), 0u) << "the per-user value alone";
    ASSERT_TRUE(Pd::Host::SetHelloRememberMinutes(30));
    EXPECT_EQ(Pd::Host::HelloRememberMinutes(), 30u);
    ClearedSettings::SetDword(L"HelloRemember", 5);
    EXPECT_EQ(Pd::Host::HelloRememberMinutes(), 5u);
    ASSERT_TRUE(Pd::Host::SetHelloRememberMinutes(0));
}

// A root setting that lets more happen than the confirmed one is asked first (and kept out when
// declined); narrowing, or a change that root being off makes moot, is taken as it is.
TEST(RootConsent, OnlyAWideningChangeIsAskedAndADeclinedOneIsWrittenBack)
{
    using Pd::Host::RootChangeStep;
    using Pd::Host::RootSettings;
    const RootSettings off, root{true}, su{true, true}, magisk{true, false, true}, all{true, true, true};
    struct Case
    {
        RootSettings confirmed, stored;
        bool elevated, answer, asked;
        RootChangeStep step;
    };
    const Case cases[] = {
        {off, root, true, true, true, RootChangeStep::Adopt},
        {off, root, true, false, true, RootChangeStep::WriteBack},
        {root, su, true, false, true, RootChangeStep::WriteBack},
        {root, magisk, true, false, true, RootChangeStep::WriteBack},
        {su, all, true, false, true, RootChangeStep::WriteBack}, // Magisk's prompt replaces Windows Hello's
        {su, magisk, true, true, true, RootChangeStep::Adopt},
        {magisk, su, true, false, false, RootChangeStep::Adopt}, // Windows Hello again, for the same apps
        {magisk, all, true, false, false, RootChangeStep::Adopt},
        {all, off, true, false, false, RootChangeStep::Adopt},
        {off, {false, true, true}, true, false, false, RootChangeStep::Adopt}, // root off allows nothing
        {off, all, false, false, false, RootChangeStep::Adopt}, // an unelevated host serves no root
    };
    for (const Case& c : cases)
    {
        bool asked = false;
        const RootChangeStep step = Pd::Host::DecideRootChange(c.confirmed, c.stored, c.elevated, false, [&] {
            asked = true;
            return c.answer;
        });
        const auto name = ::testing::Message()
                          << "from " << c.confirmed.root << c.confirmed.su << c.confirmed.magisk << " to "
                          << c.stored.root << c.stored.su << c.stored.magisk;
        EXPECT_EQ(asked, c.asked) << name;
        EXPECT_EQ(step, c.step) << name;
    }
    EXPECT_EQ(Pd::Host::DecideRootChange(off, root, true, false, nullptr), RootChangeStep::WriteBack)
        << "nobody to ask";
    // A change the user declined comes back without a prompt; turning things off still counts.
    EXPECT_EQ(Pd::Host::DecideRootChange(off, root, true, true, [] { return true; }),
              RootChangeStep::WriteBack);
    // What was declined covers every widening that includes it, and nothing less.
    using Pd::Host::WideningOf;
    Pd::Host::DeclinedWidenings declined;
    declined.Add(WideningOf(root, su));
    EXPECT_TRUE(declined.Cover(WideningOf(root, su)));
    EXPECT_TRUE(declined.Cover(WideningOf(off, su))) << "root with it";
    EXPECT_TRUE(declined.Cover(WideningOf(root, magisk))) << "Magisk's own su with it";
    EXPECT_FALSE(declined.Cover(WideningOf(off, root)));
    EXPECT_FALSE(declined.Cover(WideningOf(su, magisk))) << "Magisk's prompt alone";
    declined.Clear();
    EXPECT_FALSE(declined.Cover(WideningOf(root, su)));
    declined.Add(WideningOf(all, off));
    EXPECT_FALSE(declined.Cover(WideningOf(off, root))) << "turning off declines nothing";
}

// The record after a choice comes from it and the confirmed settings alone: off is their minimum,
// on adds the chosen setting, never a value preset beside it; what widens is asked first.
TEST(RootConsent, TheRecordFollowsTheChoiceAlone)
{
    using Pd::Host::RootSetting;
    using Pd::Host::RootSettings;
    const RootSettings off, root{true}, su{true, true}, magisk{true, false, true}, all{true, true, true},
        magiskOnly{false, false, true};
    const std::tuple<RootSettings, Pd::Host::RootChoice, RootSettings, bool> cases[] = {
        {all, {RootSetting::Root, false}, {false, true, true}, false},
        {all, {RootSetting::Su, false}, magisk, false},
        {off, {RootSetting::Root, true}, root, true},
        {magiskOnly, {RootSetting::Root, true}, magisk, true}, // asked with Magisk mode by name
        {root, {RootSetting::Su, true}, su, true},
        {off, {RootSetting::Magisk, true}, magiskOnly, false}, // root off: nothing to serve yet
    };
    for (const auto& [confirmed, choice, expected, asked] : cases)
    {
        SCOPED_TRACE(&expected - &std::get<2>(cases[0]));
        const RootSettings record = Pd::Host::RecordAfterChoice(confirmed, choice);
        EXPECT_EQ(record, expected);
        EXPECT_EQ(Pd::Host::Widens(confirmed, record), asked);
    }
}

// Without administrator rights (played) "off" is done once the host recorded it, and says so when
// not; a record that cannot be written is an error. The writer racing "off" is the road's.
TEST(HostSettings, AnOffThatCannotBeRecordedSaysSo)
{
    using Pd::Host::RootSettings;
    ClearedSettings cleared(HostValues);
    const std::wstring recordName = L"RootConfirmed-" + Pd::Core::ProcessUserSid();
    Pd::Core::ScopeExit clearRecord(
        [&] { ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Ormel\\Peldra", recordName.c_str()); });
    ASSERT_EQ(Pd::Host::RecordConfirmedRootSettings({false, true, true}), ERROR_SUCCESS);
    const auto original = Pd::Host::Detail::RecordRootFunction;
    Pd::Host::Detail::RecordRootFunction = [](const RootSettings&) -> long { return ERROR_ACCESS_DENIED; };
    EXPECT_EQ(Pd::Host::SetElevationSu(false),
              Pd::Result<>(Pd::Fail(Pd::Core::Text(Pd::TextId::RootOffNotTakenYet))))
        << "no host runs to record it";
    {
        HostObjects host;
        std::jthread recorder([&] { // the elevated host's pass
            if (host.WaitForReload(Pd::Test::HangLimitMs))
                Pd::Host::RecordConfirmedRootSettings({false, false, true});
        });
        EXPECT_TRUE(Pd::Host::SetElevationSu(false));
    }
    Pd::Host::Detail::RecordRootFunction = [](const RootSettings&) -> long { return ERROR_WRITE_FAULT; };
    EXPECT_EQ(
        Pd::Host::SetElevationMagisk(false),
        Pd::Result<>(Pd::Fail(Pd::Core::FormatText(Pd::TextId::RootRecordNotLowered, ERROR_WRITE_FAULT))));
    Pd::Host::Detail::RecordRootFunction = original;
}

TEST(HostSettings, EverySetterStoresItsValueAndWakesTheRunningHost)
{
    ClearedSettings cleared(HostValues);
    HostObjects host;
    struct Setter
    {
        const wchar_t* value;
        Pd::Result<> (*set)(bool);
    };
    for (const Setter& setter : {Setter{L"Bluetooth", &Pd::Host::SetBluetoothEnabled},
                                 Setter{L"Elevation", &Pd::Host::SetElevationEnabled},
                                 Setter{L"ElevationSu", &Pd::Host::SetElevationSu},
                                 Setter{L"ElevationMagisk", &Pd::Host::SetElevationMagisk},
                                 Setter{L"Tray", &Pd::Host::SetTrayEnabled}})
    {
        for (bool on : {true, false})
        {
            ASSERT_TRUE(setter.set(on)) << setter.value;
            EXPECT_EQ(ClearedSettings::Dword(setter.value), on ? 1u : 0u) << setter.value;
            EXPECT_TRUE(host.ReloadSet()) << setter.value;
            EXPECT_FALSE(host.ReloadSet()) << "the Reload event is auto-reset";
        }
    }
}

TEST(HostSettings, RootAndMagiskChangesAwaitAndroidsConfirmation)
{
    ClearedSettings cleared(HostValues);
    HostObjects host;
    ASSERT_TRUE(Pd::Host::SetElevationEnabled(true));
    EXPECT_EQ(ClearedSettings::Dword(L"Elevation"), 1u);
    EXPECT_FALSE(ClearedSettings::Dword(L"MagiskInAndroid")) << "without Magisk only Elevation is written";
    ASSERT_TRUE(Pd::Host::SetElevationMagisk(false)); // already off
    EXPECT_FALSE(ClearedSettings::Dword(L"MagiskOffPending")) << "untouched";
    EXPECT_EQ(ClearedSettings::Dword(L"MagiskInAndroid"), 2u);

    ASSERT_TRUE(Pd::Host::SetElevationMagisk(true));
    EXPECT_EQ(ClearedSettings::Dword(L"MagiskOffPending"), 0u);
    EXPECT_EQ(ClearedSettings::Dword(L"ElevationMagisk"), 1u);
    // Root turned off in Magisk mode marks Magisk for removal.
    ClearedSettings::SetDword(L"MagiskInAndroid", 0);
    ASSERT_TRUE(Pd::Host::SetElevationEnabled(false));
    EXPECT_EQ(ClearedSettings::Dword(L"MagiskOffPending"), 1u);
    EXPECT_EQ(ClearedSettings::Dword(L"MagiskInAndroid"), 2u);
    EXPECT_EQ(ClearedSettings::Dword(L"Elevation"), 0u);
    EXPECT_EQ(ClearedSettings::Dword(L"ElevationMagisk"), 1u);

    ClearedSettings::SetDword(L"MagiskOffPending", 0);
    ASSERT_TRUE(Pd::Host::SetElevationMagisk(false));
    EXPECT_EQ(ClearedSettings::Dword(L"MagiskOffPending"), 1u);
    EXPECT_EQ(ClearedSettings::Dword(L"ElevationMagisk"), 0u);
}

TEST(HostSettings, SettingsWithoutABridgeNeverStartAHost)
{
    ClearedSettings cleared(HostValues);
    HostStartWatch watch;
    ASSERT_TRUE(Pd::Host::SetElevationSu(true));
    ASSERT_TRUE(Pd::Host::SetTrayEnabled(false));
    EXPECT_EQ(ClearedSettings::Dword(L"ElevationSu"), 1u);
    EXPECT_FALSE(watch.Started(1000));
}

// A bridge setting starts a missing host, also when it turns the bridge off; only ever from the
// installed copy, never from this program's own file, which may lie in a user's folder.
TEST(HostSettings, TurningABridgeOffStartsAMissingHostOnlyFromTheInstalledCopy)
{
    if (InstalledHostExists())
        GTEST_SKIP() << "an installed Peldra.exe is left over from another test";
    ClearedSettings cleared(HostValues);
    const std::filesystem::path installed = Pd::Host::InstalledHostExePath();
    HostStartWatch watch;
    EXPECT_EQ(Pd::Host::SetBluetoothEnabled(false),
              Pd::Result<>(Pd::Fail(Pd::Core::FormatText(Pd::TextId::HostCopyMissing, installed.wstring()))));
    EXPECT_EQ(ClearedSettings::Dword(L"Bluetooth"), 0u) << "stored all the same";
    ASSERT_FALSE(watch.Started(1000)) << "this test exe was started as the host";
    // This test exe as the installed copy: it is the one started, but for a caller without
    // administrator rights only through the logon task (played: under Wine every process is elevated).
    std::filesystem::create_directories(installed.parent_path());
    ASSERT_TRUE(std::filesystem::copy_file(Pd::Core::ModulePath(), installed));
    Pd::Host::Detail::IsElevatedFunction = [] { return false; };
    EXPECT_EQ(Pd::Host::SetBluetoothEnabled(false),
              Pd::Result<>(Pd::Fail(Pd::Core::Text(Pd::TextId::HostTaskMissing))));
    Pd::Host::Detail::IsElevatedFunction = nullptr;
    ASSERT_FALSE(watch.Started(1000)) << "started with this process's own rights";
    EXPECT_TRUE(Pd::Host::SetBluetoothEnabled(false));
    EXPECT_TRUE(watch.Started(Pd::Test::HangLimitMs))
        << "the host was started as \"<installed>\" host --background";
    std::error_code ignored;
    std::filesystem::remove(installed, ignored);
}

TEST(HostControl, EnsureRunningStartsNothingWhileAHostRuns)
{
    HostObjects host;
    HostStartWatch watch;
    EXPECT_TRUE(Pd::Host::EnsureRunning());
    EXPECT_FALSE(watch.Started(1000));
}

TEST(HostControl, StopWithoutAHostTouchesNoEvent)
{
    Pd::UniqueHandle stop(::CreateEventW(nullptr, TRUE, FALSE, Pd::Host::StopEventName));
    Pd::Host::Stop();
    EXPECT_EQ(::WaitForSingleObject(stop.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(HostControl, StopSetsTheStopEventAndReturnsWhenTheHostReleasesOrAbandonsItsMutex)
{
    for (bool abandon : {false, true})
    {
        HostObjects host(true, abandon);
        auto started = std::chrono::steady_clock::now();
        Pd::Host::Stop();
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(9))
            << "not the 10 s time-out";
        EXPECT_TRUE(host.StopSet());
        EXPECT_TRUE(host.MutexFree()) << "Stop took the mutex and gave it back; abandoned: " << abandon;
    }
}

// An elevated host's objects refuse an unelevated caller; Wine enforces no integrity levels, so
// the refusal is played through the controls' opener.
TEST(HostControl, AHostThatRefusesThisProcessIsReportedAndNoSecondHostStarts)
{
    ClearedSettings cleared(HostValues);
    auto original = Pd::Host::Detail::OpenHostMutexFunction;
    Pd::Host::Detail::OpenHostMutexFunction = [](DWORD, BOOL, LPCWSTR) -> HANDLE {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    };
    HostStartWatch watch;
    const std::wstring refused = Pd::Core::Text(Pd::TextId::HostRefusesAccess);
    EXPECT_EQ(Pd::Host::FindHost(), Pd::Host::HostPresence::Unreachable);
    EXPECT_FALSE(Pd::Host::NotifyHostReload());
    for (const Pd::Result<>& result :
         {Pd::Host::EnsureRunning(), Pd::Host::SetBluetoothEnabled(true),
          Pd::Host::SetElevationEnabled(false), Pd::Host::SetElevationMagisk(false),
          Pd::Host::SetElevationSu(true), Pd::Host::SetTrayEnabled(true)})
        EXPECT_EQ(result, Pd::Result<>(Pd::Fail(refused)));
    Pd::Host::Detail::OpenHostMutexFunction = original;
    EXPECT_FALSE(watch.Started(1000));
    EXPECT_EQ(Pd::Host::FindHost(), Pd::Host::HostPresence::None);
}

} // namespace
