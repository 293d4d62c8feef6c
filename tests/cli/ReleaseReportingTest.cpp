#include "cli/ReleaseReporting.h"

#include "FakeConsoleDevice.h"

#include <gtest/gtest.h>

#include <memory>

namespace
{

using Pd::Cli::Console;
using Pd::Cli::ExitCode;
using Pd::Cli::HandleKind;
using Pd::Core::Progress;
using PdTest::FakeConsoleDevice;
using PdTest::FakeConsoleState;

class ReleaseReportingTest : public ::testing::Test
{
protected:
    ReleaseReportingTest()
    {
        state.outputKind = HandleKind::FileOrPipe;
        state.errorKind = HandleKind::FileOrPipe;
        console = std::make_unique<Console>(std::make_unique<FakeConsoleDevice>(state));
    }
    std::string Output() const { return state.InFile(state.StdOutput); }

    static Progress Report(std::int32_t position, std::uint64_t done, std::uint64_t total,
                           std::uint64_t speed = 0)
    {
        Progress progress;
        progress.stage = L"Downloading system";
        progress.position = position;
        progress.bytesDone = done;
        progress.bytesTotal = total;
        progress.bytesPerSecond = speed;
        return progress;
    }

    FakeConsoleState state;
    std::unique_ptr<Console> console;
};

TEST_F(ReleaseReportingTest, TheBarFollowsTheStageBytesNotThePositionInTheRun)
{
    Pd::Cli::ShowProgress(*console, Report(900, 1 << 20, 4 << 20, 512 << 10));
    std::string line = Output();
    EXPECT_TRUE(line.starts_with("  Downloading system")) << line;
    EXPECT_NE(line.find("  25%  1.0 MB / 4.0 MB  512.0 KB/s\r\n"), std::string::npos) << line;
}

TEST_F(ReleaseReportingTest, WithoutSpeedTheDetailIsTheBytesAlone)
{
    Pd::Cli::ShowProgress(*console, Report(0, 4 << 20, 4 << 20));
    EXPECT_TRUE(Output().ends_with(" 100%  4.0 MB / 4.0 MB\r\n")) << Output();
}

TEST_F(ReleaseReportingTest, ReportsWithoutPositionOrBytesDrawNothing)
{
    Pd::Cli::ShowProgress(*console, Report(-1, 10, 100));
    Pd::Cli::ShowProgress(*console, Report(500, 0, 0));
    EXPECT_EQ(Output(), "");
}

TEST_F(ReleaseReportingTest, QuestionsAreAnsweredFromYesAndSaySo)
{
    EXPECT_TRUE(Pd::Cli::AnswerFromYes(*console, L"Turn on developer mode?", true));
    EXPECT_FALSE(Pd::Cli::AnswerFromYes(*console, L"Enable Virtual Machine Platform?", false));
    EXPECT_EQ(Output(), "Turn on developer mode?\r\n  --yes: accepted\r\n"
                        "Enable Virtual Machine Platform?\r\n  not accepted (add --yes to accept)\r\n");
}

TEST_F(ReleaseReportingTest, OnlyTheCanceledTextMeansCanceled)
{
    EXPECT_EQ(Pd::Cli::FailureExitCode(L"Canceled."), ExitCode::Canceled);
    EXPECT_EQ(Pd::Cli::FailureExitCode(L"Canceled. "), ExitCode::Failed);
    EXPECT_EQ(Pd::Cli::FailureExitCode(L"Downloading system: the server closed the connection"),
              ExitCode::Failed);
}

} // namespace
