// The simulated PC's catalog check and the publisher rule it shares with the product, against
// catalogs written and signed at test time (tests/support/signing.py).
#include "platform/sim/SimCatalog.h"

#include "core/Sha256.h"
#include "tests/support/SigningFixtures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

using PdTest::SigningFile;

std::wstring Sha256Of(const std::string& bytes)
{
    Pd::Sha256 hasher;
    hasher.Update(bytes);
    return hasher.Finish();
}

class SimulatedCatalog : public PdTest::SigningTest
{
protected:
    // Whether the catalog lists the data, checked as the simulated PC checks it.
    bool Lists(const std::wstring& catalog, const std::string& data,
               const Pd::Core::PublisherPins& pins = PdTest::PublisherPinsOf(L"test")) const
    {
        const std::wstring path = SigningFile(catalog);
        const std::string bytes = PdTest::ReadFileBytes(path);
        return Pd::Platform::Sim::CatalogListsMember(
            path, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, pins, Sha256Of(data));
    }

    const std::string member_ = PdTest::ReadFileBytes(SigningFile(L"member.json"));
};

TEST_F(SimulatedCatalog, SignedCatalogListingTheDataIsAccepted)
{
    EXPECT_TRUE(Lists(L"official.cat", member_));
    EXPECT_TRUE(Lists(L"official.cat", "something else")); // its other member
}

TEST_F(SimulatedCatalog, DataTheCatalogDoesNotListIsRefused)
{
    EXPECT_FALSE(Lists(L"official.cat", member_ + " "));
    EXPECT_FALSE(Lists(L"other.cat", member_));
}

TEST_F(SimulatedCatalog, CatalogEditedAfterSigningIsRefused)
{
    EXPECT_FALSE(Lists(L"edited.cat", member_));
}

TEST_F(SimulatedCatalog, LeafForgedUnderThePublishersNamesIsRefused)
{
    EXPECT_FALSE(Lists(L"forged.cat", member_));
}

TEST_F(SimulatedCatalog, CatalogOfAnotherPublisherIsRefused)
{
    EXPECT_FALSE(Lists(L"foreign.cat", member_));
    EXPECT_TRUE(Lists(L"foreign.cat", member_, PdTest::PublisherPinsOf(L"foreign")));
}

TEST_F(SimulatedCatalog, UnsignedCatalogIsRefused)
{
    EXPECT_FALSE(Lists(L"unsigned.cat", member_));
}

TEST_F(SimulatedCatalog, MemberWithSha1DigestIsRefused)
{
    // The SHA-1 member's tag is its SHA-1 digest; no SHA-256 digest of the data is listed at all.
    EXPECT_FALSE(Lists(L"sha1.cat", member_));
}

TEST_F(SimulatedCatalog, FilesThatAreNoCatalogAreRefused)
{
    EXPECT_FALSE(Lists(L"member.json", member_));
    EXPECT_FALSE(Lists(L"official.exe", member_));
    EXPECT_FALSE(Lists(L"missing.cat", member_));
}

TEST_F(SimulatedCatalog, TruncatedCatalogIsRefused)
{
    const std::wstring path = SigningFile(L"official.cat");
    std::string bytes = PdTest::ReadFileBytes(path);
    for (std::size_t keep : {bytes.size() - 1, bytes.size() / 2, std::size_t{10}})
    {
        const std::string part = bytes.substr(0, keep);
        EXPECT_FALSE(Pd::Platform::Sim::CatalogListsMember(
            path, {reinterpret_cast<const std::uint8_t*>(part.data()), part.size()},
            PdTest::PublisherPinsOf(L"test"), Sha256Of(member_)))
            << keep;
    }
}

class PublisherChain : public PdTest::SigningTest
{
};

TEST_F(PublisherChain, PublicKeyPinEqualsTheDigestOpensslComputed)
{
    auto root = PdTest::LoadCertificate(L"test\\root.pem");
    ASSERT_TRUE(root);
    EXPECT_EQ(Pd::Core::PublicKeyPin(root.Get()), PdTest::PublisherPinsOf(L"test").rootKeys.at(0));
}

TEST_F(PublisherChain, GenuineChainIsThePublishers)
{
    auto leaf = PdTest::LoadCertificate(L"test\\leaf.pem");
    auto root = PdTest::LoadCertificate(L"test\\root.pem");
    ASSERT_TRUE(leaf && root);
    const std::vector<PCCERT_CONTEXT> chain{leaf.Get(), root.Get()};
    EXPECT_TRUE(Pd::Core::ChainSignaturesHold(chain));
    EXPECT_TRUE(Pd::Core::ChainMatchesPins(chain, PdTest::PublisherPinsOf(L"test")));
    EXPECT_FALSE(Pd::Core::ChainMatchesPins(chain, PdTest::PublisherPinsOf(L"foreign")));
    EXPECT_FALSE(Pd::Core::ChainMatchesPins(std::vector<PCCERT_CONTEXT>{leaf.Get()},
                                            PdTest::PublisherPinsOf(L"test")));
    EXPECT_FALSE(Pd::Core::ChainSignaturesHold(std::vector<PCCERT_CONTEXT>{leaf.Get()})); // not self-signed
}

TEST_F(PublisherChain, ForgedLeafMatchesThePinsButNotTheSignatures)
{
    auto leaf = PdTest::LoadCertificate(L"forged\\leaf.pem");
    auto root = PdTest::LoadCertificate(L"forged\\root.pem"); // the genuine root, embedded
    ASSERT_TRUE(leaf && root);
    const std::vector<PCCERT_CONTEXT> chain{leaf.Get(), root.Get()};
    EXPECT_TRUE(Pd::Core::ChainMatchesPins(chain, PdTest::PublisherPinsOf(L"test")));
    EXPECT_FALSE(Pd::Core::ChainSignaturesHold(chain));
}

TEST_F(PublisherChain, RootNameMustBeginWithThePrefix)
{
    auto leaf = PdTest::LoadCertificate(L"test\\leaf.pem");
    auto root = PdTest::LoadCertificate(L"test\\root.pem");
    ASSERT_TRUE(leaf && root);
    const std::vector<PCCERT_CONTEXT> chain{leaf.Get(), root.Get()};
    Pd::Core::PublisherPins pins = PdTest::PublisherPinsOf(L"test");
    EXPECT_EQ(Pd::Core::CertSimpleName(root.Get()), L"Peldra Test Code Signing Root CA");
    pins.rootPrefix = L"Peldra Test Code Signing Root CA and more";
    EXPECT_FALSE(Pd::Core::ChainMatchesPins(chain, pins)); // a prefix longer than the name
    pins.rootPrefix = L"Test Code";
    EXPECT_FALSE(Pd::Core::ChainMatchesPins(chain, pins));
}

} // namespace
