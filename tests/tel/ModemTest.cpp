// The PC's modem on a simulated PC: its state, its events while a session is connected, SMS
// sending and the message store.
#include "tel/modem/Sink.h"
#include "tel/modem/StateMapping.h"
#include "tel/modem/WindowsModem.h"

#include "core/Strings.h"
#include "platform/sim/Simulation.h"
#include "tests/support/HangLimit.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

namespace
{

using Pd::Tel::WindowsModem;
using Pd::Test::LogCapture;
using Pd::Test::SimScenario;
using namespace std::chrono_literals;

const std::string Pdu = "07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07";

std::string ModemScenario(std::string_view extra)
{
    return std::string(R"({"modem": {"imei": "490154203237518", "iccid": "8901", "imsi": "310410", )"
                       R"("registerState": 3, "providerId": "310410", "providerName": "Nordwind", )"
                       R"("dataClass": 32, "signal": 20, "serviceCentre": "+31624000000")") +
           std::string(extra) + "}}";
}

std::string StoreEntry(int index, int status)
{
    return "{\"index\": " + std::to_string(index) + ", \"status\": " + std::to_string(status) +
           ", \"pdu\": \"" + Pdu + "\"}";
}

// What a session was given, in order.
struct Received
{
    std::mutex lock;
    std::vector<std::uint32_t> messages;
    std::atomic<int> changes{0};

    Pd::Tel::Modem::Handlers Handlers()
    {
        return {[this](const std::string&, std::uint32_t index) {
                    std::lock_guard guard(lock);
                    messages.push_back(index);
                },
                [this] { ++changes; }};
    }
    std::vector<std::uint32_t> Messages()
    {
        std::lock_guard guard(lock);
        return messages;
    }
};

template <typename Condition> bool WaitUntil(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + Pd::Test::HangLimit;
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    return condition();
}

TEST(ModemMapping, WindowsNumbersBecomeWhatTheModemReports)
{
    struct Case
    {
        std::uint32_t value;
        std::int32_t registration, accessTechnology, signal;
    } cases[] = {
        {0, 0, 7, 0},     {1, 0, 0, 1},     {2, 2, 3, 2},      {3, 1, 3, 3},
        {4, 5, 2, 4},     {5, 5, 2, 5},     {6, 3, 2, 6},      {7, 0, 2, 7},
        {0x8, 0, 4, 8},   {0x10, 0, 5, 16}, {0x18, 0, 6, 24},  {0x1F, 0, 6, 31},
        {0x20, 0, 7, 99}, {0x40, 0, 7, 99}, {0xFF, 0, 11, 99}, {0x100, 0, 7, 99},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(Pd::Tel::RegistrationStatus(c.value), c.registration) << c.value;
        EXPECT_EQ(Pd::Tel::AccessTechnology(c.value), c.accessTechnology) << c.value;
        EXPECT_EQ(Pd::Tel::SignalQuality(c.value), c.signal) << c.value;
    }
}

TEST(ModemOpen, ReadsTheStateAndLeavesWhatItCannotReadUnread)
{
    {
        SimScenario pc(ModemScenario(R"(, "simReady": false, "signalInterface": false)"));
        auto modem = WindowsModem::OpenFirst();
        ASSERT_TRUE(modem);
        Pd::Tel::ModemState state = modem->ReadState();
        EXPECT_FALSE(state.simReady);
        EXPECT_EQ(state.imei, "490154203237518");
        EXPECT_EQ(state.iccid, "");
        EXPECT_EQ(state.imsi, "");
        EXPECT_EQ(state.registration, 1);
        EXPECT_EQ(state.providerName, "Nordwind");
        EXPECT_EQ(state.accessTechnology, 7);
        EXPECT_EQ(state.signal, 99);
        EXPECT_EQ(state.serviceCentre, "+31624000000");
    }
    for (const char* absent :
         {R"({})", R"({"modem": {"gone": true}})", R"({"modem": {"smsInterface": false}})"})
    {
        SimScenario pc(absent);
        EXPECT_FALSE(Pd::Tel::Modem::Open()) << absent;
    }
}

TEST(ModemEvents, ChangesReachTheSessionUntilItsHandlersAreRemoved)
{
    SimScenario pc(ModemScenario(""));
    auto modem = WindowsModem::OpenFirst();
    ASSERT_TRUE(modem);
    Received received;
    modem->SetMessageHandler(received.Handlers());
    // The radio changes only now that the handlers are there, however late that is.
    pc.Write(ModemScenario(R"(, "registerState": 4, "signal": 7)"));
    ASSERT_TRUE(WaitUntil([&] { return received.changes >= 2; }));
    Pd::Tel::ModemState state = modem->ReadState();
    EXPECT_EQ(state.registration, 5);
    EXPECT_EQ(state.signal, 7);
    modem->DisconnectSinks();
    int before = received.changes;
    pc.Write(ModemScenario(R"(, "signal": 3, "registerState": 2)"));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(received.changes, before);
}

// A message handler still running when the session ends: DisconnectSinks returns only after it,
// so that the session's state is never touched once it is gone.
TEST(ModemEvents, AnIncomingMessageIsHandedOnceAndDisconnectingWaitsForItsHandler)
{
    SimScenario pc(ModemScenario(""));
    auto modem = WindowsModem::OpenFirst();
    ASSERT_TRUE(modem);
    std::atomic<bool> running{false}, finished{false};
    modem->SetMessageHandler({[&](const std::string& pdu, std::uint32_t index) {
                                  EXPECT_EQ(pdu, Pdu);
                                  EXPECT_EQ(index, 1u);
                                  running = true;
                                  std::this_thread::sleep_for(300ms);
                                  finished = true;
                              },
                              {}});
    pc.Write(ModemScenario(R"(, "incoming": [{"pdu": ")" + Pdu + R"("}])"));
    ASSERT_TRUE(WaitUntil([&] { return running.load(); }));
    modem->DisconnectSinks();
    EXPECT_TRUE(finished);
}

TEST(ModemStore, DeliversEachReceivedMessageOnceUntilAcknowledgedOrRejected)
{
    SimScenario pc(ModemScenario(", \"store\": [" + StoreEntry(1, 0) + "," + StoreEntry(2, 2) + "," +
                                 StoreEntry(3, 3) + "," + StoreEntry(4, 1) + "]"));
    auto modem = WindowsModem::OpenFirst();
    ASSERT_TRUE(modem);
    Received received;
    modem->SetMessageHandler(received.Handlers());
    modem->DeliverStored();
    ASSERT_TRUE(WaitUntil([&] { return received.Messages().size() >= 2; }));
    modem->DeliverStored();
    // Its read answers on the modem's thread; an acknowledgement before that would let it hand
    // the message again, as Windows would. The modem answers reads in order, so a read of our
    // own that returned comes after it.
    ASSERT_TRUE(modem->ReadStore());
    modem->AckMessage(1);
    modem->NackMessage(4);
    modem->DeliverStored();
    ASSERT_TRUE(modem->ReadStore());
    EXPECT_EQ(received.Messages(), (std::vector<std::uint32_t>{1, 4, 4}));
    auto store = modem->ReadStore();
    ASSERT_TRUE(store);
    std::set<std::uint32_t> left;
    for (const auto& message : *store)
        left.insert(message.index);
    EXPECT_EQ(left, (std::set<std::uint32_t>{2, 3, 4}));
}

// Parts of one read arrive on several threads at once: all of them are in the answer, and none
// of them is taken for a new message.
TEST(ModemStore, ReadsAStoreAnsweredInConcurrentParts)
{
    std::string store;
    for (int i = 1; i <= 24; ++i)
        store += (i > 1 ? "," : "") + StoreEntry(i, i % 2);
    SimScenario pc(ModemScenario(", \"readParts\": 6, \"store\": [" + store + "]"));
    auto modem = WindowsModem::OpenFirst();
    ASSERT_TRUE(modem);
    EXPECT_FALSE(modem->ReadStore()) << "no sink connected";
    Received received;
    modem->SetMessageHandler(received.Handlers());
    for (int round = 0; round < 10; ++round)
    {
        auto read = modem->ReadStore();
        ASSERT_TRUE(read);
        std::set<std::uint32_t> indices;
        for (const auto& message : *read)
            indices.insert(message.index);
        EXPECT_EQ(indices.size(), 24u);
        EXPECT_EQ(read->size(), 24u);
    }
    EXPECT_TRUE(received.Messages().empty());
}

// The completion rules on the sink itself: a read is answered only by its last part, late parts
// of a finished read are dropped, and unrecorded reads hand received messages once.
TEST(ModemStore, CompletionsOfARecordedReadNeverBecomeNewMessages)
{
    auto shared = std::make_shared<Pd::Tel::Shared>();
    std::vector<std::uint32_t> handed;
    shared->messageHandler = [&](const std::string&, std::uint32_t index) { handed.push_back(index); };
    auto read = std::make_shared<Pd::Tel::Shared::Read>();
    shared->reads[7] = read;
    Pd::Tel::Sink sink(shared, nullptr);
    auto message = [](std::uint32_t index, std::uint32_t status) {
        return Pd::Platform::MbnSmsMessage{true, index, status, Pd::Core::FromUtf8(Pdu)};
    };
    sink.OnSmsReadComplete(1, {message(1, 0), message(2, 1)}, true, 7, S_OK);
    EXPECT_EQ(::WaitForSingleObject(read->event.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    sink.OnSmsReadComplete(1, {message(3, 2), Pd::Platform::MbnSmsMessage{false, {}, {}, {}}}, false, 7,
                           S_OK);
    EXPECT_EQ(::WaitForSingleObject(read->event.Get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(read->messages.size(), 3u);
    EXPECT_EQ(read->status, S_OK);
    sink.OnSmsReadComplete(1, {message(4, 0)}, false, 7, S_OK);
    EXPECT_TRUE(handed.empty());
    sink.OnSmsReadComplete(1, {message(5, 0), message(6, 2), message(7, 3), message(5, 0)}, false, 8, S_OK);
    sink.OnSmsNewClass0Message(0, {message(9, 0)});
    EXPECT_EQ(handed, (std::vector<std::uint32_t>{5}));
}

TEST(ModemSend, ReportsWhetherWindowsSentTheMessage)
{
    struct Case
    {
        const char* scenario;
        bool sent;
        const char* line;
    } cases[] = {
        {R"(, "sendMs": 50)", true, ""},
        {R"(, "send": "0x8054820A")", false, "modem: the SMS was not sent (0x8054820A)"},
        {R"(, "sendCall": "0x80070057")", false, "modem: sending an SMS failed at once (0x80070057)"},
        {R"(, "changes": [{"afterMs": 200, "gone": true}])", false,
         "modem: sending an SMS failed at once (0x800710DF)"},
    };
    for (const Case& c : cases)
    {
        LogCapture log;
        SimScenario pc(ModemScenario(c.scenario));
        auto modem = WindowsModem::OpenFirst();
        ASSERT_TRUE(modem) << c.scenario;
        modem->SetMessageHandler({});
        if (std::string_view(c.scenario).find("gone") != std::string_view::npos)
            std::this_thread::sleep_for(300ms);
        EXPECT_EQ(modem->SendSms(Pdu, 30), c.sent) << c.scenario;
        if (*c.line)
        {
            EXPECT_EQ(log.Count(c.line), 1u) << c.scenario << "\n" << log.Dump();
        }
    }
}

} // namespace
