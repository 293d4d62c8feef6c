// Publisher signatures and catalogs, checked by the product's own code against files signed with
// test publishers at test time (tests/support/signing.py). Wine accepts any self-signed chain as
// trusted, so there the pins decide; its catalog member lookup is a stub, so a catalog can be
// shown to be refused here but never accepted (the simulated PC's own check covers that).
#include "release/manifest/Trust.h"

#include "core/Handles.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/LoopbackServer.h"
#include "tests/support/SigningFixtures.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

namespace
{

using Pd::Core::SignatureState;
using PdTest::SigningFile;

// Whether each fixture is signed by the test publisher (Official), by another one, not at all,
// or changed: first with the test publisher's pins given, then on a simulated PC trusting it.
const std::pair<const wchar_t*, SignatureState> Signatures[] = {
    {L"official.exe", SignatureState::Official},
    {L"official.msi", SignatureState::Official},
    {L"foreign.exe", SignatureState::OtherSigner},
    {L"foreign.msi", SignatureState::OtherSigner},
    {L"unsigned.exe", SignatureState::NotSigned},
    {L"unsigned.msi", SignatureState::NotSigned},
    {L"member.json", SignatureState::NotSigned},
    // The content changed after signing. (Wine does not compare an installer package's streams with
    // its signed digest, as Windows does: "modified.msi" passes there, so only the exe shows this.)
    {L"modified.exe", SignatureState::Modified},
    // Wine's own check accepts a leaf forged under the publisher's names; the chain gives it away.
    {L"forged.exe", SignatureState::Modified},
};

class PublisherSignature : public PdTest::SigningTest
{
};

TEST_F(PublisherSignature, OnlyTheUnchangedFilesOfThePinnedPublisherAreOfficial)
{
    for (const auto& [file, state] : Signatures)
        EXPECT_EQ(Pd::Core::Detail::VerifyPublisherWith(SigningFile(file), nullptr,
                                                        PdTest::PublisherPinsOf(L"test")),
                  state)
            << std::filesystem::path(file).string();
    // The product's own pins reject the test publisher.
    EXPECT_EQ(Pd::Core::VerifyPublisher(SigningFile(L"official.exe")), SignatureState::OtherSigner);
}

TEST_F(PublisherSignature, EachPinMustMatch)
{
    const Pd::Core::PublisherPins test = PdTest::PublisherPinsOf(L"test");
    auto with = [&](Pd::Core::PublisherPins pins) {
        return Pd::Core::Detail::VerifyPublisherWith(SigningFile(L"official.exe"), nullptr, pins);
    };
    auto subject = test;
    subject.subject.pop_back();
    EXPECT_EQ(with(subject), SignatureState::OtherSigner);
    auto prefix = test;
    prefix.rootPrefix[0] = L'p'; // letter case counts
    EXPECT_EQ(with(prefix), SignatureState::OtherSigner);
    auto keys = test;
    keys.rootKeys = {std::wstring(64, L'0'), PdTest::PublisherPinsOf(L"foreign").rootKeys[0]};
    EXPECT_EQ(with(keys), SignatureState::OtherSigner);
    auto second = test;
    second.rootKeys.insert(second.rootKeys.begin(), std::wstring(64, L'0'));
    EXPECT_EQ(with(second), SignatureState::Official); // either pinned key is accepted
}

TEST_F(PublisherSignature, ChecksTheContentBehindAnOpenHandle)
{
    PdTest::ScratchFolder scratch;
    const std::filesystem::path file = scratch.Path() / L"setup.msi";
    std::filesystem::copy_file(SigningFile(L"official.msi"), file);
    Pd::UniqueFile handle(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(handle);
    EXPECT_EQ(
        Pd::Core::Detail::VerifyPublisherWith(file.wstring(), handle.Get(), PdTest::PublisherPinsOf(L"test")),
        SignatureState::Official);
}

// An elevated run (as every run under Wine is) keeps its temporary catalogs in Windows' own
// temporary folder, never in the user's, whose place the user's programs choose.
std::filesystem::path ElevatedTemporaryFolder()
{
    wchar_t windows[MAX_PATH + 1]{};
    ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return std::filesystem::path(windows) / L"Temp";
}

// The temporary catalogs "pld-*.cat" currently in the temporary folder.
int TemporaryCatalogs()
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ElevatedTemporaryFolder()))
    {
        const std::wstring name = entry.path().filename().wstring();
        count += name.starts_with(L"pld-") && name.ends_with(L".cat") ? 1 : 0;
    }
    return count;
}

class Catalog : public PdTest::SigningTest
{
protected:
    std::string member_ = PdTest::ReadFileBytes(SigningFile(L"member.json"));
    std::string official_ = PdTest::ReadFileBytes(SigningFile(L"official.cat"));
};

TEST_F(Catalog, OnWineEveryCatalogIsRefusedAndTheTemporaryCopyDeleted)
{
    for (const wchar_t* catalog : {L"missing.cat", L"member.json", L"unsigned.cat", L"foreign.cat"})
        EXPECT_FALSE(Pd::Core::Detail::VerifyCatalogMemberWith(SigningFile(catalog), member_,
                                                               PdTest::PublisherPinsOf(L"test")))
            << std::filesystem::path(catalog).string();
    EXPECT_FALSE(Pd::Core::VerifyCatalogMember(SigningFile(L"official.cat"), member_))
        << "the product's pins";
    EXPECT_FALSE(Pd::Core::VerifyWithCatalogBytes("", member_));
    EXPECT_FALSE(Pd::Core::VerifyWithCatalogBytes(official_, ""));
    // What a run killed while it checked left goes with the next check; another run's catalog,
    // held open while that run checks it, and a file of another name stay.
    const std::filesystem::path temp = ElevatedTemporaryFolder();
    const std::filesystem::path left = temp / L"pld-0123456789abcdef0123456789abcdef.cat";
    const std::filesystem::path checking = temp / L"pld-fedcba9876543210fedcba9876543210.cat";
    const std::filesystem::path other = temp / L"pld-mine.cat";
    for (const auto& file : {left, checking, other})
        PdTest::WriteBytes(file, "catalog");
    Pd::UniqueFile held(::CreateFileW(checking.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    const int before = TemporaryCatalogs();
    EXPECT_FALSE(Pd::Core::VerifyWithCatalogBytes(official_, member_));
    EXPECT_EQ(TemporaryCatalogs(), before - 1);
    EXPECT_FALSE(std::filesystem::exists(left));
    EXPECT_TRUE(std::filesystem::exists(checking) && std::filesystem::exists(other));
    held.Reset();
    std::filesystem::remove(checking);
    std::filesystem::remove(other);
}

TEST_F(Catalog, ASimulatedPcTrustingThePublisherAcceptsItsCatalogsOnlyForTheirOwnData)
{
    std::optional<Pd::Test::SimScenario> pc(PdTest::TrustingScenario(PdTest::PublisherPinsOf(L"test")));
    for (const auto& [file, state] : Signatures)
        EXPECT_EQ(Pd::Core::VerifyPublisher(SigningFile(file)), state)
            << std::filesystem::path(file).string();
    EXPECT_TRUE(Pd::Core::VerifyCatalogMember(SigningFile(L"official.cat"), member_));
    EXPECT_TRUE(Pd::Core::VerifyWithCatalogBytes(official_, member_));
    EXPECT_FALSE(Pd::Core::VerifyWithCatalogBytes(official_, member_ + "\n"));
    for (const wchar_t* catalog : {L"edited.cat", L"forged.cat", L"foreign.cat", L"missing.cat",
                                   L"unsigned.cat", L"sha1.cat", L"nomemberinfo.cat", L"member.json"})
        EXPECT_FALSE(Pd::Core::VerifyCatalogMember(SigningFile(catalog), member_))
            << std::filesystem::path(catalog).string();

    // A scenario without trust trusts nobody.
    pc.reset();
    pc.emplace("{}");
    EXPECT_EQ(Pd::Core::VerifyPublisher(SigningFile(L"official.exe")), SignatureState::OtherSigner);
    EXPECT_FALSE(Pd::Core::VerifyCatalogMember(SigningFile(L"official.cat"), member_));
}

} // namespace
