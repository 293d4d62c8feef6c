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
using Pd::TextId;
using Pd::Core::FormatText;
using Pd::Core::ToUtf8;
using enum Detail::RecordCheck;
using F = FolderFrom;
using U = FolderUse;

const std::wstring Folder = L"C:\\Program Files\\Peldra"; // the default install folder
const std::wstring Rec = L"C:\\Recorded";
const std::wstring Shared = L"C:\\Shared";

TEST(InstallFolderChoice, TypedElseAnUnchangedRecordElseTheDefaultAndThePerUserValueOnlyAsAHint)
{
    const std::wstring refused = FormatText(TextId::UnrecordedFolderNotActedOn, Shared, Folder);
    const std::wstring named = FormatText(TextId::StoredFolderNotActedOn, Shared, Rec);
    const struct
    {
        const char* name;
        Detail::FolderFacts facts; // typed, recorded, its check, per-user value, default, known unelevated
        FolderUse use;
        std::wstring result; // the folder, or the whole refusal
        FolderFrom from;
        std::wstring notice;
    } cases[] = {
        // clang-format off
        {"typed wins", {L"C:\\Apps\\Tovik\\", Rec, Same, Shared, Folder}, U::Existing, L"C:\\Apps\\Tovik", F::Typed, L""},
        {"typed, install rules", {L"Sub\\x", L"", None, L"", Folder}, U::Install,
         InstallFolderFromText(L"Sub\\x").error(), F::Default, L""},
        {"typed over a replaced record", {Rec, Rec, Replaced, L"", Folder}, U::Existing, Rec, F::Typed, L""},
        {"record", {L"", Rec, Same, L"", Folder}, U::Existing, Rec, F::Record, L""},
        {"record, value spelled otherwise", {L"", Rec, Same, L"c:/recorded/ ", Folder}, U::Install, Rec, F::Record, L""},
        {"record, another value", {L"", Rec, Same, Shared, Folder}, U::Existing, Rec, F::Record, named},
        {"record replaced", {L"", Rec, Replaced, Rec, Folder}, U::Existing,
         FormatText(TextId::RecordedFolderReplaced, Rec), F::Default, L""},
        {"nothing", {L"", L"", None, L"", Folder}, U::Existing, Folder, F::Default, L""},
        {"record gone, value the default", {L"", Rec, None, Folder + L"\\", Folder}, U::Install, Folder, F::Default, L""},
        {"value elsewhere", {L"", L"", None, Shared, Folder}, U::Existing, refused, F::Default, L""},
        {"value elsewhere, elevated show", {L"", L"", None, Shared, Folder}, U::Show, refused, F::Default, L""},
        {"value elsewhere, unelevated show", {L"", L"", None, Shared, Folder, true}, U::Show, Shared, F::Hint, L""},
        {"value elsewhere, unelevated uninstall", {L"", L"", None, Shared, Folder, true}, U::Existing, refused,
         F::Default, L""},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const auto choice = Detail::ChooseInstallFolder(c.facts, c.use);
        EXPECT_EQ(choice ? choice->folder.Path() : choice.error(), c.result);
        if (choice)
        {
            EXPECT_EQ(std::pair(choice->from, choice->notice), std::pair(c.from, c.notice));
        }
    }
}

// A folder renamed away with another one put in its place is no longer the recorded one; a
// record whose folder is gone counts as none.
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
    EXPECT_EQ(Detail::CheckRecordedFolder(*record), Same);
    EXPECT_EQ(ResolveInstallFolder({}, FolderUse::Existing).value_or(FolderChoice{}).folder, installFolder);

    fs::rename(folder, scratch.Path() / L"Moved");
    EXPECT_EQ(Detail::CheckRecordedFolder(*record), None);
    fs::create_directories(folder);
    EXPECT_EQ(ResolveInstallFolder({}, FolderUse::Existing).error(),
              FormatText(TextId::RecordedFolderReplaced, record->path));

    ForgetInstallFolder(Pd::Core::InstallFolder::From((scratch.Path() / L"Moved").wstring()));
    EXPECT_TRUE(Pd::Core::ReadRecordedFolder()) << "a record of another folder stays";
    ForgetInstallFolder(installFolder);
    EXPECT_FALSE(Pd::Core::ReadRecordedFolder());
}

} // namespace
