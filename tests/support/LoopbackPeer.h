// A simulated Android service for tests: a TCP listener on 127.0.0.1 that accepts connections
// on its own thread and runs a behaviour on each (close at once, hold until the other side
// closes, ...). It records when each connection was accepted.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace Pd::Test
{

class LoopbackPeer
{
public:
    using Clock = std::chrono::steady_clock;
    using Behaviour = std::function<void(SOCKET connection)>;

    // Closes each connection as soon as it is accepted.
    static void CloseAtOnce(SOCKET) {}

    // Reads until the other side shuts down or closes.
    static void HoldUntilClosed(SOCKET connection)
    {
        char buffer[256];
        while (::recv(connection, buffer, sizeof(buffer), 0) > 0)
        {
        }
    }

    explicit LoopbackPeer(Behaviour behaviour) : behaviour_(std::move(behaviour))
    {
        WSADATA data{};
        ::WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        ::listen(listener_, 16);
        int length = sizeof(address);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ::ntohs(address.sin_port);
        thread_ = std::thread([this] { AcceptLoop(); });
    }

    ~LoopbackPeer()
    {
        ::closesocket(listener_); // ends accept()
        thread_.join();
        ::WSACleanup();
    }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    std::uint16_t Port() const { return port_; }

    std::vector<Clock::time_point> Accepted() const
    {
        std::lock_guard guard(lock_);
        return accepted_;
    }

    // Waits until `count` connections were accepted; false when that takes longer than `limit`.
    bool WaitForConnections(size_t count, std::chrono::milliseconds limit) const
    {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, limit, [&] { return accepted_.size() >= count; });
    }

private:
    void AcceptLoop()
    {
        for (;;)
        {
            SOCKET connection = ::accept(listener_, nullptr, nullptr);
            if (connection == INVALID_SOCKET)
                return;
            {
                std::lock_guard guard(lock_);
                accepted_.push_back(Clock::now());
            }
            changed_.notify_all();
            behaviour_(connection);
            ::closesocket(connection);
        }
    }

    Behaviour behaviour_;
    SOCKET listener_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<Clock::time_point> accepted_;
    std::thread thread_;
};

} // namespace Pd::Test
