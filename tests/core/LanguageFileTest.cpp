#include "core/LanguageFile.h"
#include "core/Elevation.h"
#include "core/LanguageState.h"
#include "core/Strings.h"
#include "core/Text.h"

#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{

using namespace Pd::Core;

LanguageFile Loaded(const std::filesystem::path& path, bool withEntries = true)
{
    LanguageFile file;
    EXPECT_TRUE(LanguageFile::Load(path.wstring(), file, withEntries));
    return file;
}

TEST(LanguageFileLoad, ByteOrderMarkAndCrLfReadTheSameAsPlainLines)
{
    PdTest::ScratchFolder folder;
    LanguageFile plain =
        Loaded(folder.Write(L"de.lng", "# a comment\n#name=Fran\xC3\xA7"
                                       "ais\n#locale=de, de-AT\n\n10001=d\xC3\xA9sactiv\xC3\xA9\n"
                                       "10008=Annul\xC3\xA9."));
    LanguageFile windows =
        Loaded(folder.Write(L"b.lng", "\xEF\xBB\xBF#name=Fran\xC3\xA7"
                                      "ais\r\n#locale=de, de-AT\r\n10001=d\xC3\xA9sactiv\xC3\xA9\r\n"
                                      "10008=Annul\xC3\xA9.\r\n"));
    EXPECT_EQ(plain.code, L"de");
    EXPECT_EQ(plain.name, L"Fran\u00E7ais");
    EXPECT_EQ(plain.locales, (std::vector<std::wstring>{L"de", L"de-at"}));
    EXPECT_EQ(plain.path, (folder.Path() / L"de.lng").wstring());
    EXPECT_EQ(plain.entries, (TextMap{{10001, L"d\u00E9sactiv\u00E9"}, {10008, L"Annul\u00E9."}}));
    EXPECT_EQ(windows.name, plain.name);
    EXPECT_EQ(windows.locales, plain.locales);
    EXPECT_EQ(windows.entries, plain.entries);
}

TEST(LanguageFileLoad, EntryLinesFollowTheIdAndEscapeRules)
{
    PdTest::ScratchFolder folder;
    LanguageFile file = Loaded(folder.Write(L"x.lng", "0010=ten\n"
                                                      "1234567890=ten digits\n"
                                                      "999999999=nine digits\n"
                                                      "=no id\n"
                                                      "12a=letter\n"
                                                      " 11=blank\n"
                                                      "no equals\n"
                                                      "\xEF\xBB\xBF"
                                                      "15=a byte order mark after the first line is text\n"
                                                      "12=a=b\n"
                                                      "13=\n"
                                                      "14=first\n"
                                                      "14=second\n"
                                                      "1=a\\nb\\tc\\rd\\\\e\n"
                                                      "2=\\q stays\n"
                                                      "3=ends in \\\n"
                                                      "4=\\\\n is a backslash and n\n"));
    EXPECT_EQ(file.entries, (TextMap{{10, L"ten"},
                                     {999999999, L"nine digits"},
                                     {12, L"a=b"},
                                     {13, L""},
                                     {14, L"second"},
                                     {1, L"a\nb\tc\rd\\e"},
                                     {2, L"\\q stays"},
                                     {3, L"ends in \\"},
                                     {4, L"\\n is a backslash and n"}}));
}

TEST(LanguageFileLoad, HeaderLinesAreNormalisedAndNamesNeverEscaped)
{
    PdTest::ScratchFolder folder;
    LanguageFile pt =
        Loaded(folder.Write(L"pt.lng", "#locale=PT_br , pt\n#locale= p t-PT,,\n10000=an\n"), false);
    EXPECT_EQ(pt.locales, (std::vector<std::wstring>{L"pt-br", L"pt", L"pt-pt"}));
    EXPECT_TRUE(pt.entries.empty()) << "headers only when entries are not asked for";
    LanguageFile upper = Loaded(folder.Write(L"DE.LNG", "10000=an\n"));
    EXPECT_EQ(upper.code, L"de");
    EXPECT_EQ(upper.name, L"de") << "the name defaults to the code";
    EXPECT_EQ(Loaded(folder.Write(L"y.lng", "#name=A\\nB\n")).name, L"A\\nB");
    EXPECT_EQ(Loaded(folder.Write(L"z.lng", "#name=Zed\n#name=\n")).name, L"z");
}

// Files taken from a folder the user controls are copied only when they are language files.
TEST(LanguageFileLoad, MissingFileOrAFolderLeavesTheRecordUnchanged)
{
    PdTest::ScratchFolder folder;
    LanguageFile file;
    file.name = L"before";
    EXPECT_FALSE(LanguageFile::Load((folder.Path() / L"none.lng").wstring(), file, true));
    EXPECT_FALSE(LanguageFile::Load(folder.Path().wstring(), file, true));
    EXPECT_EQ(file.name, L"before");
}

TEST(ListLanguageFiles, ListsOnlyUsableLanguageFiles)
{
    PdTest::ScratchFolder folder;
    for (const wchar_t* name :
         {L"de.lng", L"PT-BR.LNG", L"zh_hant.lng", L"en.lng", L"x.y.lng", L"abcdefghijklmnopq.lng",
          L"abcdefghijklmnop.lng", L"readme.txt", L"sp ace.lng"})
        folder.Write(name, "#name=x\n");
    std::filesystem::create_directory(folder.Path() / L"fr.lng");
    std::vector<std::wstring> codes;
    for (const auto& file : ListLanguageFiles(folder.Path().wstring(), false))
        codes.push_back(file.code);
    std::ranges::sort(codes);
    EXPECT_EQ(codes, (std::vector<std::wstring>{L"abcdefghijklmnop", L"de", L"pt-br", L"zh_hant"}));
    EXPECT_TRUE(ListLanguageFiles((folder.Path() / L"missing").wstring(), true).empty());
    EXPECT_TRUE(ListLanguageFiles(std::wstring(), true).empty());
}

TEST(ExportLanguageFile, TheTemplateHoldsTheHeaderAndLoadsBackIntoExactlyTheBuiltinTexts)
{
    PdTest::ScratchFolder folder;
    auto path = folder.Path() / L"template.lng";
    ASSERT_TRUE(ExportLanguageFile(path.wstring()));
    std::ifstream in(path, std::ios::binary);
    std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(contents.rfind("# Peldra language file. Translate the text after '='", 0), 0u);
    EXPECT_NE(contents.find("\n# UTF-8. Escapes: \\n \\r \\t \\\\\n"), std::string::npos);
    // It names the folder a Peldra that may be elevated reads (under Wine every process is).
    ASSERT_TRUE(MayBeElevated());
    EXPECT_NE(contents.find("in the language folder of the installed program, e.g. " +
                            ToUtf8(LanguageFolder()) + "\\de.lng, and check it with\n"),
              std::string::npos);
    EXPECT_NE(contents.find("\n#name=English\n#locale=en\n\n10000=on\n"), std::string::npos);
    EXPECT_NE(contents.find("\n17034=Settings of Peldra removed (HKCU\\\\{}).\n"), std::string::npos);
    EXPECT_EQ(contents.find('\r'), std::string::npos);

    LanguageFile file = Loaded(path);
    EXPECT_EQ(file.locales, std::vector<std::wstring>{L"en"});
    ASSERT_EQ(file.entries.size(), BuiltinTextIds().size());
    for (std::uint32_t id : BuiltinTextIds())
        EXPECT_EQ(file.entries[id], BuiltinText(id)) << id;
    auto checks = CheckLanguageFiles(path.wstring());
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_TRUE(checks[0].missing.empty() && checks[0].extra.empty() && checks[0].badFields.empty());
}

TEST(CheckLanguageFiles, ReportsMissingExtraAndBadFieldIds)
{
    PdTest::ScratchFolder folder;
    std::string contents = "#name=Test\n#locale=tt\n";
    for (std::uint32_t id : BuiltinTextIds())
        if (id != 10001 && id != 10002)
            contents += std::to_string(id) + "=x\n";
    contents += "10002=\n";               // empty: missing
    contents += "10009={}: {} ({}) {}\n"; // one automatic field too many
    contents += "14001={1} ({0})\n";      // reordered: fine
    contents += "12009=gap\n19500=unknown\n1058584=beyond the string table\n";
    auto checks = CheckLanguageFiles(folder.Write(L"tt.lng", contents).wstring());
    ASSERT_EQ(checks.size(), 1u);
    const LanguageCheck& check = checks[0];
    EXPECT_EQ(check.code, L"tt");
    EXPECT_EQ(check.name, L"Test");
    EXPECT_EQ(check.missing, (std::vector<std::uint32_t>{10001, 10002}));
    EXPECT_EQ(check.extra, (std::vector<std::uint32_t>{12009, 19500, 1058584}));
    EXPECT_EQ(check.badFields, std::vector<std::uint32_t>{10009});
    EXPECT_EQ(check.total, BuiltinTextIds().size());
    EXPECT_EQ(check.translated, check.total - 2);
}

} // namespace
