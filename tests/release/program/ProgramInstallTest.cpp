// The program's copy of itself into the default install folder, with the running program, the
// default folder and the host controls of the test's own making, and the replacement with a
// backup that the copy uses. (The install road shows the host's registration and restart.)
#include "release/program/ProgramInstall.h"
#include "release/program/ProgramCopy.h"
#include "release/program/RunningImage.h"

#include "core/Handles.h"
#include "core/Module.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/Helpers.h"
#include "tests/release/LoopbackServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using PdTest::ReadBytes;

// Opened without sharing, a file can be neither read nor renamed by others.
Pd::UniqueFile Lock(const fs::path& file, DWORD share = 0)
{
    return Pd::UniqueFile(
        ::CreateFileW(file.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
}

// A copy of this test program mapped as an image, as Windows maps a program it starts: the
// running program whose file the copy has to prove it takes.
class MappedProgram
{
public:
    explicit MappedProgram(const fs::path& path)
    {
        fs::copy_file(Pd::Core::ModulePath(), path, fs::copy_options::overwrite_existing);
        Pd::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
        Pd::UniqueHandle mapping(
            ::CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr));
        view_.Reset(::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0));
        EXPECT_TRUE(view_) << "mapping " << path.string() << " as an image: " << ::GetLastError();
    }
    const void* Image() const { return view_.Get(); }

private:
    Pd::UniqueView view_;
};

class ProgramInstall : public ::testing::Test
{
protected:
    ProgramInstall()
    {
        PdTest::WriteBytes(running_, "program 0.1.2");
        PdTest::WriteBytes(scratch_.Path() / L"bin" / L"language" / L"de.lng", "#name=Deutsch\n");
        PdTest::WriteBytes(scratch_.Path() / L"bin" / L"language" / L"notes.txt", "not a language file");
        setting_.runningExe = running_.wstring();
        setting_.defaultFolder = default_.wstring();
        setting_.installedByPackage = [this] { return installedByPackage_; };
        setting_.setTaskRegistered = [this](bool on) -> Pd::Result<> {
            calls_.push_back(on ? L"register" : L"remove");
            return taskError_.empty() ? Pd::Result<>{} : Pd::Fail(taskError_);
        };
        setting_.stopHost = [this] { calls_.push_back(L"stop"); };
        setting_.startHost = [this]() -> Pd::Result<> {
            calls_.push_back(L"start");
            return Pd::Result<>{};
        };
        setting_.openRunningExe = [](const std::wstring& path) -> Pd::Result<Pd::UniqueFile> {
            Pd::UniqueFile file = Lock(path, FILE_SHARE_READ);
            return file ? Pd::Result<Pd::UniqueFile>(std::move(file)) : Pd::Fail(L"cannot open " + path);
        };
    }

    Pd::Result<> Install(const fs::path& installFolder, bool withHost = false)
    {
        fs::create_directories(installFolder);
        return Pd::Core::Detail::InstallProgramWith(PdTest::InFolder(installFolder), state_, withHost,
                                                    setting_);
    }

    PdTest::ScratchFolder scratch_;
    fs::path running_ = scratch_.Path() / L"bin" / L"Peldra-0.1.2.exe";
    fs::path default_ = scratch_.Path() / L"Program Files" / L"Peldra";
    fs::path installed_ = default_ / L"Peldra.exe";
    Pd::Core::Detail::ProgramSetting setting_;
    Pd::Core::InstallState state_;
    bool installedByPackage_ = false;
    std::wstring taskError_;
    std::vector<std::wstring> calls_;
};

// The folder the program runs from (Downloads, say) is open to every program of the user: none of
// its language files reaches the administrators' folder, where every account's host reads them,
// and what the installer package put there stays as it is.
TEST_F(ProgramInstall, CopiesTheProgramOverAnOlderCopyButNoLanguageFileFromBesideIt)
{
    PdTest::WriteBytes(installed_, "program 0.1.1");
    PdTest::WriteBytes(default_ / L"language" / L"de.lng", "#name=Deutsch (installed)\n");
    PdTest::WriteBytes(running_.parent_path() / L"language" / L"fr.lng", "#name=Fran\u00E7ais\n");
    state_.entries[L"system"] = {L"system.vhdx"};
    ASSERT_TRUE(Install(scratch_.Path() / L"Tovik"));
    EXPECT_EQ(ReadBytes(installed_), "program 0.1.2");
    EXPECT_EQ(ReadBytes(default_ / L"language" / L"de.lng"), "#name=Deutsch (installed)\n");
    PdTest::ExpectPaths({default_ / L"language" / L"fr.lng", default_ / L"language" / L"notes.txt",
                         default_ / L"Peldra.exe.old"},
                        false);
    // The release lies in another folder: no host entry.
    EXPECT_FALSE(state_.entries.contains(L"host"));
    EXPECT_FALSE(fs::exists(scratch_.Path() / L"Tovik" / L"peldra.json"));
}

TEST_F(ProgramInstall, FailedCopyKeepsTheInstalledProgramAndRecordsNothing)
{
    PdTest::WriteBytes(installed_, "program 0.1.1");
    fs::create_directories(installed_.wstring() + L".new"); // the copy cannot be written
    EXPECT_TRUE(PdTest::ErrorOf(Install(default_)).starts_with(L"Cannot create " + installed_.wstring()));
    EXPECT_EQ(ReadBytes(installed_), "program 0.1.1");
    EXPECT_FALSE(fs::exists(default_ / L"Peldra.exe.old"));
    EXPECT_FALSE(state_.entries.contains(L"host"));
    EXPECT_FALSE(fs::exists(default_ / L"peldra.json"));
}

TEST_F(ProgramInstall, ProgramRunningFromTheDefaultFolderIsNotCopiedButRecorded)
{
    PdTest::WriteBytes(installed_, "program 0.1.2 installed");
    setting_.runningExe = (default_ / L"." / L"PELDRA.EXE").wstring(); // the same file by another name
    ASSERT_TRUE(Install(default_));
    EXPECT_EQ(ReadBytes(installed_), "program 0.1.2 installed");
    EXPECT_FALSE(fs::exists(default_ / L"language"));
    EXPECT_EQ(state_.entries[L"host"], (std::vector<std::wstring>{L"Peldra.exe", L"language"}));
    EXPECT_EQ(Pd::Core::ReadState(PdTest::InFolder(default_)).entries[L"host"], state_.entries[L"host"]);

    // Copied into the default folder that holds the release, the program records its files and the
    // language files the installer package put there, never those beside the running program.
    PdTest::WriteBytes(default_ / L"language" / L"fr.lng", "#name=Fran\u00E7ais\n");
    setting_.runningExe = running_.wstring();
    ASSERT_TRUE(Install(default_));
    EXPECT_EQ(Pd::Core::ReadState(PdTest::InFolder(default_)).placed[L"host"],
              (std::vector<std::wstring>{L"Peldra.exe", L"language\\", L"language\\fr.lng"}));
}

// The copy takes the file the running image was mapped from, found as that file, not by its
// name or its bytes, and holds it so that it cannot be renamed meanwhile. Another program put at
// the running program's path is not installed: nothing is copied, recorded or registered, and the
// host is neither stopped nor started.
TEST_F(ProgramInstall, OnlyTheFileTheRunningImageWasMappedFromIsTakenForTheCopy)
{
    MappedProgram running(running_);
    const fs::path moved = scratch_.Path() / L"bin" / L"moved.exe";
    const fs::path copy = scratch_.Path() / L"copy.exe"; // the same bytes, another file
    fs::copy_file(running_, copy);
    setting_.openRunningExe = [&running](const std::wstring& path) {
        return Pd::Core::Detail::OpenImageFile(running.Image(), path);
    };
    {
        auto taken = setting_.openRunningExe(running_.wstring());
        ASSERT_TRUE(taken) << Pd::Core::ToUtf8(taken.error());
        EXPECT_FALSE(::MoveFileW(running_.c_str(), moved.c_str())) << "renamed while it is held";
    }
    ASSERT_TRUE(::MoveFileW(running_.c_str(), moved.c_str()));
    fs::copy_file(copy, running_);
    for (const auto& [path, taken] :
         {std::pair{moved, true}, std::pair{running_, false}, std::pair{copy, false}})
        EXPECT_EQ(PdTest::ErrorOf(setting_.openRunningExe(path.wstring())),
                  taken ? L"(no error)"
                        : Pd::Core::FormatText(Pd::TextId::ProgramReplacedSinceStart, path.wstring()));

    EXPECT_EQ(PdTest::ErrorOf(Install(scratch_.Path() / L"Tovik", true)),
              Pd::Core::FormatText(Pd::TextId::ProgramReplacedSinceStart, running_.wstring()));
    EXPECT_FALSE(fs::exists(default_));
    EXPECT_EQ(calls_, std::vector<std::wstring>{});
    EXPECT_FALSE(state_.entries.contains(L"host"));
}

TEST_F(ProgramInstall, ProgramOfTheInstallerPackageIsNotCopied)
{
    installedByPackage_ = true;
    ASSERT_TRUE(Install(scratch_.Path() / L"Tovik"));
    EXPECT_FALSE(fs::exists(installed_));
}

// The host ends before its program is replaced (no "Peldra.exe.old" stays beside a running one)
// and comes back also when the task cannot be registered.
TEST_F(ProgramInstall, TheHostEndsBeforeTheCopyAndComesBackWhateverFails)
{
    PdTest::WriteBytes(installed_, "program 0.1.1");
    setting_.stopHost = [this] { calls_.push_back(L"stop at " + Pd::Core::FromUtf8(ReadBytes(installed_))); };
    taskError_ = L"Task Scheduler: access denied";
    EXPECT_EQ(PdTest::ErrorOf(Install(scratch_.Path() / L"Tovik", true)), taskError_);
    EXPECT_EQ(calls_, (std::vector<std::wstring>{L"stop at program 0.1.1", L"register", L"start"}));
    EXPECT_EQ(ReadBytes(installed_), "program 0.1.2");
}

class ReplaceWithBackup : public ::testing::Test
{
protected:
    PdTest::ScratchFolder scratch_;
    fs::path source_ = scratch_.Write(L"new.exe", "new program");
    Pd::UniqueFile sourceFile_ = Lock(source_, FILE_SHARE_READ);
    fs::path target_ = scratch_.Path() / L"Peldra.exe";
    fs::path backup_ = scratch_.Path() / L"Peldra.exe.old";
};

TEST_F(ReplaceWithBackup, FailedCopyWithoutOldTargetLeavesNothing)
{
    // A handle without read access: the copy fails after "<target>.new" was created.
    Pd::UniqueFile unreadable(::CreateFileW(source_.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(unreadable);
    EXPECT_TRUE(PdTest::ErrorOf(Pd::Core::ReplaceWithBackup(unreadable.Get(), target_.wstring()))
                    .starts_with(L"Cannot create " + target_.wstring()));
    EXPECT_FALSE(fs::exists(target_.wstring() + L".new"));
    EXPECT_FALSE(fs::exists(target_));
    EXPECT_FALSE(fs::exists(backup_));
}

TEST_F(ReplaceWithBackup, ARunCutOffBetweenCopyAndRenameLeavesTheOldProgramWholeForTheNextRun)
{
    scratch_.Write(L"Peldra.exe", "old program");
    scratch_.Write(L"Peldra.exe.new", "cut-off copy of an earlier run, longer than the new one");
    // The first half alone is what a run killed before the rename leaves behind.
    auto copied = Pd::Core::Detail::CopyBeside(sourceFile_.Get(), target_.wstring());
    ASSERT_TRUE(copied);
    EXPECT_EQ(ReadBytes(target_), "old program");
    EXPECT_EQ(ReadBytes(*copied), "new program");

    ASSERT_TRUE(Pd::Core::ReplaceWithBackup(sourceFile_.Get(), target_.wstring()));
    EXPECT_EQ(ReadBytes(target_), "new program");
    PdTest::ExpectPaths({*copied, backup_}, false);
}

TEST_F(ReplaceWithBackup, AProgramInUseGoesAsideAndTheCopyTakesItsName)
{
    scratch_.Write(L"Peldra.exe", "old program");
    // Open with delete sharing, like a running program: it can be renamed but not replaced.
    Pd::UniqueFile running = Lock(target_, FILE_SHARE_READ | FILE_SHARE_DELETE);
    ASSERT_TRUE(running);
    ASSERT_TRUE(Pd::Core::ReplaceWithBackup(sourceFile_.Get(), target_.wstring()));
    EXPECT_EQ(ReadBytes(target_), "new program");
    EXPECT_FALSE(fs::exists(target_.wstring() + L".new"));
}

TEST_F(ReplaceWithBackup, TargetThatCannotBeMovedAsideIsReported)
{
    scratch_.Write(L"Peldra.exe", "old program");
    Pd::UniqueFile held = Lock(target_, FILE_SHARE_READ);
    ASSERT_TRUE(held);
    EXPECT_TRUE(PdTest::ErrorOf(Pd::Core::ReplaceWithBackup(sourceFile_.Get(), target_.wstring()))
                    .starts_with(L"Replacing " + target_.wstring() + L": "));
    held.Reset();
    EXPECT_EQ(ReadBytes(target_), "old program");
    EXPECT_FALSE(fs::exists(target_.wstring() + L".new"));
}

} // namespace
