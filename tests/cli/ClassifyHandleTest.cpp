// The kinds of real handles, as the console output sorts standard handles.
#include "cli/ConsoleDevice.h"
#include "core/Handles.h"

#include "../core/ScratchFolder.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Cli::ClassifyHandle;
using Pd::Cli::HandleKind;

TEST(ClassifyHandleTest, FilesPipesAndTheNulDeviceAreRedirectionsAndMissingHandlesNone)
{
    EXPECT_EQ(ClassifyHandle(nullptr), HandleKind::None);
    EXPECT_EQ(ClassifyHandle(INVALID_HANDLE_VALUE), HandleKind::None);

    PdTest::ScratchFolder folder;
    Pd::UniqueFile file(::CreateFileW((folder.Path() / L"out.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file);
    EXPECT_EQ(ClassifyHandle(file.Get()), HandleKind::FileOrPipe);

    HANDLE read = nullptr, write = nullptr;
    ASSERT_TRUE(::CreatePipe(&read, &write, nullptr, 0));
    Pd::UniqueHandle readEnd(read), writeEnd(write);
    EXPECT_EQ(ClassifyHandle(writeEnd.Get()), HandleKind::FileOrPipe);

    Pd::UniqueFile nul(
        ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(nul);
    EXPECT_EQ(ClassifyHandle(nul.Get()), HandleKind::FileOrPipe);
}

} // namespace
