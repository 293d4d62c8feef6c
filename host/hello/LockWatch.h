// The lock watch: while it lives, a message-only window on a thread of its own receives this
// session's change notifications and counts each lock, logoff and disconnect in the lock
// generation, which forgets the remembered verification. Its end counts one more, so a stopped
// bridge forgets too.
#pragma once

#include <stop_token>
#include <thread>

namespace Pd::Bio::Hello
{

class LockWatch
{
public:
    LockWatch() : thread_([](std::stop_token stop) { Run(stop); }) {}
    // Closes the window and joins the thread.
    ~LockWatch() = default;
    LockWatch(const LockWatch&) = delete;
    LockWatch& operator=(const LockWatch&) = delete;

private:
    static void Run(std::stop_token stop);

    std::jthread thread_;
};

} // namespace Pd::Bio::Hello
