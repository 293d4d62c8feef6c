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

using PdTest::LoadCertificate;
using PdTest::PublisherPinsOf;
using PdTest::SigningFile;

class SimulatedCatalog : public PdTest::SigningTest
{
protected:
    // Whether the catalog's bytes list the data, checked as the simulated PC checks it.
    bool Lists(const std::wstring& catalog, const std::string& bytes, const std::string& data,
               const Pd::Core::PublisherPins& pins = PublisherPinsOf(L"test")) const
    {
        Pd::Sha256 hasher;
        hasher.Update(data);
        return Pd::Platform::Sim::CatalogListsMember(
            SigningFile(catalog), {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, pins,
            hasher.Finish());
    }
    bool Lists(const std::wstring& catalog, const std::string& data,
               const Pd::Core::PublisherPins& pins = PublisherPinsOf(L"test")) const
    {
        return Lists(catalog, PdTest::ReadFileBytes(SigningFile(catalog)), data, pins);
    }

    const std::string member_ = PdTest::ReadFileBytes(SigningFile(L"member.json"));
};

TEST_F(SimulatedCatalog, ListsEachOfItsMembersForItsOwnPublisherOnly)
{
    EXPECT_TRUE(Lists(L"official.cat", member_));
    EXPECT_TRUE(Lists(L"official.cat", "something else")); // its other member
    EXPECT_FALSE(Lists(L"other.cat", member_));
    EXPECT_FALSE(Lists(L"foreign.cat", member_));
    EXPECT_TRUE(Lists(L"foreign.cat", member_, PublisherPinsOf(L"foreign")));
    // Edited after signing, a leaf forged under the publisher's names, unsigned, SHA-1 digests.
    for (const wchar_t* catalog : {L"edited.cat", L"forged.cat", L"unsigned.cat", L"sha1.cat"})
        EXPECT_FALSE(Lists(catalog, member_)) << catalog;
}

TEST_F(SimulatedCatalog, TruncatedCatalogsAndOtherFilesAreRefused)
{
    const std::string bytes = PdTest::ReadFileBytes(SigningFile(L"official.cat"));
    for (std::size_t keep : {bytes.size() - 1, bytes.size() / 2, std::size_t{10}, std::size_t{0}})
        EXPECT_FALSE(Lists(L"official.cat", bytes.substr(0, keep), member_)) << keep;
    EXPECT_FALSE(Lists(L"official.exe", member_));
}

class PublisherChain : public PdTest::SigningTest
{
};

TEST_F(PublisherChain, PublicKeyPinEqualsTheDigestOpensslComputed)
{
    auto root = LoadCertificate(L"test\\root.pem");
    ASSERT_TRUE(root);
    EXPECT_EQ(Pd::Core::PublicKeyPin(root.Get()), PublisherPinsOf(L"test").rootKeys.at(0));
    EXPECT_EQ(Pd::Core::CertSimpleName(root.Get()), L"Peldra Test Code Signing Root CA");
}

TEST_F(PublisherChain, OnlyTheWholeGenuineChainUnderTheRootPrefixIsThePublishers)
{
    auto leaf = LoadCertificate(L"test\\leaf.pem");
    auto root = LoadCertificate(L"test\\root.pem");
    ASSERT_TRUE(leaf && root);
    const std::vector<PCCERT_CONTEXT> chain{leaf.Get(), root.Get()};
    const std::vector<PCCERT_CONTEXT> leafAlone{leaf.Get()};
    Pd::Core::PublisherPins pins = PublisherPinsOf(L"test");
    EXPECT_TRUE(Pd::Core::ChainSignaturesHold(chain));
    EXPECT_TRUE(Pd::Core::ChainMatchesPins(chain, pins));
    EXPECT_FALSE(Pd::Core::ChainMatchesPins(chain, PublisherPinsOf(L"foreign")));
    EXPECT_FALSE(Pd::Core::ChainMatchesPins(leafAlone, pins));
    EXPECT_FALSE(Pd::Core::ChainSignaturesHold(leafAlone)) << "the leaf is not self-signed";
    for (const wchar_t* prefix : {L"Peldra Test Code Signing Root CA and more", L"Test Code"})
    {
        pins.rootPrefix = prefix;
        EXPECT_FALSE(Pd::Core::ChainMatchesPins(chain, pins)) << prefix;
    }

    auto forged = LoadCertificate(L"forged\\leaf.pem");
    auto embedded = LoadCertificate(L"forged\\root.pem"); // the genuine root
    ASSERT_TRUE(forged && embedded);
    const std::vector<PCCERT_CONTEXT> forgedChain{forged.Get(), embedded.Get()};
    EXPECT_TRUE(Pd::Core::ChainMatchesPins(forgedChain, PublisherPinsOf(L"test")));
    EXPECT_FALSE(Pd::Core::ChainSignaturesHold(forgedChain));
}

} // namespace
