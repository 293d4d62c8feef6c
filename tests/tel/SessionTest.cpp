#include "tel/bridge/Session.h"

#include "tests/tel/MemoryModem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <semaphore>
#include <thread>

namespace
{

using namespace Pd::Tel;
using namespace std::chrono_literals;

// Events come on the modem's own thread, which calls a copy of the handlers taken under the
// modem's lock: a call may be running, or start, after DisconnectSinks returned.
struct ThreadedModem : Testing::MemoryModem
{
    std::mutex lock;
    std::atomic<int> reads = 0;
    std::binary_semaphore readEntered{0}, readLeaves{0};

    void SetMessageHandler(Handlers given) override
    {
        std::lock_guard guard(lock);
        handlers = std::move(given);
    }
    void DisconnectSinks() override { SetMessageHandler({}); }
    Handlers Copy()
    {
        std::lock_guard guard(lock);
        return handlers;
    }
    ModemState ReadState() override
    {
        if (++reads == 1)
            readEntered.release(), readLeaves.acquire();
        return state;
    }
};

TEST(Session, HandlersRunningAsTheConnectionEndsFinishAndLaterOnesDoNothing)
{
    ThreadedModem modem;
    std::mutex wireLock;
    std::string wire;
    std::binary_semaphore idle{0}, end{0};
    std::atomic<int> receives = 0;
    std::atomic<bool> served = false;
    Stream stream{[&](std::span<char> buffer) {
                      if (receives++ == 0)
                          return static_cast<int>(std::string_view("AT+CREG=2\r").copy(buffer.data(), 10));
                      idle.release(), end.acquire();
                      return 0;
                  },
                  [&](std::string_view text) {
                      std::lock_guard guard(wireLock);
                      wire += text;
                  },
                  [] {}};
    std::jthread serving([&] {
        ServeStream(modem, stream);
        served = true;
    });
    idle.acquire();
    Modem::Handlers late = modem.Copy();
    std::jthread event([&] { late.onChange(); });
    modem.readEntered.acquire();
    end.release();
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(served) << "the connection was freed under a running handler";
    modem.readLeaves.release();
    event.join();
    serving.join();
    const std::string answered =
        "\r\nOK\r\n\r\n+CREG: 1,\"0001\",\"00000001\",7\r\n\r\n+CSQ: "
        "20,99,-1,-1,-1,-1,-1,20,100,2147483647,2147483647,2147483647,2147483647,"
        "2147483647,20,99,2147483647,2147483647,2147483647,2147483647,2147483647,2147483647\r\n";
    EXPECT_EQ(wire, answered) << "the running handler finished";
    EXPECT_FALSE(modem.handlers.onChange);

    late.onChange();
    late.onMessage(Testing::TextSmsPdu, 3);
    EXPECT_EQ(modem.reads, 1) << "a handler reached the finished connection";
    EXPECT_EQ(wire, answered);
}

TEST(Session, ALineThatRunsOnAndOnIsRefusedAndTheConnectionStays)
{
    Testing::MemoryModem modem;
    int receives = 0, shutdowns = 0;
    std::string wire;
    ServeStream(modem, {[&](std::span<char> buffer) {
                            if (++receives <= 1000) // a megabyte without a line end
                            {
                                std::ranges::fill(buffer, 'A');
                                return static_cast<int>(buffer.size());
                            }
                            if (receives > 1001)
                                return 0;
                            return static_cast<int>(std::string_view("\rAT\r").copy(buffer.data(), 4));
                        },
                        [&](std::string_view text) { wire += text; }, [&] { ++shutdowns; }});
    EXPECT_EQ(wire, "\r\nERROR\r\n\r\nOK\r\n");
    EXPECT_EQ(shutdowns, 1);
}

} // namespace
