// The kinds of real handles, as the console output sorts standard handles.
#include "cli/ConsoleDevice.h"
#include "core/Handles.h"

#include "../core/ScratchFolder.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Cli::ClassifyHandle;
using Pd::Cli::HandleKind;

Pd::UniqueFile Open(const std::wstring& path, DWORD disposition)
{
    return Pd::UniqueFile(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition, 0,
                                        nullptr));
}

TEST(ClassifyHandleTest, MissingHandlesAreNone)
{
    EXPECT_EQ(ClassifyHandle(nullptr), HandleKind::None);
    EXPECT_EQ(ClassifyHandle(INVALID_HANDLE_VALUE), HandleKind::None);
}

TEST(ClassifyHandleTest, FilesPipesAndTheNulDeviceAreRedirections)
{
    PdTest::ScratchFolder folder;
    Pd::UniqueFile file = Open((folder.Path() / L"out.txt").wstring(), CREATE_NEW);
    ASSERT_TRUE(file);
    EXPECT_EQ(ClassifyHandle(file.Get()), HandleKind::FileOrPipe);

    HANDLE read = nullptr;
    HANDLE write = nullptr;
    ASSERT_TRUE(::CreatePipe(&read, &write, nullptr, 0));
    Pd::UniqueHandle readEnd(read);
    Pd::UniqueHandle writeEnd(write);
    EXPECT_EQ(ClassifyHandle(writeEnd.Get()), HandleKind::FileOrPipe);

    Pd::UniqueFile nul = Open(L"NUL", OPEN_EXISTING);
    ASSERT_TRUE(nul);
    EXPECT_EQ(ClassifyHandle(nul.Get()), HandleKind::FileOrPipe);
}

} // namespace
