// The H4 session end to end: a simulated Android host on one end of a loopback TCP connection,
// RunSession with a fresh controller on the other.
#include "bt/Session.h"

#include "core/Handles.h"
#include "tests/support/AndroidHciHost.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{

using Bytes = std::vector<std::uint8_t>;

class Session : public testing::Test
{
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
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
        SOCKET bridgeSocket = ::accept(listener, nullptr, nullptr);
        ::closesocket(listener);
        ASSERT_NE(bridgeSocket, INVALID_SOCKET);
        bridge_ = bridgeSocket;
        session_ = std::thread([bridgeSocket] {
            Pd::Bt::RunSession(bridgeSocket, 0x001A7DDA7113, {});
            ::closesocket(bridgeSocket); // as the service loop does once the session returned
        });
    }

    void TearDown() override
    {
        android_.Close();
        if (session_.joinable())
            session_.join();
        ::WSACleanup();
    }

    Pd::Test::LogCapture log_;
    Pd::Test::AndroidHciHost android_;
    std::thread session_;
    SOCKET bridge_ = INVALID_SOCKET; // the session's end, closed by the session thread
    Pd::UniqueHandle hostChanged_;
};

TEST_F(Session, ConnectedEventIsSetExactlyWhileTheSessionRunsAndTheHostHearsOfIt)
{
    EXPECT_EQ(android_.Command(0x0C03), Bytes{0x00});
    EXPECT_TRUE(log_.WaitFor("hci: reset"));
    Pd::UniqueHandle connected(::OpenEventW(SYNCHRONIZE, FALSE, L"Local\\Peldra.Bluetooth.Connected"));
    ASSERT_TRUE(connected);
    EXPECT_EQ(::WaitForSingleObject(connected.Get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(hostChanged_.Get(), 0), WAIT_OBJECT_0) << "signalled at the start";

    android_.Close();
    session_.join();
    EXPECT_EQ(::WaitForSingleObject(connected.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(::WaitForSingleObject(hostChanged_.Get(), 0), WAIT_OBJECT_0) << "signalled at the end";
}

TEST_F(Session, PacketsSplitAcrossSendsAndSeveralInOneSendAreAllAnswered)
{
    Bytes stream = {0x01, 0x19, 0x0C, 0x00, 0x01, 0x25, 0x0C, 0x00, 0x01, 0x38, 0x0C, 0x00};
    for (std::uint8_t byte : Bytes(stream.begin(), stream.begin() + 6))
    {
        ASSERT_TRUE(android_.SendRaw({byte}));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(android_.SendRaw(Bytes(stream.begin() + 6, stream.end())));
    for (std::uint16_t opcode : {0x0C19, 0x0C25, 0x0C38})
    {
        auto packet = android_.Receive();
        ASSERT_TRUE(packet);
        EXPECT_EQ(packet->type, 0x04);
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
    EXPECT_TRUE(log_.WaitFor("hci: packet type 4 ignored (2 bytes)"));
    EXPECT_TRUE(log_.WaitFor("hci: packet type 5 ignored (5 bytes)"));
    EXPECT_EQ(android_.Command(0x0C19), (Bytes{0x00, 0x00}));
}

// An answer that follows a small event at once must not wait for the peer's acknowledgement.
TEST_F(Session, SendsEachPacketWithoutWaitingToCoalesceIt)
{
    ASSERT_EQ(android_.Command(0x0C03), Bytes{0x00}); // the session serves the socket by now
    BOOL noDelay = FALSE;
    int size = sizeof(noDelay);
    ASSERT_EQ(::getsockopt(bridge_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&noDelay), &size), 0);
    EXPECT_TRUE(noDelay);
}

TEST_F(Session, BadPacketTypeDropsTheConnection)
{
    ASSERT_TRUE(android_.SendRaw({0x01, 0x03, 0x0C, 0x00, 0x06, 0x01, 0x03, 0x0C, 0x00}));
    auto reset = android_.Receive();
    ASSERT_TRUE(reset);
    EXPECT_EQ(reset->bytes[0], 0x0E);
    EXPECT_TRUE(android_.WaitForClose());
    EXPECT_TRUE(log_.WaitFor("hci: broken H4 framing, dropping the connection"));
    session_.join();
}

} // namespace
