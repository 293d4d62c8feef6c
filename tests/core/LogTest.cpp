#include "core/Log.h"

#include <gtest/gtest.h>

#include <regex>
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

TEST(Log, SinkReceivesTheTimeStampedLineWithoutItsLineEnd)
{
    CapturedLines captured;
    Pd::Core::Log("hci: reset");
    ASSERT_EQ(captured.lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(captured.lines[0], std::regex(R"(\[\d\d:\d\d:\d\d\.\d\d\d\] hci: reset)")))
        << captured.lines[0];
}

TEST(Log, EmptyTextGivesTheTimeStampAndOneBlank)
{
    CapturedLines captured;
    Pd::Core::Log("");
    ASSERT_EQ(captured.lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(captured.lines[0], std::regex(R"(\[\d\d:\d\d:\d\d\.\d\d\d\] )")));
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

TEST(Log, RemovingTheSinkStopsDeliveryToIt)
{
    std::vector<std::string> lines;
    Pd::Core::SetLogSink([&](std::string_view line) { lines.emplace_back(line); });
    Pd::Core::Log("one");
    Pd::Core::SetLogSink({});
    Pd::Core::Log("two");
    EXPECT_EQ(lines.size(), 1u);
}

} // namespace
