// The one rule for an elevated run's install folder, from given facts, and the HKLM record it
// reads, against real folders of the Wine prefix.
#include "release/install/RunFolder.h"

#include "core/Settings.h"
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
    const std::wstring Chose = L"C:\\Chosen";
    const std::wstring Old = L"C:\\Apps\\Tovik"; // an earlier version's install no record names
    const std::wstring refused = FormatText(TextId::UnrecordedFolderNotActedOn, Old, Folder);
    const std::wstring refusedInWindow = FormatText(TextId::UnrecordedFolderNotActedOnWindow, Old, Folder);
    const std::wstring registered = FormatText(TextId::RegisteredFolderNotActedOn, Old, Folder);
    const std::wstring named = FormatText(TextId::StoredFolderNotActedOn, Shared, Rec);
    const std::wstring empty = FormatText(TextId::StoredFolderHoldsNoInstall, Shared, Folder);
    using A = Asker;
    // typed, recorded, its check, per-user value, default, known unelevated, chosen, its check,
    // value holds an install, registered folder, it holds an install, asker
    const struct
    {
        const char* name;
        Detail::FolderFacts facts;
        FolderUse use;
        std::wstring result; // the folder, or the whole refusal
        FolderFrom from;
        std::wstring notice;
        bool blocked;
    } cases[] = {
        // clang-format off
        {"typed wins", {L"C:\\Apps\\Tovik\\", Rec, Same, Shared, Folder}, U::Existing, L"C:\\Apps\\Tovik", F::Typed, L"", false},
        {"typed, install rules", {L"Sub\\x", L"", None, L"", Folder}, U::Install,
         InstallFolderFromText(L"Sub\\x").error(), F::Default, L"", false},
        {"typed over a replaced record", {Rec, Rec, Replaced, L"", Folder}, U::Existing, Rec, F::Typed, L"", false},
        {"typed over a hinted install", {Rec, L"", None, Old, Folder, false, L"", None, true}, U::Install, Rec, F::Typed, L"", false},
        {"record", {L"", Rec, Same, L"", Folder}, U::Existing, Rec, F::Record, L"", false},
        {"record, value spelled otherwise", {L"", Rec, Same, L"c:/recorded/ ", Folder}, U::Install, Rec, F::Record, L"", false},
        {"record, another value", {L"", Rec, Same, Shared, Folder}, U::Existing, Rec, F::Record, named, false},
        {"record replaced", {L"", Rec, Replaced, Rec, Folder}, U::Existing,
         FormatText(TextId::RecordedFolderReplaced, Rec), F::Default, L"", false},
        {"record replaced, window", {L"", Rec, Replaced, Rec, Folder, false, L"", None, false, L"", false, A::Window},
         U::Existing, FormatText(TextId::RecordedFolderReplacedWindow, Rec), F::Default, L"", false},
        {"nothing", {L"", L"", None, L"", Folder}, U::Existing, Folder, F::Default, L"", false},
        {"record gone, value the default", {L"", Rec, None, Folder + L"\\", Folder}, U::Install, Folder, F::Default, L"", false},
        // The window's choice lasts for an install; an update and the uninstall act where the
        // last install went.
        {"chosen, install", {L"", Rec, Same, L"", Folder, false, Chose, Same}, U::Install, Chose, F::Chosen, L"", false},
        {"chosen, shown", {L"", Rec, Same, L"", Folder, false, Chose, Same}, U::Show, Chose, F::Chosen, L"", false},
        {"chosen, uninstall", {L"", Rec, Same, L"", Folder, false, Chose, Same}, U::Existing, Rec, F::Record, L"", false},
        {"chosen, no record, uninstall", {L"", L"", None, L"", Folder, false, Chose, Same}, U::Existing, Chose, F::Chosen, L"", false},
        {"chosen, folder gone since", {L"", L"", None, L"", Folder, false, Chose, None}, U::Install, Chose, F::Chosen, L"", false},
        {"chosen over a hinted install", {L"", L"", None, Old, Folder, false, Chose, Same, true, Old, true}, U::Install, Chose, F::Chosen,
         FormatText(TextId::StoredFolderNotActedOn, Old, Chose), false},
        {"chosen replaced", {L"", L"", None, L"", Folder, false, Chose, Replaced}, U::Install,
         FormatText(TextId::RecordedFolderReplaced, Chose), F::Default, L"", false},
        // An earlier version's install that only hints name is refused, named, and shown.
        {"value names an install", {L"", L"", None, Old, Folder, false, L"", None, true}, U::Install, refused, F::Default, L"", false},
        {"value names an install, uninstall", {L"", L"", None, Old, Folder, false, L"", None, true}, U::Existing, refused, F::Default, L"", false},
        {"value names an install, window", {L"", L"", None, Old, Folder, false, L"", None, true, L"", false, A::Window}, U::Install,
         refusedInWindow, F::Default, L"", false},
        {"value names an install, shown", {L"", L"", None, Old, Folder, false, L"", None, true}, U::Show, Old, F::Found, refused, true},
        {"registered there", {L"", L"", None, L"", Folder, false, L"", None, false, Old, true}, U::Existing, registered, F::Default, L"", false},
        {"registered there, record gone", {L"", Rec, None, L"", Folder, false, L"", None, false, Old, true}, U::Install, registered, F::Default, L"", false},
        {"registered there, record kept", {L"", Rec, Same, L"", Folder, false, L"", None, false, Old, true}, U::Install, Rec, F::Record, L"", false},
        {"registered from the default", {L"", L"", None, L"", Folder, false, L"", None, false, Folder, true}, U::Install, Folder, F::Default, L"", false},
        {"registered, no install there", {L"", L"", None, L"", Folder, false, L"", None, false, Old, false}, U::Install, Folder, F::Default, L"", false},
        // A value naming a folder without an install blocks nothing.
        {"value elsewhere", {L"", L"", None, Shared, Folder}, U::Existing, Folder, F::Default, empty, false},
        {"value elsewhere, elevated show", {L"", L"", None, Shared, Folder}, U::Show, Folder, F::Default, empty, false},
        {"value elsewhere, unelevated show", {L"", L"", None, Shared, Folder, true}, U::Show, Shared, F::Hint, L"", false},
        {"value elsewhere, unelevated uninstall", {L"", L"", None, Shared, Folder, true}, U::Existing, Folder,
         F::Default, empty, false},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const auto choice = Detail::ChooseInstallFolder(c.facts, c.use);
        EXPECT_EQ(choice ? choice->folder.Path() : choice.error(), c.result);
        if (choice)
        {
            EXPECT_EQ(std::tuple(choice->from, choice->notice, choice->blocked),
                      std::tuple(c.from, c.notice, c.blocked));
        }
    }
}

// A folder renamed away with another one put in its place is no longer the recorded one; a
// record whose folder is gone counts as none.
TEST(InstallFolderChoice, TheRecordNamesOnlyTheFolderThatWasRecorded)
{
    PdTest::MachineRecords records;
    PdTest::UserValues user{{L"InstallFolder"}};
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

    // Forgotten by the folder's identity, not its path: the one put in its place is not it, the
    // one renamed away is.
    const auto moved = Pd::Core::InstallFolder::From((scratch.Path() / L"Moved").wstring());
    ForgetInstallFolder(installFolder, IdentifyInstallFolder(installFolder));
    EXPECT_TRUE(Pd::Core::ReadRecordedFolder()) << "a record of another folder stays";
    EXPECT_TRUE(RegisteredFromRecordedFolder(L"C:\\Elsewhere", IdentifyInstallFolder(moved)) == false);
    fs::remove(folder);
    EXPECT_TRUE(RegisteredFromRecordedFolder(record->path, IdentifyInstallFolder(moved)))
        << "Tovik registered from the recorded path is Peldra's once the folder was renamed";
    Pd::Core::WriteUserString(L"InstallFolder", moved.Path());
    ForgetInstallFolder(moved, IdentifyInstallFolder(moved));
    EXPECT_FALSE(Pd::Core::ReadRecordedFolder());
    EXPECT_EQ(Pd::Core::ReadUserString(L"InstallFolder", L""), L"") << "the value naming the removed folder goes";

    // The choice outlives the install record, also for a folder not made yet.
    const auto chosen = Pd::Core::InstallFolder::From((scratch.Path() / L"Chosen" / L"Peldra").wstring());
    ASSERT_TRUE(RecordChosenFolder(chosen));
    EXPECT_EQ(ResolveInstallFolder({}, FolderUse::Install).value_or(FolderChoice{}).folder, chosen);
}

} // namespace
