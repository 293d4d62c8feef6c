// Unpacking the compressed fixture components (fixtures.json) into staged files.
#include "release/unpack/Unpack.h"

#include "release/download/Net.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/Helpers.h"
#include "tests/release/LoopbackServer.h"

#include <gtest/gtest.h>

#include <stop_token>

namespace
{

using Pd::Install::UnpackArchive;
using Pd::Install::UnpackFile;
namespace fs = std::filesystem;
using PdTest::Fixture;
using PdTest::FixtureFile;

class Unpack : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(PdTest::LoopbackServer::Get().Running()) << "PD_RELEASE_SERVER is not set";
    }

    // The ".new" files left anywhere in the scratch folder.
    std::size_t Temporaries() const
    {
        std::size_t found = 0;
        for (const auto& entry : fs::recursive_directory_iterator(folder.Path()))
            found += entry.path().extension() == L".new" ? 1 : 0;
        return found;
    }

    PdTest::ScratchFolder folder;
    fs::path Target(const wchar_t* name) const { return folder.Path() / name; }
};

TEST_F(Unpack, ConcatenatedFramesBecomeOneStagedFileCheckedAgainstTheRelease)
{
    const auto& frames = Fixture(L"frames");
    std::vector<std::uint64_t> consumed;
    auto report =
        UnpackFile(FixtureFile(L"frames"), Target(L"frames.img").wstring(), frames.size, frames.sha256,
                   [&](std::uint64_t done, std::uint64_t total) {
                       consumed.push_back(done);
                       EXPECT_EQ(total, frames.packedSize);
                   },
                   {});
    ASSERT_TRUE(report) << report.error();
    EXPECT_EQ(report->bytes, 400000u);
    EXPECT_EQ(consumed.back(), frames.packedSize);
    EXPECT_FALSE(fs::exists(Target(L"frames.img")));
    ASSERT_TRUE(report->staged.CommitAll());
    EXPECT_EQ(Pd::Net::FileSha256(Target(L"frames.img").wstring(), {}, {}).value_or(L""), frames.sha256);

    auto unchecked = UnpackFile(FixtureFile(L"frames"), Target(L"any.img").wstring(), 0, L"", {}, {});
    ASSERT_TRUE(unchecked) << unchecked.error();
    EXPECT_EQ(unchecked->bytes, 400000u);
}

TEST_F(Unpack, FileThatDiffersFromTheReleaseOrEndsEarlyLeavesNoTemporaryFile)
{
    std::string damaged = PdTest::ReadBytes(FixtureFile(L"frames"));
    damaged[damaged.size() / 2] ^= 0x55;
    const auto& hello = Fixture(L"hello");
    const auto& truncated = Fixture(L"truncated"); // one whole frame, then a cut one
    struct Case
    {
        std::wstring source;
        std::uint64_t size;
        std::wstring sha256;
        std::wstring error; // its start when it ends with "..."
    };
    const Case cases[] = {
        {folder.Write(L"empty.zst", "").wstring(), 0, L"", L"The compressed data ends too early."},
        {FixtureFile(L"truncated"), truncated.size, truncated.sha256, L"The compressed data ends too early."},
        {folder.Write(L"damaged.zst", damaged).wstring(), 0, L"", L"Damaged compressed data (..."},
        {FixtureFile(L"hello"), 14, hello.sha256,
         L"hello.txt is larger after unpacking than the release says (14 bytes)."},
        {FixtureFile(L"hello"), 16, hello.sha256, L"hello.txt has 15 bytes after unpacking instead of 16."},
        {FixtureFile(L"hello"), 15, std::wstring(64, L'0'),
         L"hello.txt does not match the release after unpacking (SHA-256)."},
    };
    for (const Case& c : cases)
    {
        auto report = UnpackFile(c.source, Target(L"hello.txt").wstring(), c.size, c.sha256, {}, {});
        ASSERT_FALSE(report) << Pd::Core::ToUtf8(c.error);
        EXPECT_TRUE(PdTest::Matches(report.error(), c.error)) << report.error();
        EXPECT_EQ(Temporaries(), 0u) << Pd::Core::ToUtf8(c.error);
    }
    EXPECT_TRUE(UnpackFile(FixtureFile(L"hello"), Target(L"hello.txt").wstring(), 15, hello.sha256, {}, {}));
}

TEST_F(Unpack, StopBetweenChunksCancelsAndLeavesNoStagedFileAndTheTargetAlone)
{
    const auto& large = Fixture(L"large"); // about 3 MiB compressed: three reads
    fs::path target = folder.Write(L"large.img", "installed");
    std::stop_source stop;
    auto report = UnpackFile(
        FixtureFile(L"large"), target.wstring(), large.size, large.sha256,
        [&](std::uint64_t, std::uint64_t) { stop.request_stop(); }, stop.get_token());
    ASSERT_FALSE(report);
    EXPECT_EQ(report.error(), L"Canceled.");
    EXPECT_EQ(Temporaries(), 0u);
    EXPECT_EQ(PdTest::ReadBytes(target), "installed");

    std::stop_source stopArchive;
    auto archive = UnpackArchive(
        FixtureFile(L"gnu"), folder.Path().wstring(), 0,
        [&](std::uint64_t, std::uint64_t) { stopArchive.request_stop(); }, stopArchive.get_token());
    ASSERT_FALSE(archive);
    EXPECT_EQ(archive.error(), L"Canceled.");
    EXPECT_EQ(Temporaries(), 0u);
}

TEST_F(Unpack, ArchivesStageTheirFilesUnderLongNamesTooAndCreateTheirFoldersAtOnce)
{
    fs::path into = folder.Path() / L"ustar";
    auto report = UnpackArchive(FixtureFile(L"ustar"), into.wstring(), Fixture(L"ustar").size, {}, {});
    ASSERT_TRUE(report) << report.error();
    EXPECT_EQ(report->files, 3u);
    EXPECT_EQ(report->bytes, 13u);
    EXPECT_EQ(report->names, (std::set<std::wstring>{L"bin", L"empty", L"readme"}));
    EXPECT_TRUE(fs::is_directory(into / L"bin"));
    ASSERT_EQ(report->staged.Size(), 3u);
    EXPECT_EQ(report->staged[0].TargetPath(), (into / L"bin" / L"tool").wstring());
    EXPECT_FALSE(fs::exists(into / L"bin" / L"tool"));
    ASSERT_TRUE(report->staged.CommitAll());
    EXPECT_EQ(PdTest::ReadBytes(into / L"bin" / L"tool"), "tool\n");
    EXPECT_EQ(PdTest::ReadBytes(into / L"readme"), "read me\n");
    EXPECT_EQ(fs::file_size(into / L"empty"), 0u);

    // GNU and pax long names.
    auto gnu = UnpackArchive(FixtureFile(L"gnu"), folder.Path().wstring(), Fixture(L"gnu").size, {}, {});
    ASSERT_TRUE(gnu) << gnu.error();
    EXPECT_EQ(gnu->names, (std::set<std::wstring>{L"data", L"deep"}));
    auto pax = UnpackArchive(FixtureFile(L"pax"), folder.Path().wstring(), Fixture(L"pax").size, {}, {});
    ASSERT_TRUE(pax) << pax.error();
    EXPECT_EQ(pax->names, (std::set<std::wstring>{L"AppxManifest.xml", L"paxdir"}));
    ASSERT_TRUE(gnu->staged.CommitAll());
    ASSERT_TRUE(pax->staged.CommitAll());
    EXPECT_EQ(PdTest::ReadBytes(folder.Path() / L"deep" / std::wstring(118, L'n') / L"file"),
              "gnu long name\n");
    EXPECT_EQ(PdTest::ReadBytes(folder.Path() / L"paxdir" / std::wstring(117, L'p')), "pax long name\n");
    EXPECT_EQ(fs::file_size(folder.Path() / L"data"), 1500000u);
}

TEST_F(Unpack, RefusedOrOversizeArchivesEndTheUnpackingWithoutTemporaryFiles)
{
    const std::wstring gnu = (folder.Path() / L"gnu").wstring();
    struct Case
    {
        const wchar_t* id;
        std::uint64_t size;
        std::wstring error;
    };
    for (const Case& c :
         {Case{L"symlink", Fixture(L"symlink").size,
               L"The archive holds an unsupported entry: link (type 2)."},
          Case{L"twice", Fixture(L"twice").size,
               L"The archive holds data more than once (names that differ only in letter case count as the "
               L"same)."},
          Case{L"unsafe", Fixture(L"unsafe").size, L"The archive holds an unsafe path: ..\\evil"},
          Case{L"cutarchive", Fixture(L"cutarchive").size, L"The archive ends too early."},
          Case{L"gnu", Fixture(L"gnu").size - 1,
               gnu + L" is larger after unpacking than the release says (" +
                   std::to_wstring(Fixture(L"gnu").size - 1) + L" bytes)."}})
    {
        auto report = UnpackArchive(FixtureFile(c.id), (folder.Path() / c.id).wstring(), c.size, {}, {});
        ASSERT_FALSE(report) << Pd::Core::ToUtf8(c.id);
        EXPECT_EQ(report.error(), c.error);
    }
    EXPECT_EQ(Temporaries(), 0u);
    EXPECT_FALSE(fs::exists(folder.Path() / L"evil"));
}

} // namespace
