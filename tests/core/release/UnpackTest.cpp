#include "core/release/Unpack.h"

#include "core/release/Net.h"
#include "tests/core/release/Fixtures.h"
#include "tests/core/ScratchFolder.h"

#include <gtest/gtest.h>

#include <stop_token>

namespace
{

using Pd::Install::UnpackArchive;
using Pd::Install::UnpackFile;
namespace fs = std::filesystem;

using PdTest::Fixture;

std::wstring Packed(std::wstring_view id)
{
    return PdTest::FixtureFile(id);
}

std::vector<fs::path> TemporaryFiles(const fs::path& folder)
{
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.path().extension() == L".new")
            found.push_back(entry.path());
    return found;
}

std::wstring Sha256Of(const fs::path& file)
{
    auto digest = Pd::Net::FileSha256(file.wstring(), {}, {});
    return digest ? *digest : std::wstring();
}

class Unpack : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(PdTest::LoopbackServer::Get().Running()) << "PD_RELEASE_SERVER is not set";
    }

    PdTest::ScratchFolder folder;
    fs::path Target(const wchar_t* name) const { return folder.Path() / name; }
};

TEST_F(Unpack, ConcatenatedFramesBecomeOneStagedFileCheckedAgainstTheRelease)
{
    const auto& frames = Fixture(L"frames");
    std::vector<std::uint64_t> consumed;
    auto report = UnpackFile(Packed(L"frames"), Target(L"frames.img").wstring(), frames.size, frames.sha256,
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
    EXPECT_EQ(Sha256Of(Target(L"frames.img")), frames.sha256);

    auto unchecked = UnpackFile(Packed(L"frames"), Target(L"any.img").wstring(), 0, L"", {}, {});
    ASSERT_TRUE(unchecked) << unchecked.error();
    EXPECT_EQ(unchecked->bytes, 400000u);
}

TEST_F(Unpack, EmptyOrTruncatedStreamsEndTooEarly)
{
    fs::path empty = folder.Write(L"empty.zst", "");
    auto fromEmpty = UnpackFile(empty.wstring(), Target(L"e").wstring(), 0, L"", {}, {});
    ASSERT_FALSE(fromEmpty);
    EXPECT_EQ(fromEmpty.error(), L"The compressed data ends too early.");

    const auto& truncated = Fixture(L"truncated"); // one whole frame, then a cut one
    auto fromCut =
        UnpackFile(Packed(L"truncated"), Target(L"t").wstring(), truncated.size, truncated.sha256, {}, {});
    ASSERT_FALSE(fromCut);
    EXPECT_EQ(fromCut.error(), L"The compressed data ends too early.");
    EXPECT_TRUE(TemporaryFiles(folder.Path()).empty());
}

TEST_F(Unpack, DamagedDataIsReportedWithTheDecodersErrorAndLeavesNoTemporaryFile)
{
    std::string bytes = PdTest::ReadBytes(Packed(L"frames"));
    bytes[bytes.size() / 2] ^= 0x55;
    fs::path damaged = folder.Write(L"damaged.zst", bytes);
    auto report = UnpackFile(damaged.wstring(), Target(L"d").wstring(), 0, L"", {}, {});
    ASSERT_FALSE(report);
    EXPECT_TRUE(report.error().starts_with(L"Damaged compressed data (")) << report.error();
    EXPECT_TRUE(TemporaryFiles(folder.Path()).empty());
}

TEST_F(Unpack, SizeAndDigestAreCheckedAgainstTheRelease)
{
    const auto& hello = Fixture(L"hello");
    std::wstring target = Target(L"hello.txt").wstring();
    auto larger = UnpackFile(Packed(L"hello"), target, 14, hello.sha256, {}, {});
    ASSERT_FALSE(larger);
    EXPECT_EQ(larger.error(), L"hello.txt is larger after unpacking than the release says (14 bytes).");
    auto smaller = UnpackFile(Packed(L"hello"), target, 16, hello.sha256, {}, {});
    ASSERT_FALSE(smaller);
    EXPECT_EQ(smaller.error(), L"hello.txt has 15 bytes after unpacking instead of 16.");
    auto otherDigest = UnpackFile(Packed(L"hello"), target, 15, std::wstring(64, L'0'), {}, {});
    ASSERT_FALSE(otherDigest);
    EXPECT_EQ(otherDigest.error(), L"hello.txt does not match the release after unpacking (SHA-256).");
    EXPECT_TRUE(TemporaryFiles(folder.Path()).empty());
    EXPECT_TRUE(UnpackFile(Packed(L"hello"), target, 15, hello.sha256, {}, {}));
}

TEST_F(Unpack, StopBetweenChunksCancelsAndLeavesTheTargetAlone)
{
    const auto& large = Fixture(L"large"); // about 3 MiB compressed: three reads
    fs::path target = folder.Write(L"large.img", "installed");
    std::stop_source stop;
    auto report = UnpackFile(
        Packed(L"large"), target.wstring(), large.size, large.sha256,
        [&](std::uint64_t, std::uint64_t) { stop.request_stop(); }, stop.get_token());
    ASSERT_FALSE(report);
    EXPECT_EQ(report.error(), L"Canceled.");
    EXPECT_TRUE(TemporaryFiles(folder.Path()).empty());
    EXPECT_EQ(PdTest::ReadBytes(target), "installed");
}

TEST_F(Unpack, UstarArchiveStagesItsFilesAndCreatesItsFoldersAtOnce)
{
    fs::path into = folder.Path() / L"ustar";
    auto report = UnpackArchive(Packed(L"ustar"), into.wstring(), Fixture(L"ustar").size, {}, {});
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
}

TEST_F(Unpack, GnuAndPaxLongNamesReachTheirFiles)
{
    auto gnu = UnpackArchive(Packed(L"gnu"), folder.Path().wstring(), Fixture(L"gnu").size, {}, {});
    ASSERT_TRUE(gnu) << gnu.error();
    EXPECT_EQ(gnu->names, (std::set<std::wstring>{L"data", L"deep"}));
    auto pax = UnpackArchive(Packed(L"pax"), folder.Path().wstring(), Fixture(L"pax").size, {}, {});
    ASSERT_TRUE(pax) << pax.error();
    EXPECT_EQ(pax->names, (std::set<std::wstring>{L"AppxManifest.xml", L"paxdir"}));
    ASSERT_TRUE(gnu->staged.CommitAll());
    ASSERT_TRUE(pax->staged.CommitAll());
    EXPECT_EQ(PdTest::ReadBytes(folder.Path() / L"deep" / std::wstring(118, L'n') / L"file"),
              "gnu long name\n");
    EXPECT_EQ(PdTest::ReadBytes(folder.Path() / L"paxdir" / std::wstring(117, L'p')), "pax long name\n");
    EXPECT_EQ(fs::file_size(folder.Path() / L"data"), 1500000u);
}

TEST_F(Unpack, RefusedEntriesEndTheUnpackingWithoutTemporaryFiles)
{
    struct Case
    {
        const wchar_t* id;
        std::wstring error;
    };
    for (const Case& c : {Case{L"symlink", L"The archive holds an unsupported entry (type 2)."},
                          Case{L"unsafe", L"The archive holds an unsafe path: ..\\evil"},
                          Case{L"cutarchive", L"The archive ends too early."}})
    {
        auto report =
            UnpackArchive(Packed(c.id), (folder.Path() / c.id).wstring(), Fixture(c.id).size, {}, {});
        ASSERT_FALSE(report) << Pd::Core::ToUtf8(c.id);
        EXPECT_EQ(report.error(), c.error);
    }
    EXPECT_TRUE(TemporaryFiles(folder.Path()).empty());
    EXPECT_FALSE(fs::exists(folder.Path() / L"evil"));
}

TEST_F(Unpack, ArchiveLargerThanTheReleaseSaysIsRefused)
{
    std::wstring into = (folder.Path() / L"gnu").wstring();
    auto report = UnpackArchive(Packed(L"gnu"), into, Fixture(L"gnu").size - 1, {}, {});
    ASSERT_FALSE(report);
    EXPECT_EQ(report.error(), into + L" is larger after unpacking than the release says (" +
                                  std::to_wstring(Fixture(L"gnu").size - 1) + L" bytes).");
    EXPECT_TRUE(TemporaryFiles(folder.Path()).empty());
}

TEST_F(Unpack, StopDuringAnArchiveCancels)
{
    std::stop_source stop;
    auto report = UnpackArchive(
        Packed(L"gnu"), folder.Path().wstring(), 0,
        [&](std::uint64_t, std::uint64_t) { stop.request_stop(); }, stop.get_token());
    ASSERT_FALSE(report);
    EXPECT_EQ(report.error(), L"Canceled.");
    EXPECT_TRUE(TemporaryFiles(folder.Path()).empty());
}

} // namespace
