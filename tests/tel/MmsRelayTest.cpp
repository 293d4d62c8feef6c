// The MMS relay's connections, from Android's request line to the end of the exchange, on a
// simulated PC whose access point is this PC's loopback interface and whose MMS server is a
// listener of the test.
#include "tel/mms/MmsRelay.h"

#include "platform/HvSocket.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace
{

using Pd::Platform::UniqueSocket;
using Pd::Test::LogCapture;
using Pd::Test::LoopbackPeer;
using Pd::Test::SimScenario;
using namespace std::chrono_literals;

constexpr const char* Pc =
    R"({"cellular": {"adapter": "loopback", "names": {"mms.example": ["127.0.0.1"]}}})";

std::string Request(std::uint16_t port, std::string_view host = "mms.example")
{
    return "MMS\tmms.carrier\t0\t\t\t" + std::string(host) + "\t" + std::to_string(port) + "\n";
}

void SendText(SOCKET socket, std::string_view text)
{
    ASSERT_EQ(::send(socket, text.data(), static_cast<int>(text.size()), 0), static_cast<int>(text.size()));
}

std::string ReadToEnd(SOCKET socket)
{
    std::string text;
    char buffer[4096];
    int received = 0;
    while ((received = ::recv(socket, buffer, sizeof(buffer), 0)) > 0)
        text.append(buffer, static_cast<std::size_t>(received));
    return text;
}

// Android's end of one relay connection; the relay serves the other end on its own thread.
class RelayConnection
{
public:
    explicit RelayConnection(Pd::Tel::MmsExchangeLimits limits = {})
    {
        WSADATA data{};
        ::WSAStartup(MAKEWORD(2, 2), &data);
        UniqueSocket listener(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        int size = sizeof(address);
        ::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
        ::listen(listener.Get(), 1);
        ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &size);
        android_ = UniqueSocket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        ::connect(android_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
        relay_ = UniqueSocket(::accept(listener.Get(), nullptr, nullptr));
        thread_ = std::jthread([this, limits](std::stop_token stop) {
            SOCKET relay = relay_.Get();
            std::stop_callback shutDown(stop, [relay] {
                ::shutdown(relay, SD_BOTH);
                ::CancelIoEx(reinterpret_cast<HANDLE>(relay), nullptr);
            });
            Pd::Tel::ServeMmsRequest(relay, stop, limits);
            relay_.Reset();
        });
    }

    ~RelayConnection()
    {
        thread_.request_stop();
        thread_.join();
        android_.Reset();
        ::WSACleanup();
    }
    RelayConnection(const RelayConnection&) = delete;
    RelayConnection& operator=(const RelayConnection&) = delete;

    SOCKET Android() const { return android_.Get(); }

private:
    UniqueSocket android_;
    UniqueSocket relay_;
    std::jthread thread_;
};

TEST(MmsRelay, AHalfClosedRequestStillGetsTheWholeAnswer)
{
    SimScenario pc(Pc);
    LogCapture log;
    const std::string answer(200000, 'a');
    std::string received;
    LoopbackPeer centre([&](SOCKET connection) {
        received = ReadToEnd(connection); // up to Android's half-close
        std::this_thread::sleep_for(300ms);
        SendText(connection, answer);
    });
    RelayConnection relay;
    // The exchange's first bytes travel with the request line, before the answer.
    SendText(relay.Android(), Request(centre.Port()) + "GET /m1 HTTP/1.0\r\n\r\n");
    ::shutdown(relay.Android(), SD_SEND);
    EXPECT_EQ(ReadToEnd(relay.Android()), "OK\n" + answer);
    EXPECT_EQ(received, "GET /m1 HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(log.WaitFor("mms: exchange done (20 bytes out, 200000 bytes in)"));
    EXPECT_EQ(log.Count("mms: Android's MMS exchange with mms.example:" + std::to_string(centre.Port()) +
                        " through APN mms.carrier"),
              1u);
}

TEST(MmsRelay, AnExchangeThatPassesABoundIsCutAndLogged)
{
    struct Case
    {
        std::size_t androidSends;
        std::size_t centreSends;
        bool centreWaits;                  // for the test's end, instead of closing after sending
        std::chrono::milliseconds silence; // of the server, after which it is given up: the
                                           // default two minutes where none may end the case
        std::string logged;
    };
    const std::chrono::milliseconds longSilence = Pd::Tel::MmsExchangeLimits{}.serverSilence;
    const Case cases[] = {
        {5000, 0, true, longSilence, "mms: Android sent more than 4096 bytes for mms.example:"},
        {10, 5000, true, longSilence, " answered more than 4096 bytes - exchange cut"},
        {10, 0, true, 400ms, " sent nothing for 0.4 s after Android's request - exchange ended"},
    };
    for (const Case& c : cases)
    {
        SimScenario pc(Pc);
        LogCapture log;
        std::atomic<bool> ended{false};
        LoopbackPeer centre([&](SOCKET connection) {
            SendText(connection, std::string(c.centreSends, 'b'));
            while (c.centreWaits && !ended)
                std::this_thread::sleep_for(10ms);
        });
        RelayConnection relay({4096, 4096, c.silence});
        SendText(relay.Android(), Request(centre.Port()) + std::string(c.androidSends, 'c'));
        ::shutdown(relay.Android(), SD_SEND);
        std::string answer = ReadToEnd(relay.Android());
        EXPECT_TRUE(answer.starts_with("OK\n")) << c.logged;
        EXPECT_LE(answer.size(), 3u + 4096u) << c.logged;
        EXPECT_TRUE(log.WaitFor(c.logged)) << c.logged;
        EXPECT_TRUE(log.WaitFor("mms: exchange done")) << c.logged;
        ended = true;
    }
}

TEST(MmsRelay, ATooLongLineIsRefusedAndNamesAreEscapedInTheLog)
{
    SimScenario pc(Pc);
    struct Case
    {
        std::string request;
        std::string answer;
        std::string logged;
    };
    const Case cases[] = {
        {std::string(2048, 'M'), "ERR\tbad request\n",
         "mms: Android's request line is longer than 2047 bytes"},
        {Request(80, "mms\u202E.example"), "ERR\tserver unreachable\n",
         "mms: the name mms\\u202E.example is not known through APN mms.carrier"},
    };
    for (const Case& c : cases)
    {
        LogCapture log;
        RelayConnection relay;
        SendText(relay.Android(), c.request);
        EXPECT_EQ(ReadToEnd(relay.Android()), c.answer) << c.logged;
        EXPECT_TRUE(log.WaitFor(c.logged)) << c.logged;
    }
}

} // namespace
