#include "release/base/InstallState.h"

#include "core/Strings.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/LoopbackServer.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Core::InstallFolder;
using Pd::Core::InstallState;
using Pd::Core::ReadState;
using Pd::Core::WriteState;

InstallState Sample()
{
    InstallState state;
    state.version = L"1.0";
    state.source = L"https://x.example/r\u00FC/manifest.json";
    state.components = {{L"b", L"d2"}, {L"a", L"d1"}};
    state.entries = {{L"a", {L"a.img"}}, {L"empty", {}}, {L"host", {L"Peldra.exe", L"language"}}};
    state.placed = {{L"a", {L"a.img", L"tools\\"}}};
    state.unfinished = Pd::Core::UnfinishedInstall;
    state.createdFolders = 2;
    return state;
}

TEST(StateFile, ReplacesTheOldFileWithExactlyTheseBytesAndReadsThemBack)
{
    PdTest::ScratchFolder folder;
    InstallState older;
    older.version = L"0.9";
    ASSERT_TRUE(WriteState(InstallFolder::From(folder.Path().wstring()), older));
    ASSERT_TRUE(WriteState(InstallFolder::From(folder.Path().wstring()), Sample()));
    EXPECT_EQ(PdTest::ReadBytes(folder.Path() / L"peldra.json"),
              "{\n"
              "  \"components\": {\n"
              "    \"a\": \"d1\",\n"
              "    \"b\": \"d2\"\n"
              "  },\n"
              "  \"createdFolders\": 2,\n"
              "  \"entries\": {\n"
              "    \"a\": [\n"
              "      \"a.img\"\n"
              "    ],\n"
              "    \"empty\": [],\n"
              "    \"host\": [\n"
              "      \"Peldra.exe\",\n"
              "      \"language\"\n"
              "    ]\n"
              "  },\n"
              "  \"format\": 1,\n"
              "  \"placed\": {\n"
              "    \"a\": [\n"
              "      \"a.img\",\n"
              "      \"tools\\\\\"\n"
              "    ]\n"
              "  },\n"
              "  \"source\": \"https://x.example/r\xC3\xBC/manifest.json\",\n"
              "  \"unfinished\": \"install\",\n"
              "  \"version\": \"1.0\"\n"
              "}\n");
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / L"peldra.json.new"));
    EXPECT_EQ(ReadState(InstallFolder::From(folder.Path().wstring())), Sample());
}

TEST(StateFile, ByteOrderMarkAndFormatDoNotMatterMembersOfTheWrongTypeAreSkippedDamageReadsAsEmpty)
{
    PdTest::ScratchFolder folder;
    folder.Write(L"peldra.json", "\xEF\xBB\xBF"
                                 R"({"format": 2, "version": 5, "source": "s",
        "components": {"a": 1, "b": "x"}, "entries": {"s": "text", "l": [1, "one", null, "two"]},
        "placed": {"l": ["one", 2]}, "createdFolders": -1})");
    InstallState state = ReadState(InstallFolder::From(folder.Path().wstring()));
    EXPECT_EQ(state.version, L"");
    EXPECT_EQ(state.source, L"s");
    EXPECT_EQ(state.components, (std::map<std::wstring, std::wstring>{{L"b", L"x"}}));
    EXPECT_EQ(state.entries.at(L"s"), std::vector<std::wstring>{});
    EXPECT_EQ(state.entries.at(L"l"), (std::vector<std::wstring>{L"one", L"two"}));
    EXPECT_EQ(state.placed, (std::map<std::wstring, std::vector<std::wstring>>{{L"l", {L"one"}}}));
    EXPECT_FALSE(state.createdFolders) << "unknown, as in a state of an older version";

    std::filesystem::remove(folder.Path() / L"peldra.json");
    EXPECT_EQ(ReadState(InstallFolder::From(folder.Path().wstring())), InstallState{});
    for (const char* text : {"[]", "{\"version\": ", ""})
    {
        folder.Write(L"peldra.json", text);
        EXPECT_EQ(ReadState(InstallFolder::From(folder.Path().wstring())), InstallState{}) << text;
    }
}

TEST(StateFile, UncreatableTemporaryFileFailsAndKeepsTheOldFile)
{
    PdTest::ScratchFolder folder;
    folder.Write(L"peldra.json", "old");
    std::filesystem::create_directory(folder.Path() / L"peldra.json.new"); // cannot be opened as a file
    auto written = WriteState(InstallFolder::From(folder.Path().wstring()), Sample());
    ASSERT_FALSE(written);
    EXPECT_TRUE(
        written.error().starts_with(L"Creating " + (folder.Path() / L"peldra.json.new").wstring() + L": "))
        << Pd::Core::ToUtf8(written.error());
    EXPECT_EQ(PdTest::ReadBytes(folder.Path() / L"peldra.json"), "old");
}

TEST(StateFile, AllEntriesMeansOneListPerComponent)
{
    InstallState state = Sample();
    EXPECT_FALSE(state.HasAllEntries()); // "b" has no list
    state.entries[L"b"] = {};
    EXPECT_TRUE(state.HasAllEntries());
    EXPECT_TRUE(InstallState{}.HasAllEntries());
}

// The install folder is made normal once, so that every spelling of one folder names the same
// state file and compares equal (without regard to case, as Windows compares paths).
TEST(InstallFolder, IsMadeNormalOnceAndEverySpellingIsTheSameFolder)
{
    const std::wstring current = std::filesystem::current_path().wstring();
    for (const auto& [typed, normal] :
         std::initializer_list<std::pair<std::wstring, std::wstring>>{{L"C:\\a\\b\\..\\c\\", L"C:\\a\\c"},
                                                                      {L"C:/a/./b//", L"C:\\a\\b"},
                                                                      {L"C:\\", L"C:\\"},
                                                                      {L"sub\\", current + L"\\sub"},
                                                                      {L"", L""}})
        EXPECT_EQ(InstallFolder::From(typed).Path(), normal) << typed;
    EXPECT_EQ(InstallFolder::From(L"C:/Program Files/peldra/"),
              InstallFolder::From(L"c:\\PROGRAM FILES\\Peldra"));
    EXPECT_NE(InstallFolder::From(L"C:\\Peldra"), InstallFolder::From(L"C:\\Peldra2"));
    EXPECT_EQ(InstallFolder::From(L"C:\\").Join(L"peldra.json"), L"C:\\peldra.json");
    EXPECT_EQ(InstallFolder().Join(L"peldra.json"), L"") << "no folder names no file";

    PdTest::ScratchFolder folder;
    ASSERT_TRUE(WriteState(InstallFolder::From(folder.Path().wstring() + L"/./"), Sample()));
    EXPECT_EQ(ReadState(InstallFolder::From(folder.Path().wstring())), Sample());
}

} // namespace
