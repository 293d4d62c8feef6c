#include "host/notices/Registration.h"

#include "core/Settings.h"
#include "host/controls/TrayHooks.h"
#include "platform/sim/SimNetwork.h"
#include "tests/core/release/UserValues.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimScenario.h"

#include <fmt/xchar.h>
#include <gtest/gtest.h>

#include <ws2tcpip.h>

#include <string>
#include <thread>

namespace
{

// Android's end of one connection, served by HandleRegistrationClient on its own thread.
class AndroidPeer
{
public:
    AndroidPeer()
    {
        WSADATA data{};
        ::WSAStartup(MAKEWORD(2, 2), &data);
        SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        ::listen(listener, 1);
        int length = sizeof(address);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        android_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ::connect(android_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        windows_ = ::accept(listener, nullptr, nullptr);
        ::closesocket(listener);
        DWORD timeoutMs = 10000;
        ::setsockopt(android_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
                     sizeof(timeoutMs));
        handler_ = std::thread([this] {
            Pd::Host::HandleRegistrationClient(windows_);
            ::shutdown(windows_, SD_SEND); // as the vsock loop closes it
        });
    }
    ~AndroidPeer()
    {
        ::closesocket(android_); // Android goes: the handler's receive ends
        handler_.join();
        ::closesocket(windows_);
        ::WSACleanup();
    }

    void Send(const std::string& bytes) { ::send(android_, bytes.data(), static_cast<int>(bytes.size()), 0); }

    // The answer byte, or 0 when the handler ended the connection without one.
    char HandOver(const std::string& id)
    {
        Send("RGID" + std::string(1, static_cast<char>(id.size())) + id);
        return Answer();
    }

    char Answer()
    {
        char answer = 0;
        return ::recv(android_, &answer, 1, 0) == 1 ? answer : 0;
    }

private:
    SOCKET android_ = INVALID_SOCKET;
    SOCKET windows_ = INVALID_SOCKET;
    std::thread handler_;
};

std::atomic<int> offers{0};
bool AcceptOffer()
{
    ++offers;
    return true;
}

class RegistrationTest : public ::testing::Test
{
protected:
    RegistrationTest()
    {
        std::lock_guard guard(Pd::Host::RegistrationLock);
        Pd::Host::WaitingDeviceId.clear();
        Pd::Host::OfferedDeviceId.clear();
        Pd::Host::RegistrationAsked = false;
        offers = 0;
    }
    ~RegistrationTest() override { Pd::Host::TrayHooks::registrationOffer = nullptr; }

    std::wstring Registered() { return Pd::Core::ReadUserString(L"GooglePlayRegistered", L""); }

    PdTest::UserValues values_{{L"GooglePlayIdKnown", L"GooglePlayRegistered"}};
    Pd::Test::SimScenario pc_{"{}"};
    Pd::Test::LogCapture log_;
};

TEST(RegistrationIdHash, IsFnv1a64OverTheLowBytes)
{
    EXPECT_EQ(Pd::Host::RegistrationIdHash(L""), 0xCBF29CE484222325ULL);
    EXPECT_EQ(Pd::Host::RegistrationIdHash(L"a"), 0xAF63DC4C8601EC8CULL);
    EXPECT_EQ(Pd::Host::RegistrationIdHash(L"\x0161"), Pd::Host::RegistrationIdHash(L"a"));
}

TEST_F(RegistrationTest, AMalformedMessageEndsTheConnectionWithoutAnAnswer)
{
    for (const std::string& message : {
             std::string("RGID\x15") + std::string(21, '1'),
             std::string("RGID\x00", 5),
             std::string("RGID\x03") + "12a",
             std::string("RGIX\x01") + "1",
         })
    {
        AndroidPeer android;
        android.Send(message);
        EXPECT_EQ(android.Answer(), 0) << message;
    }
    AndroidPeer android;
    EXPECT_EQ(android.HandOver(std::string(20, '9')), 'N');
}

TEST_F(RegistrationTest, WithoutATrayAndroidIsToldToShowItsOwnNotification)
{
    AndroidPeer android;
    EXPECT_EQ(android.HandOver("1234"), 'N');
    EXPECT_EQ(Pd::Core::ReadUserDword(L"GooglePlayIdKnown"), 1u);
    Pd::Core::WriteUserDword(L"GooglePlayIdKnown", 0);
    EXPECT_EQ(android.HandOver("5678"), 'N');
    EXPECT_EQ(Pd::Core::ReadUserDword(L"GooglePlayIdKnown"), 0u); // only the first id of the host
}

TEST_F(RegistrationTest, TheSameIdHandedOverTwiceIsOfferedOnce)
{
    Pd::Host::TrayHooks::registrationOffer = &AcceptOffer;
    AndroidPeer android;
    EXPECT_EQ(android.HandOver("4242"), 'S');
    EXPECT_EQ(android.HandOver("4242"), 'S');
    EXPECT_EQ(offers, 1);
    EXPECT_EQ(log_.Count("offered in a Windows notification"), 1u);
}

TEST_F(RegistrationTest, ARegisterRequestBeforeTheIdOpensThePageWhenItArrives)
{
    Pd::Host::HandleRegisterSignal();
    EXPECT_TRUE(Pd::Platform::Sim::OpenedWebPages(pc_.Folder()).empty());
    EXPECT_EQ(log_.Count("done when Android hands over the device ID"), 1u);
    {
        AndroidPeer android;
        EXPECT_EQ(android.HandOver("777"), 'O');
    }
    EXPECT_EQ(Pd::Platform::Sim::OpenedWebPages(pc_.Folder()),
              std::vector<std::wstring>{L"https://www.google.com/android/uncertified"});
    EXPECT_EQ(Registered(), fmt::format(L"{:016X}", Pd::Host::RegistrationIdHash(L"777")));

    // Registered from Windows before: later hand-overs are done without an offer.
    Pd::Host::TrayHooks::registrationOffer = &AcceptOffer;
    AndroidPeer android;
    EXPECT_EQ(android.HandOver("777"), 'O');
    EXPECT_EQ(offers, 0);
}

TEST_F(RegistrationTest, APageThatDidNotOpenLeavesTheRequestPending)
{
    pc_.Write(R"({"shell":{"opensPages":false}})");
    Pd::Host::HandleRegisterSignal();
    {
        AndroidPeer android;
        EXPECT_EQ(android.HandOver("31337"), 'N'); // not done: Android keeps its own offer
    }
    EXPECT_EQ(Registered(), L"");
    EXPECT_TRUE(Pd::Host::RegistrationAsked);
    EXPECT_EQ(log_.Count("page could not be opened"), 1u) << log_.Dump();

    // The shell in order again: the pending request is honoured at the next hand-over.
    pc_.Write("{}");
    AndroidPeer android;
    EXPECT_EQ(android.HandOver("31337"), 'O');
    EXPECT_FALSE(Pd::Host::RegistrationAsked);
    EXPECT_EQ(Pd::Platform::Sim::OpenedWebPages(pc_.Folder()).size(), 1u);
}

} // namespace
