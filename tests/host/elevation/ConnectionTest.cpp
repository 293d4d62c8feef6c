#include "core/host/TrayHooks.h"
#include "host/elevation/ElevationBridge.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

namespace
{

using namespace Pd::Bio::Elevation;

bool ReadExactly(SOCKET socket, std::uint8_t* data, int size)
{
    for (int got = 0; got < size;)
    {
        int now = ::recv(socket, reinterpret_cast<char*>(data) + got, size - got, 0);
        if (now <= 0)
            return false;
        got += now;
    }
    return true;
}

void SendRequest(SOCKET socket, std::uint32_t id)
{
    std::array<std::uint8_t, 20> frame{0x54, 0x4B, 0x45, 0x56, 1, 0, 12, 0, static_cast<std::uint8_t>(id)};
    frame[12] = 0x8B; // uid 10123, empty app name and command
    frame[13] = 0x27;
    ::send(socket, reinterpret_cast<const char*>(frame.data()), static_cast<int>(frame.size()), 0);
}

// A granted answer shows a balloon after it is sent; a slow one must not hold the connection busy.
void SlowBalloon(const std::wstring&, const std::wstring&)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

// The answers to three requests, each sent the moment the previous answer arrives.
std::vector<std::array<std::uint8_t, 12>> AnswersToThreeRequests(const Mode& mode)
{
    std::vector<std::array<std::uint8_t, 12>> answers;
    Pd::Test::LoopbackPeer android([&](SOCKET connection) {
        std::array<std::uint8_t, 8> state{};
        std::array<std::uint8_t, 12> answer{};
        ReadExactly(connection, state.data(), 8);
        for (std::uint32_t id = 1; id <= 3; ++id)
        {
            SendRequest(connection, id);
            if (!ReadExactly(connection, answer.data(), 12))
                break;
            answers.push_back(answer);
        }
        ::shutdown(connection, SD_BOTH);
    });
    SOCKET bridge = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(android.Port());
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(bridge, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    HandleClient(bridge, mode);
    ::closesocket(bridge);
    return answers;
}

// While Magisk mode is turned off (root off, MagiskOffPending) every request is denied, unasked.
TEST(ElevationConnection, ARequestSentTheMomentAnAnswerArrivesIsAskedAndNoneWhileMagiskTurnsOff)
{
    Pd::Test::SimScenario pc(R"({"hello":{"availability":0,"result":0,"promptMs":0}})");
    Pd::Host::TrayHooks::balloon = &SlowBalloon;
    const auto asked = AnswersToThreeRequests({});
    const auto turningOff = AnswersToThreeRequests({false, false, true});
    Pd::Host::TrayHooks::balloon = nullptr;
    ASSERT_EQ(asked.size(), 3u);
    ASSERT_EQ(turningOff.size(), 3u);
    for (std::uint32_t id = 1; id <= 3; ++id)
    {
        EXPECT_EQ(asked[id - 1], AnswerFrame(Answer::Granted, id)) << id;
        EXPECT_EQ(turningOff[id - 1], AnswerFrame(Answer::Denied, id)) << id;
    }
}

} // namespace
