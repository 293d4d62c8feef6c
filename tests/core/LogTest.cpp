#include "core/Log.h"

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace
{

struct CapturedLines
{
    CapturedLines()
    {
        Pd::Core::SetLogSink([this](std::string_view line) { lines.emplace_back(line); });
    }
    ~CapturedLines() { Pd::Core::SetLogSink({}); }
    std::vector<std::string> lines;
};

TEST(Log, SinkReceivesTimeStampedLinesUntilItIsRemoved)
{
    std::vector<std::string> lines;
    {
        CapturedLines captured;
        Pd::Core::Log("hci: reset");
        Pd::Core::Log("");
        lines = captured.lines;
    }
    Pd::Core::Log("after removal");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\[\d\d:\d\d:\d\d\.\d\d\d\] hci: reset)")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\[\d\d:\d\d:\d\d\.\d\d\d\] )"))) << lines[1];
}

TEST(Log, LinesFromManyThreadsArriveWholeAndNeverInterleaved)
{
    CapturedLines captured;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                Pd::Core::Log("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (auto& thread : threads)
        thread.join();
    ASSERT_EQ(captured.lines.size(), 1600u);
    for (const auto& line : captured.lines)
        EXPECT_TRUE(std::regex_match(line, std::regex(R"(\[[\d:.]{12}\] thread \d line \d+)"))) << line;
}

TEST(Log, ASinkThatThrowsOrLogsItselfNeitherReachesTheCallerNorDeadlocks)
{
    int calls = 0;
    Pd::Core::SetLogSink([&](std::string_view) {
        ++calls;
        throw std::runtime_error("console gone");
    });
    EXPECT_NO_THROW(Pd::Core::Log("first"));
    EXPECT_NO_THROW(Pd::Core::Log("second"));
    EXPECT_EQ(calls, 2);

    std::vector<std::string> lines;
    Pd::Core::SetLogSink([&](std::string_view line) {
        lines.emplace_back(line);
        Pd::Core::Log("nested");
    });
    Pd::Core::Log("outer");
    Pd::Core::Log("again");
    Pd::Core::SetLogSink({});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].ends_with("] outer"));
    EXPECT_TRUE(lines[1].ends_with("] again"));
}

} // namespace
