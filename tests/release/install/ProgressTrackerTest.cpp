#include "release/install/ProgressTracker.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{

using Pd::Core::ProgressTracker;

// A tracker on a clock the test moves by hand, recording every report.
struct Harness
{
    Harness()
    {
        callbacks.progress = [this](const Pd::Core::Progress& p) { reports.push_back(p); };
    }
    ProgressTracker Make()
    {
        return ProgressTracker(callbacks,
                               {[this] { return milliseconds * 1000000; }, [this] { return milliseconds; }});
    }

    Pd::Core::Callbacks callbacks;
    std::vector<Pd::Core::Progress> reports;
    std::uint64_t milliseconds = 5000;
};

TEST(ProgressTracker, StageReportsAtOnceAndClearsTheItem)
{
    Harness h;
    auto tracker = h.Make();
    tracker.BeginItem(L"Downloading a", 1, 2);
    tracker.Bytes(5, 10, 0, 800);
    tracker.Stage(L"Done", 1000);
    ASSERT_EQ(h.reports.size(), 2u);
    const auto& done = h.reports.back();
    EXPECT_EQ(done.stage, L"Done");
    EXPECT_EQ(done.position, 1000);
    EXPECT_EQ(done.itemIndex, 0);
    EXPECT_EQ(done.itemCount, 0);
    EXPECT_EQ(done.bytesDone, 0u);
    EXPECT_EQ(done.bytesTotal, 0u);
}

TEST(ProgressTracker, BytesAreThrottledToOneReportPer100MsButTheLastAlwaysGoesOut)
{
    Harness h;
    auto tracker = h.Make();
    tracker.BeginItem(L"Unpacking a", 1, 1);
    EXPECT_TRUE(h.reports.empty()); // beginning an item reports nothing
    for (std::uint64_t done = 100; done < 1000; done += 100)
    {
        tracker.Bytes(done, 1000, 800, 170);
        h.milliseconds += 50;
    }
    tracker.Bytes(1000, 1000, 800, 170);
    // The first call, then every second call 100 ms after the last report, then the end.
    std::vector<std::uint64_t> reported;
    for (const auto& p : h.reports)
        reported.push_back(p.bytesDone);
    EXPECT_EQ(reported, (std::vector<std::uint64_t>{100, 300, 500, 700, 900, 1000}));
    EXPECT_EQ(h.reports.back().position, 970);
    EXPECT_EQ(h.reports.back().itemIndex, 1);
    EXPECT_EQ(h.reports.back().stage, L"Unpacking a");
}

TEST(ProgressTracker, RateCountsOnlyBytesAfterTheFirstReportAndOnlyAfterHalfASecond)
{
    Harness h;
    auto tracker = h.Make();
    tracker.BeginItem(L"Downloading resumed", 1, 1);
    tracker.Bytes(600, 1000, 0, 800); // 600 bytes were already on disk
    h.milliseconds += 400;
    tracker.Bytes(700, 1000, 0, 800);
    EXPECT_EQ(h.reports.back().bytesPerSecond, 0u);
    EXPECT_EQ(h.reports.back().remainingSeconds, 0.0);
    h.milliseconds += 600; // one second after the item began
    tracker.Bytes(800, 1000, 0, 800);
    EXPECT_EQ(h.reports.back().bytesPerSecond, 200u);
    EXPECT_DOUBLE_EQ(h.reports.back().remainingSeconds, 1.0);
    EXPECT_EQ(h.reports.back().position, 640);

    tracker.BeginItem(L"empty", 2, 2);
    tracker.Bytes(0, 0, 600, 200);
    EXPECT_EQ(h.reports.back().position, 600) << "a total of 0 reports the base position";
}

TEST(ProgressPlan, DownloadsShareTheirRangeByPackedBytesAndUnpackingEquallyInWholeThousandths)
{
    auto first = Pd::Core::DownloadSpan(0, 300, 400);
    auto second = Pd::Core::DownloadSpan(300, 100, 400);
    EXPECT_EQ(std::pair(first.base, first.span), std::pair(0, 600));
    EXPECT_EQ(std::pair(second.base, second.span), std::pair(600, 200));
    auto nothing = Pd::Core::DownloadSpan(0, 0, 0); // no bytes to download counts as 1
    EXPECT_EQ(std::pair(nothing.base, nothing.span), std::pair(0, 0));

    std::vector<int> bases;
    for (int i = 1; i <= 3; ++i)
        bases.push_back(Pd::Core::UnpackSpan(i, 3).base);
    EXPECT_EQ(bases, (std::vector<int>{800, 856, 913}));
    EXPECT_EQ(Pd::Core::UnpackSpan(3, 3).span, 56);
    EXPECT_EQ(Pd::Core::UnpackSpan(1, 0).span, 170);
}

} // namespace
