// The H4 session end to end: a simulated Android host on one end of a loopback TCP connection,
// RunSession with a fresh controller on the other.
#include "bt/Session.h"

#include "core/Handles.h"
#include "core/Log.h"
#include "tests/support/AndroidHciHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>

namespace
{

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

constexpr std::uint64_t Adapter = 0x001A7DDA7113;

class Session : public testing::Test
{
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
        Pd::Core::SetLogSink([this](std::string_view line) {
            std::lock_guard guard(logLock_);
            log_.emplace_back(line.substr(line.find(']') + 2));
        });
        hostChanged_.Reset(::CreateEventW(nullptr, FALSE, FALSE, L"Local\\Peldra.Host.Changed"));
        ASSERT_TRUE(hostChanged_);

        SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ASSERT_NE(listener, INVALID_SOCKET);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ASSERT_EQ(::listen(listener, 1), 0);
        int length = sizeof(address);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        ASSERT_TRUE(android_.Connect(::ntohs(address.sin_port)));
        bridgeSocket_ = ::accept(listener, nullptr, nullptr);
        ::closesocket(listener);
        ASSERT_NE(bridgeSocket_, INVALID_SOCKET);
        session_ = std::thread([this] {
            Pd::Bt::RunSession(bridgeSocket_, Adapter, {});
            // The service loop closes the socket once the session returned.
            ::closesocket(bridgeSocket_);
            finished_ = true;
        });
    }

    void TearDown() override
    {
        android_.Close();
        if (session_.joinable())
            session_.join();
        Pd::Core::SetLogSink({});
        ::WSACleanup();
    }

    void EndSession()
    {
        android_.Close();
        session_.join();
    }

    bool Logged(const std::string& line)
    {
        for (int i = 0; i < 200; ++i)
        {
            {
                std::lock_guard guard(logLock_);
                if (std::find(log_.begin(), log_.end(), line) != log_.end())
                    return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    Pd::Test::AndroidHciHost android_;
    SOCKET bridgeSocket_ = INVALID_SOCKET;
    std::thread session_;
    std::atomic<bool> finished_{false};
    Pd::UniqueHandle hostChanged_;
    std::mutex logLock_;
    std::vector<std::string> log_;
};

TEST_F(Session, AnswersAndroidsStartupSequence)
{
    EXPECT_EQ(android_.Command(0x0C03), Bytes{0x00});
    EXPECT_EQ(android_.Command(0x1001), (Bytes{0x00, 0x08, 0x01, 0x00, 0x08, 0xFF, 0xFF, 0x01, 0x00}));
    EXPECT_EQ(android_.Command(0x1003), (Bytes{0x00, 0xFF, 0xFF, 0x8F, 0x7E, 0xD8, 0x1F, 0x5B, 0x87}));
    EXPECT_EQ(android_.Command(0x1009), (Bytes{0x00, 0x13, 0x71, 0xDA, 0x7D, 0x1A, 0x00}));
    EXPECT_EQ(android_.Command(0x1005), (Bytes{0x00, 0xFD, 0x03, 0x40, 0x08, 0x00, 0x08, 0x00}));
    EXPECT_EQ(android_.Command(0x2002), (Bytes{0x00, 0xFB, 0x00, 0x08}));
    EXPECT_EQ(android_.Command(0x0C6D, {0x01, 0x00}), Bytes{0x00});
    EXPECT_EQ(android_.Command(0x2001, Bytes(8, 0xFF)), Bytes{0x00});

    auto commands = android_.Command(0x1002);
    ASSERT_TRUE(commands);
    ASSERT_EQ(commands->size(), 65u);
    EXPECT_EQ((*commands)[0], 0x00);
    EXPECT_EQ((*commands)[1 + 0], 0x23);
    EXPECT_EQ((*commands)[1 + 14], 0xE8);
    EXPECT_EQ((*commands)[1 + 26], 0xFF);
    EXPECT_EQ((*commands)[1 + 32], 0x08);
    EXPECT_EQ(std::count(commands->begin() + 1, commands->end(), 0x00), 64 - 22);
    EXPECT_TRUE(Logged("hci: reset"));
}

TEST_F(Session, UnsupportedCommandsGetStatusOrCompleteAsTheirHostExpects)
{
    ASSERT_TRUE(android_.SendCommand(0x0403));
    auto status = android_.Receive();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->bytes, (Bytes{0x0F, 0x04, 0x01, 0x01, 0x03, 0x04}));
    ASSERT_TRUE(android_.SendCommand(0xFC01, {0x01, 0x02}));
    auto complete = android_.Receive();
    ASSERT_TRUE(complete);
    EXPECT_EQ(complete->bytes, (Bytes{0x0E, 0x04, 0x01, 0x01, 0xFC, 0x01}));
    EXPECT_TRUE(Logged("hci: unsupported command 0xFC01 VENDOR_SPECIFIC params 0102"));
}

TEST_F(Session, LocalNameIsStoredAndReadBack)
{
    EXPECT_EQ(android_.Command(0x0C13, {'T', 'o', 'v', 'i', 'k', 0x00, 'x'}), Bytes{0x00});
    auto name = android_.Command(0x0C14);
    ASSERT_TRUE(name);
    ASSERT_EQ(name->size(), 1u + 248);
    EXPECT_EQ(Bytes(name->begin(), name->begin() + 7), (Bytes{0x00, 'T', 'o', 'v', 'i', 'k', 0x00}));
    EXPECT_TRUE(Logged("hci: local name \"Tovik\""));
}

TEST_F(Session, LeEncryptMatchesTheSampleAndLeRandGivesFreshBytes)
{
    Bytes parameters = {0xBF, 0x01, 0xFB, 0x9D, 0x4E, 0xF3, 0xBC, 0x36, 0xD8, 0x74, 0xF5,
                        0x39, 0x41, 0x38, 0x68, 0x4C, 0x13, 0x02, 0xF1, 0xE0, 0xDF, 0xCE,
                        0xBD, 0xAC, 0x79, 0x68, 0x57, 0x46, 0x35, 0x24, 0x13, 0x02};
    EXPECT_EQ(android_.Command(0x2017, parameters),
              (Bytes{0x00, 0x66, 0xC6, 0xC2, 0x27, 0x8E, 0x3B, 0x8E, 0x05, 0x3E, 0x7E, 0xA3, 0x26, 0x52, 0x1B,
                     0xAD, 0x99}));
    auto first = android_.Command(0x2018);
    auto second = android_.Command(0x2018);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->size(), 9u);
    EXPECT_NE(first, second);
}

TEST_F(Session, PacketsSplitAcrossSendsAndSeveralInOneSendAreAllAnswered)
{
    Bytes stream = {0x01, 0x19, 0x0C, 0x00, 0x01, 0x25, 0x0C, 0x00, 0x01, 0x38, 0x0C, 0x00};
    for (std::uint8_t byte : Bytes(stream.begin(), stream.begin() + 6))
    {
        ASSERT_TRUE(android_.SendRaw({byte}));
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(android_.SendRaw(Bytes(stream.begin() + 6, stream.end())));
    for (std::uint16_t opcode : {0x0C19, 0x0C25, 0x0C38})
    {
        auto packet = android_.Receive();
        ASSERT_TRUE(packet);
        EXPECT_EQ(packet->bytes[0], 0x0E);
        EXPECT_EQ(packet->bytes[3] | packet->bytes[4] << 8, opcode);
    }
}

TEST_F(Session, PacketsOfOtherTypesAreIgnoredAndAclIsAcknowledged)
{
    ASSERT_TRUE(android_.SendRaw(
        {0x04, 0x0E, 0x00, 0x05, 0x01, 0x00, 0x01, 0xC0, 0x77, 0x02, 0x40, 0x20, 0x00, 0x00}));
    auto acknowledged = android_.Receive();
    ASSERT_TRUE(acknowledged);
    EXPECT_EQ(acknowledged->bytes, (Bytes{0x13, 0x05, 0x01, 0x40, 0x00, 0x01, 0x00}));
    EXPECT_TRUE(Logged("hci: packet type 4 ignored (2 bytes)"));
    EXPECT_TRUE(Logged("hci: packet type 5 ignored (5 bytes)"));
    EXPECT_EQ(android_.Command(0x0C19), (Bytes{0x00, 0x00}));
}

TEST_F(Session, TooShortParametersAnswer0x12AndTheSessionGoesOn)
{
    EXPECT_EQ(android_.Command(0x2017, Bytes(31)), Bytes{0x12});
    EXPECT_EQ(android_.Command(0x0406, {0x40}), Bytes{0x12});
    EXPECT_EQ(android_.Command(0x0C19), (Bytes{0x00, 0x00}));
}

TEST_F(Session, BadPacketTypeDropsTheConnection)
{
    ASSERT_TRUE(android_.SendRaw({0x01, 0x03, 0x0C, 0x00, 0x06, 0x01, 0x03, 0x0C, 0x00}));
    auto reset = android_.Receive();
    ASSERT_TRUE(reset);
    EXPECT_EQ(reset->bytes[0], 0x0E);
    EXPECT_TRUE(android_.WaitForClose());
    EXPECT_TRUE(Logged("hci: broken H4 framing, dropping the connection"));
    session_.join();
    EXPECT_TRUE(finished_);
}

TEST_F(Session, ConnectedEventIsSetExactlyWhileTheSessionRunsAndTheHostHearsOfIt)
{
    ASSERT_EQ(android_.Command(0x0C03), Bytes{0x00}); // the session has started
    Pd::UniqueHandle connected(::OpenEventW(SYNCHRONIZE, FALSE, L"Local\\Peldra.Bluetooth.Connected"));
    ASSERT_TRUE(connected);
    EXPECT_EQ(::WaitForSingleObject(connected.Get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(hostChanged_.Get(), 0), WAIT_OBJECT_0) << "signalled at the start";

    EndSession();
    EXPECT_EQ(::WaitForSingleObject(connected.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(::WaitForSingleObject(hostChanged_.Get(), 0), WAIT_OBJECT_0) << "signalled at the end";
}

} // namespace
