#include "core/release/ProgramCopy.h"

#include "core/Handles.h"
#include "tests/core/ScratchFolder.h"
#include "tests/support/SigningFixtures.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace
{

using PdTest::ReadFileBytes;

class ReplaceWithBackup : public ::testing::Test
{
protected:
    PdTest::ScratchFolder scratch_;
    std::filesystem::path source_ = scratch_.Write(L"new.exe", "new program");
    std::filesystem::path target_ = scratch_.Path() / L"Peldra.exe";
    std::filesystem::path backup_ = scratch_.Path() / L"Peldra.exe.old";
};

TEST_F(ReplaceWithBackup, CreatesAMissingTargetAndRemovesAnOldBackup)
{
    scratch_.Write(L"Peldra.exe.old", "left over");
    ASSERT_TRUE(Pd::Core::ReplaceWithBackup(source_.wstring(), target_.wstring()));
    EXPECT_EQ(ReadFileBytes(target_), "new program");
    EXPECT_FALSE(std::filesystem::exists(backup_));
}

TEST_F(ReplaceWithBackup, FailedCopyPutsTheOldTargetBack)
{
    scratch_.Write(L"Peldra.exe", "old program");
    auto result =
        Pd::Core::ReplaceWithBackup((scratch_.Path() / L"missing.exe").wstring(), target_.wstring());
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().starts_with(L"Cannot create " + target_.wstring() + L".: ")) << result.error();
    EXPECT_EQ(ReadFileBytes(target_), "old program");
    EXPECT_FALSE(std::filesystem::exists(backup_));
}

TEST_F(ReplaceWithBackup, FailedCopyWithoutOldTargetLeavesNothing)
{
    // The source is open without sharing, so the copy cannot read it.
    Pd::UniqueFile locked(
        ::CreateFileW(source_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(locked);
    EXPECT_FALSE(Pd::Core::ReplaceWithBackup(source_.wstring(), target_.wstring()));
    EXPECT_FALSE(std::filesystem::exists(target_));
    EXPECT_FALSE(std::filesystem::exists(backup_));
}

TEST_F(ReplaceWithBackup, TargetThatCannotBeMovedAsideIsReported)
{
    scratch_.Write(L"Peldra.exe", "old program");
    // Open without delete sharing: the target can be neither renamed nor replaced.
    Pd::UniqueFile held(
        ::CreateFileW(target_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    auto result = Pd::Core::ReplaceWithBackup(source_.wstring(), target_.wstring());
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().starts_with(L"Replacing " + target_.wstring() + L": ")) << result.error();
    held.Reset();
    EXPECT_EQ(ReadFileBytes(target_), "old program");
}

} // namespace
