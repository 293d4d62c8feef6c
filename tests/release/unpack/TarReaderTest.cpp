// The path rules and the streaming tar reader, on raw tar streams built block by block
// (TarBlocks.h), including forms no archiver writes.
#include "release/unpack/TarReader.h"
#include "release/base/PathRules.h"

#include "tests/release/unpack/TarBlocks.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace
{

using Pd::Install::IsReservedName;
using Pd::Install::RelativeEntryPath;
using Pd::Install::TarFault;
using Pd::Install::Utf16FromUtf8;
using namespace PdTest;

TEST(ReservedNames, DeviceNamesBeforeTheFirstDotAndTrailingDotsOrBlanksAreReservedInAnyCase)
{
    for (const wchar_t* name :
         {L"CON", L"con", L"Prn.txt", L"aux.tar.gz", L"NUL", L"conin$", L"CONOUT$.x", L"COM0", L"com9",
          L"LPT1", L"lpt\u00B9", L"COM\u00B2", L"LPT\u00B3.log", L"con .txt", L"name.", L"name ", L"aux "})
        EXPECT_TRUE(IsReservedName(name)) << name;
    for (const wchar_t* name : {L"", L".", L"..", L"COM10", L"console", L"LPT", L"COMA", L"CON1", L"xcon",
                                L"COM\u2074", L".con", L"a.b"})
        EXPECT_FALSE(IsReservedName(name)) << name;
}

TEST(Utf8Conversion, ValidSequencesConvertAndInvalidBytesBecomeReplacementCharactersNeverSeparators)
{
    EXPECT_EQ(Utf16FromUtf8("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), L"a\u00E9\u20AC\xD83D\xDE00");
    // An overlong slash, a lone continuation byte, a truncated sequence, an encoded surrogate and
    // a code point beyond U+10FFFF.
    EXPECT_EQ(Utf16FromUtf8("\xC0\xAF"), L"\uFFFD\uFFFD");
    EXPECT_EQ(Utf16FromUtf8("a\x80"
                            "b"),
              L"a\uFFFDb");
    EXPECT_EQ(Utf16FromUtf8("\xE2\x82"), L"\uFFFD\uFFFD");
    EXPECT_EQ(Utf16FromUtf8("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(Utf16FromUtf8("\xF4\x90\x80\x80"), L"\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(RelativeEntryPath("..\xC0\xAF"
                                "etc"),
              L"..\uFFFD\uFFFDetc");
}

TEST(RelativeEntryPaths, SeparatorsAreUnifiedAndEmptyPartsDropped)
{
    EXPECT_EQ(RelativeEntryPath("a/b\\c"), L"a\\b\\c");
    EXPECT_EQ(RelativeEntryPath("//./a/./b//"), L"a\\b");
    EXPECT_EQ(RelativeEntryPath("./"), L"");
    EXPECT_EQ(RelativeEntryPath("...x/..y"), L"...x\\..y");
}

struct RecordingOutput : Pd::Install::TarOutput
{
    struct Entry
    {
        std::wstring path;
        std::string data;
        bool ended = false;
    };

    std::expected<void, std::wstring> BeginFile(const std::wstring& path) override
    {
        files.push_back({path, {}, false});
        return {};
    }
    std::expected<void, std::wstring> WriteFile(const std::uint8_t* data, std::size_t size) override
    {
        EXPECT_FALSE(files.empty() || files.back().ended) << "data outside a file";
        files.back().data.append(reinterpret_cast<const char*>(data), size);
        return {};
    }
    std::expected<void, std::wstring> EndFile() override
    {
        files.back().ended = true;
        return {};
    }
    void MakeDirectory(const std::wstring& path) override { folders.push_back(path); }

    std::vector<Entry> files;
    std::vector<std::wstring> folders;
};

struct Unpacked
{
    RecordingOutput output;
    std::optional<Pd::Install::TarError> error; // of Feed, or else of Finish
    std::uint64_t bytes = 0;
    std::uint32_t files = 0;
    std::set<std::wstring> names;
};

// Feeds the stream in pieces of the given size, then ends it.
Unpacked Read(const std::string& stream, std::size_t piece = 1 << 20, std::uint64_t expectedSize = 0)
{
    Unpacked result;
    Pd::Install::TarReader reader(result.output, expectedSize);
    for (std::size_t at = 0; at < stream.size() && !result.error; at += piece)
    {
        std::size_t n = std::min(piece, stream.size() - at);
        if (auto fed = reader.Feed(reinterpret_cast<const std::uint8_t*>(stream.data() + at), n); !fed)
            result.error = fed.error();
    }
    if (!result.error)
        if (auto finished = reader.Finish(); !finished)
            result.error = finished.error();
    result.bytes = reader.Bytes();
    result.files = reader.Files();
    result.names = reader.Names();
    return result;
}

TEST(TarReader, FilesAndFoldersArriveTheSameWhateverTheStreamIsCutInto)
{
    std::string big(1500, 'b');
    std::string stream = Block(TarHeader("bin/").Type('5')) + File("./bin//tool", "tool data") +
                         File("/big", big) + File("empty", "") + End();
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{512}, std::size_t{1} << 20})
    {
        Unpacked u = Read(stream, piece);
        ASSERT_FALSE(u.error) << piece;
        ASSERT_EQ(u.output.files.size(), 3u);
        EXPECT_EQ(u.output.files[0].path, L"bin\\tool");
        EXPECT_EQ(u.output.files[0].data, "tool data");
        EXPECT_EQ(u.output.files[1].data, big);
        EXPECT_TRUE(u.output.files[2].ended);
        EXPECT_EQ(u.output.folders, std::vector<std::wstring>{L"bin"});
        EXPECT_EQ(u.bytes, 9u + 1500u);
        EXPECT_EQ(u.files, 3u);
        EXPECT_EQ(u.names, (std::set<std::wstring>{L"big", L"bin", L"empty"}));
    }
}

TEST(TarReader, PosixPrefixNotForTheGnuMagicAndBase256FieldsAreRead)
{
    std::string data(700, 'x');
    Unpacked u = Read(Block(TarHeader("file").Size(1).Prefix("deep/dir")) + Padded("p") +
                      Block(TarHeader("file").Size(1).Magic("ustar  ").Prefix("deep/dir")) + Padded("g") +
                      Block(TarHeader("f").Size(700).Base256Size().Base256Checksum()) + Padded(data) + End());
    ASSERT_FALSE(u.error);
    ASSERT_EQ(u.output.files.size(), 3u);
    EXPECT_EQ(u.output.files[0].path, L"deep\\dir\\file");
    EXPECT_EQ(u.output.files[1].path, L"file");
    EXPECT_EQ(u.output.files[2].data, data);
}

TEST(TarReader, ExtendedHeadersNameAndSizeTheNextEntryOnly)
{
    std::string longName = std::string(150, 'n');
    std::string stream = Extended('L', longName + '\0') + File("short1", "1") + // long name
                         Extended('L', "gnu-name") + Extended('x', PaxRecord("path", "pax-name")) +
                         File("short2", "2") + // pax wins
                         Extended('x', PaxRecord("size", "3") + PaxRecord("mtime", "1.5")) +
                         Block(TarHeader("sized").Size(99)) + Padded("abc") +               // pax size
                         Extended('g', PaxRecord("path", "ignored")) + File("plain", "4") + // global
                         End();
    Unpacked u = Read(stream, 5);
    ASSERT_FALSE(u.error);
    ASSERT_EQ(u.output.files.size(), 4u);
    EXPECT_EQ(u.output.files[0].path, std::wstring(150, L'n'));
    EXPECT_EQ(u.output.files[1].path, L"pax-name");
    EXPECT_EQ(u.output.files[2].path, L"sized");
    EXPECT_EQ(u.output.files[2].data, "abc");
    EXPECT_EQ(u.output.files[3].path, L"plain");
}

// Everything that is not a safe regular file or folder ends the reading before its data is given.
TEST(TarReader, RefusedEntriesNameTheirFault)
{
    struct Case
    {
        std::string what;
        std::string stream;
        TarFault fault;
        std::wstring detail;
        std::wstring entry = {};
    };
    const std::string file = File("f", std::string(300, 'd'));
    const std::string extended = Extended('x', PaxRecord("path", "p"));
    std::vector<Case> cases = {
        {"checksum", Block(TarHeader("f").ChecksumError(1)), TarFault::HeaderChecksum, L""},
        {"base-256 checksum", Block(TarHeader("f").Base256Checksum().ChecksumError(-1)),
         TarFault::HeaderChecksum, L""},
        {"parent", File("../x", "x"), TarFault::UnsafePath, L"..\\x"},
        {"parents", File("a/../../b", "x"), TarFault::UnsafePath, L"a\\..\\..\\b"},
        {"backslash parent", File("a\\..\\b", "x"), TarFault::UnsafePath, L"a\\..\\b"},
        {"drive", File("C:/Windows/x", "x"), TarFault::UnsafePath, L"C:\\Windows\\x"},
        {"device", File("dir/con.txt", "x"), TarFault::UnsafePath, L"dir\\con.txt"},
        {"control character",
         File("a\x01"
              "b",
              "x"),
         TarFault::UnsafePath,
         L"a\x01"
         L"b"},
        {"wildcard", File("what?", "x"), TarFault::UnsafePath, L"what?"},
        {"pax path with NUL", Extended('x', PaxRecord("path", std::string("a\0b", 3))) + File("x", "1"),
         TarFault::UnsafePath, L""},
        {"file without name", File("./", "x"), TarFault::UnsafePath, L".\\"},
        {"huge extended header",
         Block(TarHeader("x").Type('x').Size(Pd::Install::TarReader::MaxExtendedHeader + 1)),
         TarFault::ExtendedHeader, L""},
        {"record shorter than its length", Extended('x', "1 ") + File("f", "1"), TarFault::ExtendedHeader,
         L""},
        {"record without newline", Extended('x', "2 path=x\n") + File("f", "1"), TarFault::ExtendedHeader,
         L""},
        {"size not a number", Extended('x', PaxRecord("size", "12z")) + File("f", "1"),
         TarFault::ExtendedHeader, L""},
        {"ends inside data", file.substr(0, 512 + 100), TarFault::EndsEarly, L""},
        {"ends inside a header", file + std::string(100, 'h'), TarFault::EndsEarly, L""},
        {"ends after a pax header", file + extended, TarFault::EndsEarly, L""},
        {"ends after a long name", file + Extended('L', "long"), TarFault::EndsEarly, L""},
        {"pax header before the end", extended + End(), TarFault::EndsEarly, L""},
        // Sparse files in the three pax forms: their stored data is not the file.
        {"pax sparse 0.0",
         Extended('x', PaxRecord("GNU.sparse.size", "1000") + PaxRecord("GNU.sparse.numblocks", "1") +
                           PaxRecord("GNU.sparse.offset", "990") + PaxRecord("GNU.sparse.numbytes", "10")) +
             File("dir/sparse", "0123456789"),
         TarFault::UnsupportedEntry, L"S", L"dir\\sparse"},
        {"pax sparse 0.1",
         Extended('x', PaxRecord("GNU.sparse.numblocks", "1") + PaxRecord("GNU.sparse.map", "990,10") +
                           PaxRecord("GNU.sparse.name", "real")) +
             File("GNUSparseFile.7/real", "0123456789"),
         TarFault::UnsupportedEntry, L"S", L"real"},
        {"pax sparse 1.0",
         Extended('x', PaxRecord("GNU.sparse.major", "1") + PaxRecord("GNU.sparse.minor", "0") +
                           PaxRecord("GNU.sparse.name", "real") + PaxRecord("GNU.sparse.realsize", "1000")) +
             File("GNUSparseFile.7/real", Padded("1\n990 10\n") + "0123456789"),
         TarFault::UnsupportedEntry, L"S", L"real"},
        {"same file twice", File("a/b", "1") + File("a//b", "2"), TarFault::DuplicateName, L"a\\b"},
        {"same file in another case", File("Dir/DATA", "1") + File("dir/data", "2"), TarFault::DuplicateName,
         L"dir\\data"},
        {"same accented file in another case",
         File("\xC3\x89t\xC3\xA9", "1") + File("\xC3\xA9T\xC3\x89", "2"), TarFault::DuplicateName,
         L"\u00E9T\u00C9"},
    };
    for (char type : {'1', '2', '3', '4', '6', '7', 'K', 'S', 'V'})
        cases.push_back({std::string("type ") + type, Block(TarHeader("dir/entry").Type(type)),
                         TarFault::UnsupportedEntry, std::wstring(1, static_cast<wchar_t>(type)),
                         L"dir\\entry"});
    for (const Case& c : cases)
    {
        Unpacked u = Read(c.fault == TarFault::EndsEarly ? c.stream : c.stream + End());
        ASSERT_TRUE(u.error) << c.what;
        EXPECT_EQ(u.error->fault, c.fault) << c.what;
        if (!c.detail.empty())
        {
            EXPECT_EQ(u.error->detail, c.detail) << c.what;
        }
        if (!c.entry.empty())
        {
            EXPECT_EQ(u.error->entry, c.entry) << c.what;
        }
        if (c.fault == TarFault::UnsafePath)
        {
            EXPECT_TRUE(u.output.files.empty()) << c.what;
        }
    }
}

TEST(TarReader, UsableNamesEmptyFolderNamesAndWhatFollowsTheEndAreAccepted)
{
    Unpacked u = Read(File("COM10", "x") + File("console", "y") + Block(TarHeader("./").Type('5')) +
                      Extended('x', "99 path=never\n") + File("f", "1") + // a record running past the data
                      File("padded", std::string(300, 'd')).substr(0, 512 + 400));
    ASSERT_FALSE(u.error);
    EXPECT_EQ(u.files, 4u) << "the stream may end inside the last padding";
    EXPECT_EQ(u.output.files.at(2).path, L"f");

    Unpacked ended =
        Read(File("a", "1") + std::string(512, '\0') + "garbage that is no header" + File("b", "2"));
    ASSERT_FALSE(ended.error);
    EXPECT_EQ(ended.files, 1u);
}

TEST(TarReader, FilesBeyondTheExpectedSizeStopAtTheFirstExtraByte)
{
    Unpacked u = Read(File("a", std::string(600, 'a')) + File("b", std::string(500, 'b')) + End(), 1, 1000);
    ASSERT_TRUE(u.error);
    EXPECT_EQ(u.error->fault, TarFault::LargerThanExpected);
    ASSERT_EQ(u.output.files.size(), 2u);
    EXPECT_EQ(u.output.files[0].data.size() + u.output.files[1].data.size(), 1000u);
    EXPECT_FALSE(Read(File("a", std::string(1000, 'a')) + End(), 1 << 20, 1000).error);
}

// Archives GNU tar wrote (the fuzzer's seeds: two bytes of fuzzer settings, then the stream):
// sparse files in its three pax forms, which GNU tar and Python's tarfile expand, and a stream
// cut right after a pax header, which Python's tarfile refuses.
TEST(TarReader, ArchiverWrittenSparseFilesAndCutStreamsAreRefused)
{
    struct Case
    {
        const char* file;
        TarFault fault;
    };
    for (const Case& c :
         {Case{"pax-sparse-0.0", TarFault::UnsupportedEntry},
          Case{"pax-sparse-0.1", TarFault::UnsupportedEntry},
          Case{"pax-sparse-1.0", TarFault::UnsupportedEntry}, Case{"pax-cut", TarFault::EndsEarly}})
    {
        std::ifstream in(std::string(PD_TAR_CORPUS) + "/" + c.file, std::ios::binary);
        std::string seed(std::istreambuf_iterator<char>(in), {});
        ASSERT_GT(seed.size(), 2u) << c.file;
        Unpacked u = Read(seed.substr(2), 100);
        ASSERT_TRUE(u.error) << c.file;
        EXPECT_EQ(u.error->fault, c.fault) << c.file;
        EXPECT_TRUE(u.output.files.empty()) << c.file;
        if (c.fault == TarFault::UnsupportedEntry)
        {
            EXPECT_EQ(u.error->entry, L"sparse") << c.file;
        }
    }
}

} // namespace
