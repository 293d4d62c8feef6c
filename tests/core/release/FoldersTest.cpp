#include "core/release/Folders.h"

#include "tests/core/ScratchFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

namespace
{

using Pd::Core::RelativePath;
using Pd::Core::Detail::IsUnderFolder;

TEST(ProgramFiles, FoldersBelowItInAnyLetterCaseAreUnderIt)
{
    const std::wstring programFiles = L"D:\\Program Files";
    EXPECT_TRUE(IsUnderFolder(L"D:\\Program Files\\Peldra", programFiles));
    EXPECT_TRUE(IsUnderFolder(L"d:\\PROGRAM FILES\\peldra\\", programFiles));
    EXPECT_TRUE(IsUnderFolder(L"D:/Program Files/Peldra/./release", programFiles));
}

TEST(ProgramFiles, ItselfItsNeighboursAndOtherDrivesAreNot)
{
    const std::wstring programFiles = L"D:\\Program Files";
    EXPECT_FALSE(IsUnderFolder(L"D:\\Program Files", programFiles));
    EXPECT_FALSE(IsUnderFolder(L"D:\\Program Files\\", programFiles));
    EXPECT_FALSE(IsUnderFolder(L"D:\\Program Files (x86)\\Peldra", programFiles));
    EXPECT_FALSE(IsUnderFolder(L"D:\\Program Files\\..\\Peldra", programFiles));
    EXPECT_FALSE(IsUnderFolder(L"E:\\Peldra", programFiles));
    EXPECT_FALSE(IsUnderFolder(L"Peldra", programFiles));
    EXPECT_FALSE(IsUnderFolder(L"D:\\Program Files\\Peldra", L""));
}

TEST(ProgramFiles, TheMachinesProgramFilesFolderIsUsed)
{
    wchar_t folder[MAX_PATH] = {};
    ASSERT_GT(::ExpandEnvironmentStringsW(L"%ProgramFiles%", folder, MAX_PATH), 0u);
    EXPECT_TRUE(Pd::Core::IsUnderProgramFiles(std::wstring(folder) + L"\\Peldra"));
    EXPECT_FALSE(Pd::Core::IsUnderProgramFiles(folder));
    EXPECT_FALSE(Pd::Core::IsUnderProgramFiles(L"C:\\Peldra"));
}

TEST(RelativePaths, ExtendedPrefixCountsOnlyOnBoth)
{
    EXPECT_EQ(RelativePath(L"\\\\?\\D:\\a\\b", L"\\\\?\\D:\\a"), L"b");
    EXPECT_EQ(RelativePath(L"\\\\?\\D:\\a\\b", L"D:\\a"), L"");
    EXPECT_EQ(RelativePath(L"D:\\a", L"D:\\a"), L".");
    EXPECT_EQ(RelativePath(L"D:\\a", L"D:\\a\\b\\c"), L"..\\..");
    EXPECT_EQ(RelativePath(L"D:\\a", L"E:\\a"), L"");
    EXPECT_EQ(RelativePath(L"a\\b", L"D:\\a"), L"");
}

TEST(FreeSpace, FolderNotYetCreatedHasTheSpaceOfItsNearestParent)
{
    PdTest::ScratchFolder scratch;
    const auto existing = Pd::Core::FreeSpace(scratch.Path().wstring());
    ASSERT_NE(existing, std::numeric_limits<std::uint64_t>::max());
    const auto missing = Pd::Core::FreeSpace((scratch.Path() / L"not" / L"yet").wstring());
    ASSERT_NE(missing, std::numeric_limits<std::uint64_t>::max());
    // The volume may change a little between the two queries, never by a gigabyte.
    EXPECT_LT(existing > missing ? existing - missing : missing - existing, 1ull << 30);
}

TEST(FreeSpace, DriveThatDoesNotExistCannotBeDetermined)
{
    // Wine maps only a few drive letters; pick one that is not there.
    std::wstring drive;
    for (wchar_t letter = L'Q'; letter <= L'Y' && drive.empty(); ++letter)
        if (!std::filesystem::exists(std::wstring(1, letter) + L":\\"))
            drive = std::wstring(1, letter) + L":";
    ASSERT_FALSE(drive.empty());
    EXPECT_EQ(Pd::Core::FreeSpace(drive + L"\\Peldra\\release"), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(Pd::Core::FreeSpace(drive), std::numeric_limits<std::uint64_t>::max());
}

TEST(SameFile, NamesOfOneFileAreTheSameFile)
{
    PdTest::ScratchFolder scratch;
    const auto file = scratch.Write(L"Peldra.exe", "program");
    scratch.Write(L"Other.exe", "program");
    EXPECT_TRUE(Pd::Core::SameFile(file.wstring(), (scratch.Path() / L"." / L"PELDRA.EXE").wstring()));
    EXPECT_TRUE(Pd::Core::SameFile(scratch.Path().wstring(), scratch.Path().wstring() + L"\\"));
    EXPECT_FALSE(Pd::Core::SameFile(file.wstring(), (scratch.Path() / L"Other.exe").wstring()));
    EXPECT_FALSE(Pd::Core::SameFile(file.wstring(), (scratch.Path() / L"missing.exe").wstring()));
}

} // namespace
