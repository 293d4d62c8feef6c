// Runs the MMS relay as the telephony bridge runs it, on a thread of its own with a stop token,
// for the end-to-end tests on a simulated PC: until a line arrives on standard input or it
// closes. Then the relay is asked to stop; the driver ends when it has, with exit code 0.
#include "tel/mms/MmsRelay.h"

#include <cstdio>
#include <thread>

int wmain()
{
    std::jthread relay([](std::stop_token stop) { Pd::Tel::RunMmsRelay(stop); });
    int character = 0;
    while ((character = std::getchar()) != EOF && character != '\n')
    {
    }
    relay.request_stop();
    relay.join();
    return 0;
}
