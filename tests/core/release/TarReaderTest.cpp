#include "core/release/TarReader.h"

#include "tests/core/release/TarBlocks.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace
{

using Pd::Install::TarFault;
using namespace PdTest;

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
        if (failBegin)
            return std::unexpected(*failBegin);
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
    std::optional<std::wstring> failBegin;
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

TarFault FaultOf(const Unpacked& u)
{
    EXPECT_TRUE(u.error.has_value());
    return u.error ? u.error->fault : TarFault::Output;
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

TEST(TarReader, PosixPrefixIsJoinedButNotForTheGnuMagic)
{
    std::string posix = Block(TarHeader("file").Size(1).Prefix("deep/dir")) + Padded("p");
    std::string gnu = Block(TarHeader("file").Size(1).Magic("ustar  ").Prefix("deep/dir")) + Padded("g");
    Unpacked u = Read(posix + gnu + End());
    ASSERT_FALSE(u.error);
    EXPECT_EQ(u.output.files[0].path, L"deep\\dir\\file");
    EXPECT_EQ(u.output.files[1].path, L"file");
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

TEST(TarReader, Base256SizeIsReadFromTheFieldsLastEightBytes)
{
    std::string data(700, 'x');
    Unpacked u = Read(Block(TarHeader("f").Size(700).Base256Size()) + Padded(data) + End());
    ASSERT_FALSE(u.error);
    EXPECT_EQ(u.output.files.at(0).data, data);
}

TEST(TarReader, ChecksumIsVerifiedInOctalAndBase256)
{
    EXPECT_EQ(FaultOf(Read(Block(TarHeader("f").ChecksumError(1)) + End())), TarFault::HeaderChecksum);
    EXPECT_FALSE(Read(Block(TarHeader("f").Base256Checksum()) + End()).error);
    EXPECT_EQ(FaultOf(Read(Block(TarHeader("f").Base256Checksum().ChecksumError(-1)) + End())),
              TarFault::HeaderChecksum);
}

TEST(TarReader, UnsafeNamesAreRefusedWithTheConvertedName)
{
    struct Case
    {
        std::string name;
        std::wstring shown;
    };
    for (const Case& c : std::vector<Case>{{"../x", L"..\\x"},
                                           {"a/../../b", L"a\\..\\..\\b"},
                                           {"C:/Windows/x", L"C:\\Windows\\x"},
                                           {"dir/con.txt", L"dir\\con.txt"},
                                           {"COM1", L"COM1"},
                                           {"lpt\xC2\xB9", L"lpt\u00B9"},
                                           {"aux ", L"aux "},
                                           {"name.", L"name."},
                                           {"a\x01"
                                            "b",
                                            L"a\x01"
                                            L"b"},
                                           {"what?", L"what?"},
                                           {"a\\..\\b", L"a\\..\\b"}})
    {
        Unpacked u = Read(File(c.name, "x") + End());
        ASSERT_TRUE(u.error) << c.name;
        EXPECT_EQ(u.error->fault, TarFault::UnsafePath) << c.name;
        EXPECT_EQ(u.error->detail, c.shown) << c.name;
        EXPECT_TRUE(u.output.files.empty());
    }
    Unpacked accepted = Read(File("COM10", "x") + File("console", "y") + End());
    EXPECT_FALSE(accepted.error);
    EXPECT_EQ(accepted.files, 2u);
}

TEST(TarReader, PaxPathWithANulByteIsRefused)
{
    std::string path("a\0b", 3);
    Unpacked u = Read(Extended('x', PaxRecord("path", path)) + File("x", "1") + End());
    EXPECT_EQ(FaultOf(u), TarFault::UnsafePath);
}

TEST(TarReader, EmptyPathIsAcceptedForAFolderButNotForAFile)
{
    EXPECT_FALSE(Read(Block(TarHeader("./").Type('5')) + End()).error);
    Unpacked u = Read(File("./", "x") + End());
    EXPECT_EQ(FaultOf(u), TarFault::UnsafePath);
    EXPECT_EQ(u.error->detail, L".\\");
}

TEST(TarReader, LinksDevicesAndOtherTypesAreRefusedByTheirTypeCharacter)
{
    for (char type : {'1', '2', '3', '4', '6', '7', 'K', 'S', 'V'})
    {
        Unpacked u = Read(Block(TarHeader("entry").Type(type)) + End());
        ASSERT_EQ(FaultOf(u), TarFault::UnsupportedEntry) << type;
        EXPECT_EQ(u.error->detail, std::wstring(1, static_cast<wchar_t>(type)));
    }
}

TEST(TarReader, StreamEndingInsideDataOrAHeaderIsTooShortButAfterPaddingIsComplete)
{
    std::string file = File("f", std::string(300, 'd'));
    EXPECT_EQ(FaultOf(Read(file.substr(0, 512 + 100))), TarFault::EndsEarly);
    EXPECT_EQ(FaultOf(Read(file + std::string(100, 'h'))), TarFault::EndsEarly);
    Unpacked complete = Read(file);
    EXPECT_FALSE(complete.error);
    EXPECT_EQ(complete.files, 1u);
    Unpacked insidePadding = Read(file.substr(0, 512 + 400));
    EXPECT_FALSE(insidePadding.error);
}

TEST(TarReader, FilesBeyondTheExpectedSizeStopAtTheFirstExtraByte)
{
    Unpacked u = Read(File("a", std::string(600, 'a')) + File("b", std::string(500, 'b')) + End(), 1, 1000);
    EXPECT_EQ(FaultOf(u), TarFault::LargerThanExpected);
    ASSERT_EQ(u.output.files.size(), 2u);
    EXPECT_EQ(u.output.files[0].data.size() + u.output.files[1].data.size(), 1000u);
    EXPECT_FALSE(Read(File("a", std::string(1000, 'a')) + End(), 1 << 20, 1000).error);
}

TEST(TarReader, EverythingAfterTheFirstZeroBlockIsIgnored)
{
    Unpacked u = Read(File("a", "1") + std::string(512, '\0') + "garbage that is no header" + File("b", "2"));
    ASSERT_FALSE(u.error);
    EXPECT_EQ(u.files, 1u);
}

TEST(TarReader, MalformedExtendedHeadersAreRefused)
{
    // Larger than 1 MiB.
    std::string huge = Block(TarHeader("x").Type('x').Size(Pd::Install::TarReader::MaxExtendedHeader + 1));
    EXPECT_EQ(FaultOf(Read(huge)), TarFault::ExtendedHeader);
    // A record shorter than its own length prefix, blank and newline.
    for (std::string record : {"1 ", "2 path=x\n"})
        EXPECT_EQ(FaultOf(Read(Extended('x', record) + File("f", "1") + End())), TarFault::ExtendedHeader)
            << record;
    // A size that is not a decimal number.
    EXPECT_EQ(FaultOf(Read(Extended('x', PaxRecord("size", "12z")) + File("f", "1") + End())),
              TarFault::ExtendedHeader);
    // A record running past the data ends the records without an error.
    Unpacked past = Read(Extended('x', "99 path=never\n") + File("f", "1") + End());
    ASSERT_FALSE(past.error);
    EXPECT_EQ(past.output.files.at(0).path, L"f");
}

} // namespace
