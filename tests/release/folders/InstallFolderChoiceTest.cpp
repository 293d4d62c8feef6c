// The one rule for an elevated run's install folder, from given facts, and the HKLM record it
// reads, against real folders of the Wine prefix.
#include "release/folders/InstallFolderChoice.h"

#include "core/Strings.h"
#include "core/Text.h"
#include "release/base/MachineRecords.h"
#include "release/folders/InstallFolderRules.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/UserValues.h"

#include <gtest/gtest.h>

namespace
{

namespace fs = std::filesystem;
using namespace Pd::Install;
using Detail::RecordCheck;
using Pd::TextId;
using Pd::Core::FormatText;
using Pd::Core::ToUtf8;

const std::wstring Default = L"C:\\Program Files\\Peldra";

TEST(InstallFolderChoice, TypedElseAnUnchangedRecordElseTheDefaultAndThePerUserValueOnlyAsAHint)
{
    const std::wstring notActedOn = FormatText(TextId::UnrecordedFolderNotActedOn, L"C:\\Shared", Default);
    const struct
    {
        const char* name;
        Detail::FolderFacts facts;
        FolderUse use;
        std::wstring result; // the folder, or the whole refusal
        FolderFrom from = FolderFrom::Default;
        std::wstring notice;
    } cases[] = {
        {"typed wins over record and value",
         {L"C:\\Apps\\Tovik\\", L"C:\\Recorded", RecordCheck::Same, L"C:\\Shared", Default},
         FolderUse::Existing,
         L"C:\\Apps\\Tovik",
         FolderFrom::Typed,
         L""},
        {"typed is read by the install rules",
         {L"Sub\\Tovik", L"", RecordCheck::None, L"", Default},
         FolderUse::Install,
         InstallFolderFromText(L"Sub\\Tovik").error(),
         FolderFrom::Default,
         L""},
        {"typed over a replaced record",
         {L"C:\\Recorded", L"C:\\Recorded", RecordCheck::Replaced, L"", Default},
         FolderUse::Existing,
         L"C:\\Recorded",
         FolderFrom::Typed,
         L""},
        {"record",
         {L"", L"C:\\Recorded", RecordCheck::Same, L"", Default},
         FolderUse::Existing,
         L"C:\\Recorded",
         FolderFrom::Record,
         L""},
        {"record and the value naming it otherwise spelled",
         {L"", L"C:\\Recorded", RecordCheck::Same, L"c:/recorded/ ", Default},
         FolderUse::Install,
         L"C:\\Recorded",
         FolderFrom::Record,
         L""},
        {"record and another value, named in the notice",
         {L"", L"C:\\Recorded", RecordCheck::Same, L"C:\\Shared", Default},
         FolderUse::Existing,
         L"C:\\Recorded",
         FolderFrom::Record,
         FormatText(TextId::StoredFolderNotActedOn, L"C:\\Shared", L"C:\\Recorded")},
        {"record whose folder was replaced",
         {L"", L"C:\\Recorded", RecordCheck::Replaced, L"C:\\Recorded", Default},
         FolderUse::Existing,
         FormatText(TextId::RecordedFolderReplaced, L"C:\\Recorded"),
         FolderFrom::Default,
         L""},
        {"nothing",
         {L"", L"", RecordCheck::None, L"", Default},
         FolderUse::Existing,
         Default,
         FolderFrom::Default,
         L""},
        {"record gone, value naming the default",
         {L"", L"C:\\Recorded", RecordCheck::None, Default + L"\\", Default},
         FolderUse::Install,
         Default,
         FolderFrom::Default,
         L""},
        {"value elsewhere, uninstall",
         {L"", L"", RecordCheck::None, L"C:\\Shared", Default},
         FolderUse::Existing,
         notActedOn,
         FolderFrom::Default,
         L""},
        {"value elsewhere, install",
         {L"", L"", RecordCheck::None, L"C:\\Shared", Default},
         FolderUse::Install,
         notActedOn,
         FolderFrom::Default,
         L""},
        {"value elsewhere, elevated show",
         {L"", L"", RecordCheck::None, L"C:\\Shared", Default},
         FolderUse::Show,
         notActedOn,
         FolderFrom::Default,
         L""},
        {"value elsewhere, shown unelevated",
         {L"", L"", RecordCheck::None, L"C:\\Shared", Default, true},
         FolderUse::Show,
         L"C:\\Shared",
         FolderFrom::Hint,
         L""},
        {"value elsewhere, unelevated uninstall",
         {L"", L"", RecordCheck::None, L"C:\\Shared", Default, true},
         FolderUse::Existing,
         notActedOn,
         FolderFrom::Default,
         L""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const auto choice = Detail::ChooseInstallFolder(c.facts, c.use);
        EXPECT_EQ(choice ? choice->folder.Path() : choice.error(), c.result);
        if (choice)
        {
            EXPECT_EQ(choice->from, c.from);
            EXPECT_EQ(choice->notice, c.notice);
        }
    }
}

// The record holds the folder's volume and file id: a folder renamed away with another one put in
// its place is no longer the recorded one, and a record whose folder is gone counts as none.
TEST(InstallFolderChoice, TheRecordNamesOnlyTheFolderThatWasRecorded)
{
    PdTest::MachineRecords records;
    PdTest::ScratchFolder scratch;
    const fs::path folder = scratch.Path() / L"Tovik";
    fs::create_directories(folder);
    const auto installFolder = Pd::Core::InstallFolder::From(folder.wstring());
    ASSERT_TRUE(RecordInstallFolder(installFolder));
    const auto record = Pd::Core::ReadRecordedFolder();
    ASSERT_TRUE(record);
    EXPECT_EQ(Pd::Core::InstallFolder::From(record->path), installFolder);
    EXPECT_EQ(Detail::CheckRecordedFolder(*record), RecordCheck::Same);
    const auto chosen = ResolveInstallFolder({}, FolderUse::Existing);
    ASSERT_TRUE(chosen) << ToUtf8(chosen.error());
    EXPECT_EQ(chosen->folder, installFolder);

    fs::rename(folder, scratch.Path() / L"Moved");
    EXPECT_EQ(Detail::CheckRecordedFolder(*record), RecordCheck::None);
    fs::create_directories(folder);
    EXPECT_EQ(Detail::CheckRecordedFolder(*record), RecordCheck::Replaced);
    EXPECT_EQ(ResolveInstallFolder({}, FolderUse::Existing).error(),
              FormatText(TextId::RecordedFolderReplaced, record->path));

    ForgetInstallFolder(Pd::Core::InstallFolder::From((scratch.Path() / L"Moved").wstring()));
    EXPECT_TRUE(Pd::Core::ReadRecordedFolder()) << "a record of another folder stays";
    ForgetInstallFolder(installFolder);
    EXPECT_FALSE(Pd::Core::ReadRecordedFolder());
}

TEST(InstallFolderChoice, ARecordTextIsReadOnlyInTheFormItIsWritten)
{
    Pd::Core::RecordedFolder folder{L"C:\\Program Files\\Peldra", 0x0123456789ABCDEFull, {}};
    folder.fileId[0] = 0xFE;
    folder.fileId[15] = 0x01;
    const std::wstring text = Pd::Core::Detail::FolderRecordText(folder);
    EXPECT_EQ(text, L"0123456789abcdef fe000000000000000000000000000001 C:\\Program Files\\Peldra");
    EXPECT_EQ(Pd::Core::Detail::ParseFolderRecord(text), folder);
    for (const std::wstring& wrong :
         {std::wstring(), text.substr(0, 50), L"x" + text.substr(1),
          text.substr(0, 16) + L"-" + text.substr(17), text.substr(0, 49) + L"-C:\\x",
          text.substr(0, 40) + L"g" + text.substr(41)})
        EXPECT_FALSE(Pd::Core::Detail::ParseFolderRecord(wrong)) << ToUtf8(wrong);
}

} // namespace
