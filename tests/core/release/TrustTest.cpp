// Publisher signatures and catalogs, checked by the product's own code against files signed with
// test publishers at test time (tests/support/signing.py). Wine accepts any self-signed chain as
// trusted, so there the pins decide; its catalog member lookup is a stub, so a catalog can be
// shown to be refused here but never accepted (the simulated PC's own check covers that).
#include "core/release/Trust.h"

#include "core/Handles.h"
#include "tests/core/ScratchFolder.h"
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

class PublisherSignature : public PdTest::SigningTest
{
protected:
    SignatureState Check(const std::wstring& file) const
    {
        return Pd::Core::Detail::VerifyPublisherWith(SigningFile(file), nullptr,
                                                     PdTest::PublisherPinsOf(L"test"));
    }
};

TEST_F(PublisherSignature, ExeSignedByThePinnedPublisherIsOfficial)
{
    EXPECT_EQ(Check(L"official.exe"), SignatureState::Official);
}

TEST_F(PublisherSignature, InstallerPackageSignedByThePinnedPublisherIsOfficial)
{
    EXPECT_EQ(Check(L"official.msi"), SignatureState::Official);
}

TEST_F(PublisherSignature, ValidSignatureOfAnotherPublisherIsOtherSigner)
{
    EXPECT_EQ(Check(L"foreign.exe"), SignatureState::OtherSigner);
    EXPECT_EQ(Check(L"foreign.msi"), SignatureState::OtherSigner);
}

TEST_F(PublisherSignature, FilesWithoutSignatureAreNotSigned)
{
    EXPECT_EQ(Check(L"unsigned.exe"), SignatureState::NotSigned);
    EXPECT_EQ(Check(L"unsigned.msi"), SignatureState::NotSigned);
    EXPECT_EQ(Check(L"member.json"), SignatureState::NotSigned);
}

TEST_F(PublisherSignature, ContentChangedAfterSigningIsModified)
{
    EXPECT_EQ(Check(L"modified.exe"), SignatureState::Modified);
    // Wine does not compare an installer package's streams with its signed digest (Windows does,
    // and osslsigncode too): "modified.msi" passes there, so only the exe shows this here.
}

TEST_F(PublisherSignature, LeafForgedUnderThePublishersNamesIsModified)
{
    // Wine's own check accepts it; the chain's signatures give it away.
    EXPECT_EQ(Check(L"forged.exe"), SignatureState::Modified);
}

TEST_F(PublisherSignature, TheProductsOwnPinsRejectTheTestPublisher)
{
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

class CatalogMember : public PdTest::SigningTest
{
protected:
    bool Check(const std::wstring& catalog) const
    {
        return Pd::Core::Detail::VerifyCatalogMemberWith(
            catalog, PdTest::ReadFileBytes(SigningFile(L"member.json")), PdTest::PublisherPinsOf(L"test"));
    }
};

TEST_F(CatalogMember, MissingCatalogIsRefused)
{
    EXPECT_FALSE(Check(SigningFile(L"missing.cat")));
}

TEST_F(CatalogMember, FileThatIsNoCatalogIsRefused)
{
    EXPECT_FALSE(Check(SigningFile(L"member.json")));
}

TEST_F(CatalogMember, UnsignedCatalogIsRefused)
{
    EXPECT_FALSE(Check(SigningFile(L"unsigned.cat")));
}

TEST_F(CatalogMember, CatalogOfAnotherPublisherIsRefused)
{
    EXPECT_FALSE(Check(SigningFile(L"foreign.cat")));
}

TEST_F(CatalogMember, TheProductsPinsRefuseTheTestPublishersCatalog)
{
    EXPECT_FALSE(Pd::Core::VerifyCatalogMember(SigningFile(L"official.cat"),
                                               PdTest::ReadFileBytes(SigningFile(L"member.json"))));
}

// The temporary catalogs "pld-*.cat" currently in the temporary folder.
int TemporaryCatalogs()
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path()))
    {
        const std::wstring name = entry.path().filename().wstring();
        count += name.starts_with(L"pld-") && name.ends_with(L".cat") ? 1 : 0;
    }
    return count;
}

class CatalogBytes : public PdTest::SigningTest
{
};

TEST_F(CatalogBytes, EmptyCatalogOrDataIsRefused)
{
    const std::string catalog = PdTest::ReadFileBytes(SigningFile(L"official.cat"));
    EXPECT_FALSE(Pd::Core::VerifyWithCatalogBytes("", "data"));
    EXPECT_FALSE(Pd::Core::VerifyWithCatalogBytes(catalog, ""));
}

TEST_F(CatalogBytes, TemporaryCatalogIsDeletedAfterTheCheck)
{
    const int before = TemporaryCatalogs();
    EXPECT_FALSE(Pd::Core::VerifyWithCatalogBytes(PdTest::ReadFileBytes(SigningFile(L"official.cat")),
                                                  PdTest::ReadFileBytes(SigningFile(L"member.json"))));
    EXPECT_EQ(TemporaryCatalogs(), before);
}

// A simulated PC that trusts the test publisher; it checks catalogs itself.
class SimulatedTrust : public PdTest::SigningTest
{
protected:
    bool Lists(const std::wstring& catalog) const
    {
        return Pd::Core::VerifyCatalogMember(SigningFile(catalog), member_);
    }

    std::string member_ = PdTest::ReadFileBytes(SigningFile(L"member.json"));
    std::optional<Pd::Test::SimScenario> pc_;
};

TEST_F(SimulatedTrust, TheScenariosPublisherSignsOfficialFiles)
{
    pc_.emplace(PdTest::TrustingScenario(PdTest::PublisherPinsOf(L"test")));
    EXPECT_EQ(Pd::Core::VerifyPublisher(SigningFile(L"official.exe")), SignatureState::Official);
    EXPECT_EQ(Pd::Core::VerifyPublisher(SigningFile(L"official.msi")), SignatureState::Official);
    EXPECT_EQ(Pd::Core::VerifyPublisher(SigningFile(L"foreign.exe")), SignatureState::OtherSigner);
    EXPECT_EQ(Pd::Core::VerifyPublisher(SigningFile(L"forged.exe")), SignatureState::Modified);
}

TEST_F(SimulatedTrust, CatalogListingTheDataIsAccepted)
{
    pc_.emplace(PdTest::TrustingScenario(PdTest::PublisherPinsOf(L"test")));
    EXPECT_TRUE(Lists(L"official.cat"));
    EXPECT_TRUE(
        Pd::Core::VerifyWithCatalogBytes(PdTest::ReadFileBytes(SigningFile(L"official.cat")), member_));
    EXPECT_FALSE(Pd::Core::VerifyWithCatalogBytes(PdTest::ReadFileBytes(SigningFile(L"official.cat")),
                                                  member_ + "\n"));
}

TEST_F(SimulatedTrust, EditedForgedForeignAndMissingCatalogsAreRefused)
{
    pc_.emplace(PdTest::TrustingScenario(PdTest::PublisherPinsOf(L"test")));
    for (const wchar_t* catalog : {L"edited.cat", L"forged.cat", L"foreign.cat", L"missing.cat",
                                   L"unsigned.cat", L"sha1.cat", L"nomemberinfo.cat", L"member.json"})
        EXPECT_FALSE(Lists(catalog)) << catalog;
}

TEST_F(SimulatedTrust, ScenarioWithoutTrustTrustsNobody)
{
    pc_.emplace("{}");
    EXPECT_EQ(Pd::Core::VerifyPublisher(SigningFile(L"official.exe")), SignatureState::OtherSigner);
    EXPECT_FALSE(Lists(L"official.cat"));
}

} // namespace
