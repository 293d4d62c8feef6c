// The test exe doubles as a stand-in host: started as "host --background" (by the host controls
// under test) it signals that it ran and ends.
#include "HostStandIn.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "host") == 0 && std::strcmp(argv[2], "--background") == 0)
    {
        if (HANDLE started = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, Pd::Test::HostStartedEventName))
        {
            ::SetEvent(started);
            ::CloseHandle(started);
        }
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
