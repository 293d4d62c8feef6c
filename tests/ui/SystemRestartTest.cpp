#include "ui/SystemRestart.h"

#include <gtest/gtest.h>

namespace
{

// shutdown.exe is named by its full path, as the program and quoted as the command line's first
// word, so that neither a folder with spaces nor the search path can start another program; an
// unknown system folder starts nothing.
TEST(SystemRestart, ShutdownIsStartedByItsFullQuotedPath)
{
    using Pd::Ui::ProgramStart;
    EXPECT_EQ(Pd::Ui::RestartCommand(L"C:\\Windows\\System32"),
              (ProgramStart{L"C:\\Windows\\System32\\shutdown.exe",
                            L"\"C:\\Windows\\System32\\shutdown.exe\" /r /t 0"}));
    EXPECT_EQ(Pd::Ui::RestartCommand(L"D:\\Win dows\\System32"),
              (ProgramStart{L"D:\\Win dows\\System32\\shutdown.exe",
                            L"\"D:\\Win dows\\System32\\shutdown.exe\" /r /t 0"}));
    EXPECT_EQ(Pd::Ui::RestartCommand(L""), ProgramStart{});
}

} // namespace
