// The real LE device's values, subscriptions, session and pairing against the test classes
// (tests/support/winrt-classes/BluetoothLeValueClasses.cpp), scripted through the environment.
#include "core/Strings.h"
#include "platform/RealServices.h"
#include "tests/platform/WinRtScripted.h"
#include "tests/support/HangLimit.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace Pd::Platform
{
namespace
{

class WinRtGatt : public WinRtScripted
{
protected:
    void SetUp() override
    {
        Clear({L"PD_TEST_CALLS", L"PD_TEST_LE_OPEN", L"PD_TEST_GATT_LIST", L"PD_TEST_GATT_STATUS",
               L"PD_TEST_WALK", L"PD_TEST_GATT_READ", L"PD_TEST_GATT_WRITE", L"PD_TEST_GATT_CONFIG",
               L"PD_TEST_GATT_NOTIFY", L"PD_TEST_LE_STATUS", L"PD_TEST_GATT_SESSION", L"PD_TEST_PAIRING",
               L"PD_TEST_PAIR", L"PD_TEST_UNREGISTERED"});
        Script(L"PD_TEST_GATT", L"s:1:1800:0;c:2:2a00:10:0;d:4:2902");
        auto device = Real::OpenLeDevice(0xC0FFEE000001, false);
        ASSERT_TRUE(device && *device);
        device_ = std::move(*device);
        auto services = device_->GetGattServices({});
        ASSERT_TRUE(services && services->items.size() == 1u);
        service_ = services->items[0];
        auto characteristics = service_->GetCharacteristics({});
        ASSERT_TRUE(characteristics && characteristics->items.size() == 1u);
        characteristic_ = characteristics->items[0];
        auto descriptors = characteristic_->GetDescriptors({});
        ASSERT_TRUE(descriptors && descriptors->items.size() == 1u);
        descriptor_ = descriptors->items[0];
    }
    static bool Called(const std::wstring& call) { return Calls().find(call + L"\n") != std::wstring::npos; }

    std::unique_ptr<LeDevice> device_;
    std::shared_ptr<GattDeviceService> service_;
    std::shared_ptr<GattCharacteristic> characteristic_;
    std::shared_ptr<GattDescriptor> descriptor_;
};

TEST_F(WinRtGatt, ReadsAnswerWithStatusProtocolErrorAndValue)
{
    const struct
    {
        const wchar_t* script;
        HRESULT failure;
        GattStatus status;
        std::optional<std::uint8_t> protocolError;
        std::vector<std::uint8_t> value;
    } rows[] = {
        {L"thread 0 - 0102AB", S_OK, GattStatus::Success, {}, {0x01, 0x02, 0xAB}},
        {L"now 0 - -", S_OK, GattStatus::Success, {}, {}},
        {L"now 2 05 -", S_OK, GattStatus::ProtocolError, 0x05, {}},
        {L"now 2 - -", S_OK, GattStatus::ProtocolError, {}, {}},
        {L"thread 3 - 01", S_OK, GattStatus::AccessDenied, {}, {}},
        {L"now 1 - -", S_OK, GattStatus::Unreachable, {}, {}},
        {L"error 80070005", E_ACCESSDENIED, {}, {}, {}},
        {L"start 8000000E", static_cast<HRESULT>(0x8000000EL), {}, {}, {}},
    };
    for (const auto& row : rows)
    {
        Script(L"PD_TEST_GATT_READ", row.script);
        for (const Outcome<GattReadResult>& read :
             {characteristic_->ReadValue({}), descriptor_->ReadValue({})})
        {
            if (FAILED(row.failure))
            {
                ASSERT_FALSE(read) << Core::ToUtf8(row.script);
                EXPECT_EQ(read.error().code, row.failure);
                continue;
            }
            ASSERT_TRUE(read) << Core::ToUtf8(row.script) << ": " << Core::ToUtf8(read.error().text);
            EXPECT_EQ(read->status, row.status) << Core::ToUtf8(row.script);
            EXPECT_EQ(read->protocolError, row.protocolError) << Core::ToUtf8(row.script);
            EXPECT_EQ(read->value, row.value) << Core::ToUtf8(row.script);
        }
    }
    EXPECT_TRUE(Called(L"ReadValue 2") && Called(L"ReadValue 4")) << Core::ToUtf8(Calls());
}

TEST_F(WinRtGatt, WritesCarryTheirBytesAndOptionAndAnswerTheirStatus)
{
    const struct
    {
        const wchar_t* script;
        GattStatus status;
        std::optional<std::uint8_t> protocolError;
    } rows[] = {
        {L"thread 0 -", GattStatus::Success, {}},
        {L"now 2 0E", GattStatus::ProtocolError, 0x0E},
        {L"now 3 -", GattStatus::AccessDenied, {}},
        {L"now 1 -", GattStatus::Unreachable, {}},
    };
    const std::vector<std::uint8_t> bytes{0x01, 0x00, 0xFF};
    for (const auto& row : rows)
    {
        Script(L"PD_TEST_GATT_WRITE", row.script);
        for (const Outcome<GattWriteResult>& written :
             {characteristic_->WriteValueWithResult(bytes, GattWriteOption::WriteWithoutResponse, {}),
              characteristic_->WriteValueWithResult({}, GattWriteOption::WriteWithResponse, {}),
              descriptor_->WriteValueWithResult(bytes, {}),
              characteristic_->WriteClientCharacteristicConfigurationDescriptorWithResult(
                  GattClientConfiguration::Indicate, {})})
        {
            ASSERT_TRUE(written) << Core::ToUtf8(row.script) << ": " << Core::ToUtf8(written.error().text);
            EXPECT_EQ(written->status, row.status) << Core::ToUtf8(row.script);
            EXPECT_EQ(written->protocolError, row.protocolError) << Core::ToUtf8(row.script);
        }
    }
    for (const wchar_t* call : {L"WriteValue 2 0100FF option 1", L"WriteValue 2  option 0",
                                L"WriteValue 4 0100FF", L"WriteConfiguration 2 2"})
        EXPECT_TRUE(Called(call)) << Core::ToUtf8(call) << " in " << Core::ToUtf8(Calls());

    Script(L"PD_TEST_GATT_CONFIG", L"thread 0 - 1");
    auto configuration = characteristic_->ReadClientCharacteristicConfigurationDescriptor({});
    ASSERT_TRUE(configuration) << Core::ToUtf8(configuration.error().text);
    EXPECT_EQ(configuration->configuration, GattClientConfiguration::Notify);
    Script(L"PD_TEST_GATT_CONFIG", L"now 2 05 1");
    configuration = characteristic_->ReadClientCharacteristicConfigurationDescriptor({});
    ASSERT_TRUE(configuration);
    EXPECT_EQ(configuration->protocolError, std::optional<std::uint8_t>(0x05));
    EXPECT_EQ(configuration->configuration, GattClientConfiguration::None) << "no value read unless Success";
}

TEST_F(WinRtGatt, StopRequestCancelsAnOperationThatNeverEnds)
{
    Script(L"PD_TEST_PAIRING", L"0 1");
    const struct
    {
        const wchar_t* script;
        std::function<HRESULT(std::stop_token)> run;
    } rows[] = {
        {L"PD_TEST_GATT_READ",
         [&](std::stop_token stop) { return characteristic_->ReadValue(stop).error().code; }},
        {L"PD_TEST_GATT_WRITE",
         [&](std::stop_token stop) { return descriptor_->WriteValueWithResult({1}, stop).error().code; }},
        {L"PD_TEST_GATT_CONFIG",
         [&](std::stop_token stop) {
             return characteristic_->ReadClientCharacteristicConfigurationDescriptor(stop).error().code;
         }},
        {L"PD_TEST_LE_OPEN",
         [](std::stop_token stop) { return Real::OpenLeDevice(0xC0FFEE000002, true, stop).error().code; }},
        {L"PD_TEST_GATT_SESSION",
         [&](std::stop_token stop) { return device_->OpenGattSession(stop).error().code; }},
        {L"PD_TEST_PAIR",
         [&](std::stop_token stop) { return (*device_->Pairing())->PairAsync(stop).error().code; }},
        {L"PD_TEST_GATT_LIST",
         [&](std::stop_token stop) { return device_->GetGattServices(stop).error().code; }},
        {L"PD_TEST_GATT_LIST",
         [&](std::stop_token stop) { return service_->GetCharacteristics(stop).error().code; }},
        {L"PD_TEST_GATT_LIST",
         [&](std::stop_token stop) { return characteristic_->GetDescriptors(stop).error().code; }},
    };
    for (const auto& row : rows)
    {
        Script(row.script, L"hang");
        std::stop_source stop;
        std::jthread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            stop.request_stop();
        });
        EXPECT_EQ(row.run(stop.get_token()), HRESULT_FROM_WIN32(ERROR_CANCELLED)) << Core::ToUtf8(row.script);
    }
}

TEST_F(WinRtGatt, EventsRunOnAnotherThreadUntilTheirRemovalReturns)
{
    Script(L"PD_TEST_GATT_NOTIFY", L"C0FFEE");
    Script(L"PD_TEST_LE_STATUS", L"0");
    Script(L"PD_TEST_GATT_SESSION", L"thread 1");
    auto session = device_->OpenGattSession({});
    ASSERT_TRUE(session) << Core::ToUtf8(session.error().text);
    std::atomic<int> runs{0};
    std::atomic<int> witnessRuns{0}; // of a handler added after the one removed, which the source
                                     // calls after it
    std::atomic<bool> wrong{false};
    const DWORD self = ::GetCurrentThreadId();
    auto count = [&](std::atomic<int>* counter, bool right) {
        wrong = wrong || !right || ::GetCurrentThreadId() == self;
        ++*counter;
    };
    const struct
    {
        const wchar_t* removal;
        std::function<Outcome<std::int64_t>(std::atomic<int>*)> add;
        std::function<void(std::int64_t)> remove;
    } rows[] = {
        {L"RemoveValueChanged",
         [&](std::atomic<int>* counter) {
             return characteristic_->AddValueChanged([&, counter](const std::vector<std::uint8_t>& value) {
                 count(counter, value == std::vector<std::uint8_t>{0xC0, 0xFF, 0xEE});
             });
         },
         [&](std::int64_t token) { characteristic_->RemoveValueChanged(token); }},
        {L"RemoveConnectionStatusChanged",
         [&](std::atomic<int>* counter) {
             return device_->AddConnectionStatusChanged([&, counter](BluetoothConnectionStatus status) {
                 count(counter, status == BluetoothConnectionStatus::Disconnected);
             });
         },
         [&](std::int64_t token) { device_->RemoveConnectionStatusChanged(token); }},
        {L"RemoveSessionStatusChanged",
         [&](std::atomic<int>* counter) {
             return (*session)->AddSessionStatusChanged([&, counter](GattSessionStatus status) {
                 count(counter, status == GattSessionStatus::Closed);
             });
         },
         [&](std::int64_t token) { (*session)->RemoveSessionStatusChanged(token); }},
    };
    for (const auto& row : rows)
    {
        runs = 0;
        witnessRuns = 0;
        auto token = row.add(&runs);
        ASSERT_TRUE(token) << Core::ToUtf8(token.error().text);
        auto witness = row.add(&witnessRuns);
        ASSERT_TRUE(witness) << Core::ToUtf8(witness.error().text);
        ASSERT_TRUE(Pd::Test::PollUntil([&] { return runs >= 3; }));
        row.remove(*token); // while the source keeps firing
        const int afterRemoval = runs;
        const int witnessed = witnessRuns;
        // The source calls its handlers one after the other, in the order they were added: once
        // the witness ran again, the source has passed every call it took in hand with the
        // removed handler.
        ASSERT_TRUE(Pd::Test::PollUntil([&] { return witnessRuns > witnessed; }))
            << Core::ToUtf8(row.removal);
        row.remove(*witness);
        EXPECT_GE(afterRemoval, 3) << Core::ToUtf8(row.removal);
        EXPECT_EQ(runs, afterRemoval) << Core::ToUtf8(row.removal) << " ran after its removal returned";
        EXPECT_FALSE(wrong) << Core::ToUtf8(row.removal);
        EXPECT_TRUE(Called(row.removal + std::wstring(L" ") + std::to_wstring(*token)))
            << Core::ToUtf8(Calls());
    }
}

// Pairing is Windows' ordinary pairing, whose prompt the user answers: the adapter never accepts
// a pairing request itself (only a real PC shows the prompt).
TEST_F(WinRtGatt, SessionIsOpenedForTheDeviceAndPairingIsLeftToWindowsPrompt)
{
    Script(L"PD_TEST_LE_STATUS", L"1");
    auto connected = device_->ConnectionStatus();
    ASSERT_TRUE(connected);
    EXPECT_EQ(*connected, BluetoothConnectionStatus::Connected);

    Script(L"PD_TEST_GATT_SESSION", L"thread 0");
    auto session = device_->OpenGattSession({});
    ASSERT_TRUE(session) << Core::ToUtf8(session.error().text);
    ASSERT_TRUE((*session)->SetMaintainConnection(true));
    auto status = (*session)->SessionStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, GattSessionStatus::Closed);
    session->reset();
    EXPECT_TRUE(Called(L"FromDeviceIdAsync device C0FFEE000001") && Called(L"MaintainConnection 1") &&
                Called(L"CloseSession"))
        << Core::ToUtf8(Calls());

    Script(L"PD_TEST_PAIRING", L"0 1");
    Script(L"PD_TEST_PAIR", L"thread 0");
    auto pairing = device_->Pairing();
    ASSERT_TRUE(pairing) << Core::ToUtf8(pairing.error().text);
    auto isPaired = (*pairing)->IsPaired();
    auto canPair = (*pairing)->CanPair();
    ASSERT_TRUE(isPaired && canPair);
    EXPECT_FALSE(*isPaired);
    EXPECT_TRUE(*canPair);
    auto paired = (*pairing)->PairAsync({});
    ASSERT_TRUE(paired) << Core::ToUtf8(paired.error().text);
    EXPECT_EQ(*paired, PairingPaired);
    EXPECT_TRUE(Called(L"PairAsync")) << Core::ToUtf8(Calls());
    Script(L"PD_TEST_PAIR", L"thread 14"); // PairingCanceled: the user said no in the prompt
    paired = (*pairing)->PairAsync({});
    ASSERT_TRUE(paired) << Core::ToUtf8(paired.error().text);
    EXPECT_EQ(*paired, 14);
}

TEST_F(WinRtGatt, UnregisteredClassesFailWithTheirCode)
{
    Script(L"PD_TEST_UNREGISTERED", L"Windows.Devices.Bluetooth.GenericAttributeProfile.GattSession");
    auto session = device_->OpenGattSession({});
    ASSERT_FALSE(session);
    EXPECT_EQ(session.error().code, REGDB_E_CLASSNOTREG);
    Script(L"PD_TEST_UNREGISTERED", L"Windows.Storage.Streams.Buffer");
    auto written = characteristic_->WriteValueWithResult({1}, GattWriteOption::WriteWithResponse, {});
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(Called(L"WriteValue 2 01 option 0")) << "nothing is written without its bytes";
}

} // namespace
} // namespace Pd::Platform
