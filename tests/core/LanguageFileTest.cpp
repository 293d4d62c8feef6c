#include "core/LanguageFile.h"
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

std::vector<std::wstring> Codes(const std::vector<LanguageFile>& files)
{
    std::vector<std::wstring> codes;
    for (const auto& file : files)
        codes.push_back(file.code);
    std::sort(codes.begin(), codes.end());
    return codes;
}

TEST(LanguageFileLoad, ReadsHeaderAndEntries)
{
    PdTest::ScratchFolder folder;
    auto path = folder.Write(L"de.lng", "# a comment\n"
                                        "#name=Deutsch\n"
                                        "#locale=de, de-AT\n"
                                        "\n"
                                        "10008=Abgebrochen.\n"
                                        "10000=an");
    LanguageFile file = Loaded(path);
    EXPECT_EQ(file.code, L"de");
    EXPECT_EQ(file.name, L"Deutsch");
    EXPECT_EQ(file.locales, (std::vector<std::wstring>{L"de", L"de-at"}));
    EXPECT_EQ(file.path, path.wstring());
    EXPECT_EQ(file.entries.size(), 2u);
    EXPECT_EQ(file.entries[10008], L"Abgebrochen.");
    EXPECT_EQ(file.entries[10000], L"an");
    EXPECT_EQ(file.translated, 0u);
    EXPECT_EQ(file.total, 0u);
}

TEST(LanguageFileLoad, ByteOrderMarkAndCrLfReadTheSameAsPlainLines)
{
    PdTest::ScratchFolder folder;
    std::string plain = "#name=Fran\xC3\xA7"
                        "ais\n#locale=fr\n10001=d\xC3\xA9sactiv\xC3\xA9\n10008=Annul\xC3\xA9.\n";
    std::string windows = "\xEF\xBB\xBF#name=Fran\xC3\xA7"
                          "ais\r\n#locale=fr\r\n10001=d\xC3\xA9sactiv\xC3\xA9\r\n"
                          "10008=Annul\xC3\xA9.\r\n";
    LanguageFile a = Loaded(folder.Write(L"a.lng", plain));
    LanguageFile b = Loaded(folder.Write(L"b.lng", windows));
    EXPECT_EQ(a.name, L"Fran\u00E7ais");
    EXPECT_EQ(b.name, a.name);
    EXPECT_EQ(b.locales, a.locales);
    EXPECT_EQ(b.entries, a.entries);
    EXPECT_EQ(b.entries[10001], L"d\u00E9sactiv\u00E9");
}

TEST(LanguageFileLoad, AByteOrderMarkAfterTheFirstLineIsText)
{
    PdTest::ScratchFolder folder;
    LanguageFile file = Loaded(folder.Write(L"x.lng", "10000=a\n\xEF\xBB\xBF"
                                                      "10001=b\n"));
    EXPECT_EQ(file.entries.count(10001), 0u);
    EXPECT_EQ(file.entries.size(), 1u);
}

TEST(LanguageFileLoad, EntryLinesFollowTheIdRules)
{
    PdTest::ScratchFolder folder;
    LanguageFile file = Loaded(folder.Write(L"x.lng", "0010=ten\n"
                                                      "1234567890=ten digits\n"
                                                      "999999999=nine digits\n"
                                                      "=no id\n"
                                                      "12a=letter\n"
                                                      " 11=blank\n"
                                                      "no equals\n"
                                                      "12=a=b\n"
                                                      "13=\n"
                                                      "14=first\n"
                                                      "14=second\n"));
    EXPECT_EQ(file.entries[10], L"ten");
    EXPECT_EQ(file.entries[999999999], L"nine digits");
    EXPECT_EQ(file.entries[12], L"a=b");
    EXPECT_EQ(file.entries[13], L"");
    EXPECT_EQ(file.entries[14], L"second");
    EXPECT_EQ(file.entries.size(), 5u);
}

TEST(LanguageFileLoad, UnescapesOnlyTheFourEscapes)
{
    PdTest::ScratchFolder folder;
    LanguageFile file = Loaded(folder.Write(L"x.lng", "1=a\\nb\\tc\\rd\\\\e\n"
                                                      "2=\\q stays\n"
                                                      "3=ends in \\\n"
                                                      "4=\\\\n is a backslash and n\n"));
    EXPECT_EQ(file.entries[1], L"a\nb\tc\rd\\e");
    EXPECT_EQ(file.entries[2], L"\\q stays");
    EXPECT_EQ(file.entries[3], L"ends in \\");
    EXPECT_EQ(file.entries[4], L"\\n is a backslash and n");
}

TEST(LanguageFileLoad, LocaleListsAreNormalised)
{
    PdTest::ScratchFolder folder;
    LanguageFile file = Loaded(folder.Write(L"pt.lng", "#locale=PT_br , pt\n#locale= p t-PT,,\n"), false);
    EXPECT_EQ(file.locales, (std::vector<std::wstring>{L"pt-br", L"pt", L"pt-pt"}));
}

TEST(LanguageFileLoad, NameDefaultsToTheCodeAndIsNeverEscaped)
{
    PdTest::ScratchFolder folder;
    EXPECT_EQ(Loaded(folder.Write(L"DE.LNG", "10000=an\n")).name, L"de");
    EXPECT_EQ(Loaded(folder.Write(L"DE.LNG", "10000=an\n")).code, L"de");
    EXPECT_EQ(Loaded(folder.Write(L"y.lng", "#name=A\\nB\n")).name, L"A\\nB");
    EXPECT_EQ(Loaded(folder.Write(L"z.lng", "#name=Zed\n#name=\n")).name, L"z");
}

TEST(LanguageFileLoad, HeadersOnlyWhenEntriesAreNotAskedFor)
{
    PdTest::ScratchFolder folder;
    LanguageFile file = Loaded(folder.Write(L"de.lng", "#name=Deutsch\n10000=an\n"), false);
    EXPECT_EQ(file.name, L"Deutsch");
    EXPECT_TRUE(file.entries.empty());
}

TEST(LanguageFileLoad, MissingFileLeavesTheRecordUnchanged)
{
    PdTest::ScratchFolder folder;
    LanguageFile file;
    file.name = L"before";
    EXPECT_FALSE(LanguageFile::Load((folder.Path() / L"none.lng").wstring(), file, true));
    EXPECT_EQ(file.name, L"before");
    EXPECT_FALSE(LanguageFile::Load(folder.Path().wstring(), file, true)); // a folder is no file
}

TEST(ListLanguageFiles, ListsOnlyUsableLanguageFiles)
{
    PdTest::ScratchFolder folder;
    folder.Write(L"de.lng", "#name=Deutsch\n");
    folder.Write(L"PT-BR.LNG", "");
    folder.Write(L"zh_hant.lng", "");
    folder.Write(L"en.lng", "#name=English\n");
    folder.Write(L"x.y.lng", "");
    folder.Write(L"abcdefghijklmnopq.lng", ""); // 17 units
    folder.Write(L"abcdefghijklmnop.lng", "");  // 16 units
    folder.Write(L"readme.txt", "");
    folder.Write(L"sp ace.lng", "");
    std::filesystem::create_directory(folder.Path() / L"fr.lng");
    EXPECT_EQ(Codes(ListLanguageFiles(folder.Path().wstring(), false)),
              (std::vector<std::wstring>{L"abcdefghijklmnop", L"de", L"pt-br", L"zh_hant"}));
}

TEST(ListLanguageFiles, MissingFolderGivesNone)
{
    PdTest::ScratchFolder folder;
    EXPECT_TRUE(ListLanguageFiles((folder.Path() / L"missing").wstring(), true).empty());
    EXPECT_TRUE(ListLanguageFiles(std::wstring(), true).empty());
}

TEST(LanguageFolder, IsBesideTheExecutable)
{
    std::filesystem::path folder = LanguageFolder();
    EXPECT_EQ(folder.filename(), L"language");
    EXPECT_TRUE(std::filesystem::exists(folder.parent_path() / L"pd_core_tests.exe"));
}

TEST(ExportLanguageFile, WritesTheHeaderAndEveryBuiltinTextEscaped)
{
    PdTest::ScratchFolder folder;
    auto path = folder.Path() / L"template.lng";
    ASSERT_TRUE(ExportLanguageFile(path.wstring()));
    std::ifstream in(path, std::ios::binary);
    std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(contents.rfind("# Peldra language file. Translate the text after '='", 0), 0u);
    EXPECT_NE(contents.find("\n# UTF-8. Escapes: \\n \\r \\t \\\\\n"), std::string::npos);
    EXPECT_NE(contents.find("\n#name=English\n#locale=en\n\n10000=on\n"), std::string::npos);
    EXPECT_NE(contents.find("\n17034=Settings of Peldra removed (HKCU\\\\{}).\n"), std::string::npos);
    EXPECT_NE(contents.find("\n12023=Release {0}  \xC2\xB7  {1}"), std::string::npos);
    EXPECT_EQ(contents.find('\r'), std::string::npos);
    EXPECT_EQ(contents.back(), '\n');
}

TEST(ExportLanguageFile, TheTemplateLoadsBackIntoExactlyTheBuiltinTexts)
{
    PdTest::ScratchFolder folder;
    auto path = folder.Path() / L"template.lng";
    ASSERT_TRUE(ExportLanguageFile(path.wstring()));
    LanguageFile file = Loaded(path);
    EXPECT_EQ(file.name, L"English");
    EXPECT_EQ(file.locales, std::vector<std::wstring>{L"en"});
    ASSERT_EQ(file.entries.size(), BuiltinTextIds().size());
    for (std::uint32_t id : BuiltinTextIds())
        EXPECT_EQ(file.entries[id], BuiltinText(id)) << id;

    auto checks = CheckLanguageFiles(path.wstring());
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_TRUE(checks[0].missing.empty());
    EXPECT_TRUE(checks[0].extra.empty());
    EXPECT_TRUE(checks[0].badFields.empty());
    EXPECT_EQ(checks[0].translated, checks[0].total);
}

TEST(ExportLanguageFile, FailsWhenTheFileCannotBeCreated)
{
    PdTest::ScratchFolder folder;
    EXPECT_FALSE(ExportLanguageFile((folder.Path() / L"missing" / L"x.lng").wstring()));
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
    EXPECT_EQ(check.locales, std::vector<std::wstring>{L"tt"});
    EXPECT_EQ(check.missing, (std::vector<std::uint32_t>{10001, 10002}));
    EXPECT_EQ(check.extra, (std::vector<std::uint32_t>{12009, 19500, 1058584}));
    EXPECT_EQ(check.badFields, std::vector<std::uint32_t>{10009});
    EXPECT_EQ(check.total, BuiltinTextIds().size());
    EXPECT_EQ(check.translated, check.total - 2);
}

TEST(CheckLanguageFiles, UnreadablePathGivesNoResult)
{
    PdTest::ScratchFolder folder;
    EXPECT_TRUE(CheckLanguageFiles((folder.Path() / L"none.lng").wstring()).empty());
}

} // namespace
