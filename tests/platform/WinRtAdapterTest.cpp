// The real Windows Runtime adapters against the test classes registered in this test's prefix
// (tests/support/winrt-classes), scripted through the environment.
#include "core/Strings.h"
#include "platform/RealServices.h"
#include "platform/winrt/Runtime.h"
#include "tests/platform/WinRtScripted.h"
#include "tests/support/HangLimit.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

namespace Pd::Platform
{
namespace
{

class WinRtAdapter : public WinRtScripted
{
protected:
    void SetUp() override
    {
        Clear({L"PD_TEST_PACKAGES", L"PD_TEST_FAMILIES", L"PD_TEST_DEPLOY", L"PD_TEST_WALK",
               L"PD_TEST_AVAILABILITY", L"PD_TEST_VERIFY", L"PD_TEST_CALLS", L"PD_TEST_ADVERTISEMENT",
               L"PD_TEST_USERS", L"PD_TEST_LE_OPEN", L"PD_TEST_GATT", L"PD_TEST_GATT_STATUS",
               L"PD_TEST_GATT_LIST", L"PD_TEST_APN", L"PD_TEST_APN_PROFILE", L"PD_TEST_UNREGISTERED"});
    }
};

TEST_F(WinRtAdapter, PackagesAreDescribedAndFilteredByFamily)
{
    Script(L"PD_TEST_PACKAGES", L"Tovik|8wekyb3d8bbwe|1.2.3.4|9|C:\\Apps\\Tovik|1;Other|abc|2.0.0.0|12||0");
    PackageWalk mine = Real::Packages()->FindPackagesForCurrentUser();
    ASSERT_FALSE(mine.stoppedBy) << Core::ToUtf8(mine.stoppedBy->text);
    ASSERT_EQ(mine.packages.size(), 2u);
    const Package& tovik = mine.packages[0];
    EXPECT_EQ(tovik.name, L"Tovik");
    EXPECT_EQ(tovik.familyName, L"Tovik_8wekyb3d8bbwe");
    EXPECT_EQ(tovik.fullName, L"Tovik_1.2.3.4_x64__8wekyb3d8bbwe");
    EXPECT_EQ(tovik.version.revision, 4);
    EXPECT_EQ(tovik.architecture, L"x64");
    EXPECT_EQ(tovik.installLocation, L"C:\\Apps\\Tovik");
    EXPECT_TRUE(tovik.developmentMode);
    EXPECT_EQ(mine.packages[1].architecture, L"arm64");
    EXPECT_FALSE(mine.packages[1].installLocation); // unreadable, not empty
    EXPECT_NE(Calls().find(L"FindPackagesByUserSecurityId []"), std::wstring::npos);

    PackageWalk family = Real::Packages()->FindPackagesByFamilyName(L"Other_abc");
    ASSERT_EQ(family.packages.size(), 1u);
    EXPECT_EQ(family.packages[0].name, L"Other");
}

TEST_F(WinRtAdapter, BrokenWalkKeepsWhatWasRead)
{
    Script(L"PD_TEST_PACKAGES", L"A|p|1.0.0.0|9||0;B|p|1.0.0.0|9||0");
    Script(L"PD_TEST_WALK", L"break");
    PackageWalk walk = Real::Packages()->FindPackagesForCurrentUser();
    ASSERT_EQ(walk.packages.size(), 1u);
    ASSERT_TRUE(walk.stoppedBy);
    EXPECT_EQ(walk.stoppedBy->code, HRESULT_FROM_WIN32(ERROR_NOT_READY));
}

TEST_F(WinRtAdapter, DeploymentsPassTheirPathAsFileUriAndReportTheResult)
{
    const struct
    {
        const wchar_t* script;
        HRESULT code; // S_OK: succeeds
        const wchar_t* text;
    } rows[] = {
        {L"", S_OK, L""},
        {L"thread", S_OK, L""},
        {L"error 80073CFB The package could not be installed because resources it modifies are in use.",
         static_cast<HRESULT>(0x80073CFBL), L"resources it modifies are in use."},
        {L"start 80070005", E_ACCESSDENIED, L""},
    };
    for (const auto& row : rows)
    {
        SetUp();
        Script(L"PD_TEST_DEPLOY", row.script);
        auto registered =
            Real::Packages()->RegisterPackage(L"C:\\Tovik 1#\\AppxManifest.xml", DevelopmentMode);
        EXPECT_EQ(registered ? S_OK : registered.error().code, row.code) << Core::ToUtf8(row.script);
        if (!registered)
        {
            EXPECT_NE(registered.error().text.find(row.text), std::wstring::npos)
                << Core::ToUtf8(registered.error().text);
        }
        EXPECT_EQ(Calls(), L"RegisterPackageAsync file:///C:/Tovik%201%23/AppxManifest.xml 2\n");
    }
    SetUp();
    EXPECT_TRUE(Real::Packages()->RemovePackage(L"Tovik_1.2.3.4_x64__p", PreserveApplicationData));
    EXPECT_TRUE(Real::Packages()->AddPackage(L"\\\\server\\share\\Dep.appx", ForceApplicationShutdown));
    EXPECT_EQ(Calls(), L"RemovePackageWithOptionsAsync Tovik_1.2.3.4_x64__p 4096\n"
                       L"AddPackageAsync file://server/share/Dep.appx 1\n");
}

TEST_F(WinRtAdapter, UsersOfAPackageAreListedByTheirSecurityIds)
{
    const struct
    {
        const wchar_t* users;
        const wchar_t* walk;
        HRESULT code; // S_OK: these users
        std::vector<std::wstring> expected;
    } rows[] = {
        {L"S-1-5-21-1;S-1-5-21-2", L"", S_OK, {L"S-1-5-21-1", L"S-1-5-21-2"}},
        {L"", L"", S_OK, {}},
        {L"start 80070005", L"", E_ACCESSDENIED, {}},
        {L"S-1-5-21-1;S-1-5-21-2", L"break", HRESULT_FROM_WIN32(ERROR_NOT_READY), {}},
        {L"S-1-5-21-1;;S-1-5-21-2", L"", E_UNEXPECTED, {}}, // a user without an id is not skipped
    };
    for (const auto& row : rows)
    {
        SetUp();
        Script(L"PD_TEST_USERS", row.users);
        Script(L"PD_TEST_WALK", row.walk);
        auto users = Real::Packages()->FindUsers(L"Tovik_1.0.0.0_x64__p");
        EXPECT_EQ(users ? S_OK : users.error().code, row.code) << Core::ToUtf8(row.users);
        if (users)
        {
            EXPECT_EQ(*users, row.expected);
        }
        EXPECT_EQ(Calls(), L"FindUsers Tovik_1.0.0.0_x64__p\n");
    }
}

TEST_F(WinRtAdapter, SettingValuesOfAFamily)
{
    Script(L"PD_TEST_FAMILIES", L"Tovik_p");
    auto packages = Real::Packages();
    EXPECT_EQ(packages->HasSettingValue(L"Tovik_p", L"Ready"), false);
    ASSERT_TRUE(packages->InsertSettingValue(L"Tovik_p", L"Ready", false));
    EXPECT_EQ(packages->HasSettingValue(L"Tovik_p", L"Ready"), true);
    auto unknown = packages->HasSettingValue(L"Gone_p", L"Ready");
    ASSERT_FALSE(unknown);
    EXPECT_EQ(unknown.error().code, HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
}

TEST_F(WinRtAdapter, ConsentAvailabilityAndAnsweredPrompt)
{
    Script(L"PD_TEST_AVAILABILITY", L"3");
    EXPECT_EQ(Real::UserConsent()->CheckAvailability(), 3u);

    Script(L"PD_TEST_VERIFY", L"0");
    const HWND owner =
        ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    auto request = Real::UserConsent()->RequestVerification(owner, L"Allow root?");
    ASSERT_TRUE(request) << Core::ToUtf8(request.error().text);
    HANDLE ended = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD endedOn = 0;
    (*request)->OnCompleted([&] {
        endedOn = ::GetCurrentThreadId();
        ::SetEvent(ended);
    });
    ASSERT_EQ(::WaitForSingleObject(ended, Pd::Test::HangLimitMs), WAIT_OBJECT_0);
    EXPECT_NE(endedOn, ::GetCurrentThreadId());
    EXPECT_EQ((*request)->Status(), ConsentStatus::Completed);
    EXPECT_EQ((*request)->Result(), 0u);
    EXPECT_NE(Calls().find(L"RequestVerificationForWindowAsync window Allow root?"), std::wstring::npos);
    ::CloseHandle(ended);
    ::DestroyWindow(owner);
}

TEST_F(WinRtAdapter, CanceledPromptHasNoResult)
{
    Script(L"PD_TEST_VERIFY", L"hang");
    auto request = Real::UserConsent()->RequestVerification(nullptr, L"Allow?");
    ASSERT_TRUE(request);
    EXPECT_EQ((*request)->Status(), ConsentStatus::Started);
    EXPECT_FALSE((*request)->Result());
    bool ran = false;
    (*request)->Cancel();
    (*request)->OnCompleted([&] { ran = true; }); // already ended: runs at once, here
    EXPECT_TRUE(ran);
    EXPECT_EQ((*request)->Status(), ConsentStatus::Canceled);
    auto result = (*request)->Result();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, HRESULT_FROM_WIN32(ERROR_CANCELLED));
    EXPECT_NE(Calls().find(L"RequestVerificationAsync Allow?"), std::wstring::npos);
}

TEST_F(WinRtAdapter, FailedPromptCarriesItsCode)
{
    Script(L"PD_TEST_VERIFY", L"error 80070490");
    auto request = Real::UserConsent()->RequestVerification(nullptr, L"Allow?");
    ASSERT_TRUE(request);
    ASSERT_TRUE(Pd::Test::PollUntil([&] { return (*request)->Status() != ConsentStatus::Started; }));
    auto result = (*request)->Result();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
}

TEST_F(WinRtAdapter, WatcherDeliversAdvertisementsUntilTheHandlerIsRemoved)
{
    Script(L"PD_TEST_ADVERTISEMENT", L"A1B2C3D4E5F6 1 2 -60 0 1 09:54657374 ff:4c00");
    auto watcher = Real::CreateAdvertisementWatcher(ScanningMode::Active);
    ASSERT_TRUE(watcher) << Core::ToUtf8(watcher.error().text);
    std::mutex mutex;
    std::optional<ReceivedAdvertisement> first;
    std::atomic<int> calls{0};
    std::atomic<bool> removed{false}, late{false};
    auto token = (*watcher)->AddReceived([&](const ReceivedAdvertisement& received) {
        if (removed)
            late = true;
        {
            std::lock_guard lock(mutex);
            if (!first)
                first = received;
        }
        ++calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    ASSERT_TRUE(token);
    ASSERT_TRUE((*watcher)->Start());
    ASSERT_TRUE(Pd::Test::PollUntil([&] { return calls >= 20; }));
    (*watcher)->RemoveReceived(*token); // while the source fires from its own thread
    removed = true;
    const int seen = calls;
    // Stopping ends the source's thread: an advertisement it took in hand with the handler before
    // the removal has been handed on by then.
    ASSERT_TRUE((*watcher)->Stop());
    EXPECT_EQ(calls.load(), seen);
    EXPECT_FALSE(late.load());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->address, 0xA1B2C3D4E5F6u);
    EXPECT_TRUE(first->randomAddress);
    EXPECT_EQ(first->type, AdvertisementType::ScannableUndirected);
    EXPECT_EQ(first->rawSignalStrengthInDBm, -60);
    EXPECT_FALSE(first->isConnectable);
    EXPECT_TRUE(first->isScannable);
    ASSERT_EQ(first->sections.size(), 2u);
    EXPECT_EQ(first->sections[0].type, 0x09);
    EXPECT_EQ(first->sections[0].data, (std::vector<std::uint8_t>{'T', 'e', 's', 't'}));
    EXPECT_EQ(first->sections[1].data, (std::vector<std::uint8_t>{0x4c, 0x00}));
    EXPECT_NE(Calls().find(L"ScanningMode 1\nRemoveReceived " + std::to_wstring(*token)), std::wstring::npos);
}

TEST_F(WinRtAdapter, LeDeviceListsItsGattDatabaseFromTheDevice)
{
    Script(L"PD_TEST_LE_OPEN", L"thread");
    Script(L"PD_TEST_GATT_LIST", L"thread"); // every listing ends later, on another thread
    Script(L"PD_TEST_GATT", L"s:1:1800:0;c:2:2a00:10:0;d:4:2901;d:5:2902;s:10:180f:3;c:11:2a19:2:0");
    auto device = Real::OpenLeDevice(0xC0FFEE000001, true);
    ASSERT_TRUE(device && *device);
    auto services = (*device)->GetGattServices({});
    ASSERT_TRUE(services) << Core::ToUtf8(services.error().text);
    ASSERT_EQ(services->items.size(), 2u);
    EXPECT_EQ(services->items[0]->AttributeHandle(), 1);
    EXPECT_EQ(services->items[1]->Uuid().Data1, 0x180Fu);
    auto characteristics = services->items[0]->GetCharacteristics({});
    ASSERT_TRUE(characteristics && characteristics->items.size() == 1u);
    const auto& name = *characteristics->items[0];
    EXPECT_EQ(name.AttributeHandle(), 2);
    EXPECT_EQ(name.Uuid().Data1, 0x2A00u);
    EXPECT_EQ(name.Properties(), 10u);
    auto descriptors = characteristics->items[0]->GetDescriptors({});
    ASSERT_TRUE(descriptors && descriptors->items.size() == 2u);
    EXPECT_EQ(descriptors->items[1]->AttributeHandle(), 5);
    EXPECT_EQ(descriptors->items[1]->Uuid().Data1, 0x2902u);
    auto denied = services->items[1]->GetCharacteristics({});
    ASSERT_TRUE(denied);
    EXPECT_EQ(denied->status, GattStatus::AccessDenied);
    EXPECT_TRUE(denied->items.empty()) << "nothing listed unless the status is Success";
    EXPECT_EQ(Calls(), L"FromBluetoothAddress C0FFEE000001 1\nGetGattServices 1\nGetCharacteristics 1 1\n"
                       L"GetDescriptors 2 1\nGetCharacteristics 10 1\n");
}

TEST_F(WinRtAdapter, LeDeviceFailuresCarryTheirCode)
{
    const struct
    {
        const wchar_t* open;
        const wchar_t* list;
        const wchar_t* walk;
        const wchar_t* unregistered;
        HRESULT openCode; // S_OK: the device opens, or is unknown (`known`)
        bool known;
        HRESULT listCode;
    } rows[] = {
        {L"error 80070005", L"", L"", L"", E_ACCESSDENIED, false, S_OK},
        {L"start 8007001F", L"", L"", L"", HRESULT_FROM_WIN32(ERROR_GEN_FAILURE), false, S_OK},
        {L"none", L"", L"", L"", S_OK, false, S_OK},
        {L"", L"", L"", L"Windows.Devices.Bluetooth.BluetoothLEDevice", REGDB_E_CLASSNOTREG, false, S_OK},
        {L"", L"error 8007048F", L"", L"", S_OK, true, HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)},
        {L"", L"start 80004005", L"", L"", S_OK, true, E_FAIL},
        {L"", L"", L"break", L"", S_OK, true, HRESULT_FROM_WIN32(ERROR_NOT_READY)},
    };
    for (const auto& row : rows)
    {
        SetUp();
        Script(L"PD_TEST_LE_OPEN", row.open);
        Script(L"PD_TEST_GATT_LIST", row.list);
        Script(L"PD_TEST_WALK", row.walk);
        Script(L"PD_TEST_UNREGISTERED", row.unregistered);
        Script(L"PD_TEST_GATT", L"s:1:1800:0;s:5:180a:0");
        auto device = Real::OpenLeDevice(0xC0FFEE000002, false);
        ASSERT_EQ(device ? S_OK : device.error().code, row.openCode) << Core::ToUtf8(row.open);
        if (!device)
        {
            EXPECT_NE(device.error().text.find(L"BluetoothLEDevice"), std::wstring::npos);
        }
        if (!device || !row.known)
        {
            EXPECT_FALSE(device && *device);
            continue;
        }
        auto services = (*device)->GetGattServices({});
        EXPECT_EQ(services ? S_OK : services.error().code, row.listCode) << Core::ToUtf8(row.list);
    }
}

TEST_F(WinRtAdapter, AccessPointIsAcquiredWithItsContextAndNamesItsAdapter)
{
    Script(L"PD_TEST_APN", L"thread");
    auto session = Real::CellularConnections()->AcquireConnection(
        {L"internet", L"me", L"secret", ApnAuthenticationType::Chap}, {});
    ASSERT_TRUE(session && *session) << (session ? "no session" : Core::ToUtf8(session.error().text));
    auto adapter = (*session)->NetworkAdapterId();
    ASSERT_TRUE(adapter && *adapter);
    EXPECT_EQ((*adapter)->Data1, 0x6a5b4c3du);
    for (const wchar_t* missing : {L"noprofile", L"noadapter"})
    {
        Script(L"PD_TEST_APN_PROFILE", missing);
        auto none = (*session)->NetworkAdapterId();
        ASSERT_TRUE(none);
        EXPECT_FALSE(*none) << Core::ToUtf8(missing);
    }
    EXPECT_TRUE((*session)->Close());
    EXPECT_EQ(Calls(), L"AcquireConnectionAsync internet|me|secret|2\nClose\n");
}

TEST_F(WinRtAdapter, AccessPointFailuresCarryTheirCode)
{
    const struct
    {
        const wchar_t* script;
        const wchar_t* unregistered;
        bool stopsWhileOpening; // the stop comes once Windows was asked
        HRESULT code;           // S_OK: completes without a session
    } rows[] = {
        {L"error 80070490", L"", false, HRESULT_FROM_WIN32(ERROR_NOT_FOUND)},
        {L"start 80004005", L"", false, E_FAIL},
        {L"nosession", L"", false, S_OK},
        {L"hang", L"", true, HRESULT_FROM_WIN32(ERROR_CANCELLED)},
        {L"", L"Windows.Networking.Connectivity.CellularApnContext", false, REGDB_E_CLASSNOTREG},
        {L"", L"Windows.Networking.Connectivity.ConnectivityManager", false, REGDB_E_CLASSNOTREG},
    };
    for (const auto& row : rows)
    {
        SetUp();
        Script(L"PD_TEST_APN", row.script);
        Script(L"PD_TEST_UNREGISTERED", row.unregistered);
        std::stop_source stop;
        std::jthread stopper([&] {
            if (!row.stopsWhileOpening)
                return;
            Pd::Test::PollUntil([] { return Calls().find(L"AcquireConnectionAsync") != std::wstring::npos; });
            stop.request_stop();
        });
        auto session = Real::CellularConnections()->AcquireConnection(
            {L"mms", L"", L"", ApnAuthenticationType::None}, stop.get_token());
        EXPECT_EQ(session ? S_OK : session.error().code, row.code) << Core::ToUtf8(row.script);
        EXPECT_FALSE(session && *session);
        if (*row.unregistered)
        {
            ASSERT_FALSE(session);
            EXPECT_NE(session.error().text.find(row.unregistered), std::wstring::npos);
        }
    }
}

TEST_F(WinRtAdapter, UnregisteredClassIsReportedAsSuch)
{
    auto factory = WinRt::ActivateInstanceOf(L"Windows.Devices.Sms.SmsTextMessage2");
    ASSERT_FALSE(factory);
    EXPECT_EQ(factory.error().code, REGDB_E_CLASSNOTREG);
    EXPECT_NE(factory.error().text.find(L"RoActivateInstance(Windows.Devices.Sms.SmsTextMessage2)"),
              std::wstring::npos);
}

} // namespace
} // namespace Pd::Platform
