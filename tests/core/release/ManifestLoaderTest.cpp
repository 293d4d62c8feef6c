// Loading a manifest with its catalog from the loopback server. Under Wine the product's catalog
// check can never succeed (its member lookup is a stub), so there a catalog is kept but never
// makes the manifest signed; signed manifests are shown on a simulated PC that trusts the test
// publisher.
#include "core/release/ManifestLoader.h"

#include "tests/core/release/LoopbackServer.h"
#include "tests/support/SigningFixtures.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace
{

const std::string ManifestText = R"({"format": 1, "version": "1.0.0", "components": [
  {"id": "system", "kind": "disk", "target": "system.vhdx", "url": "system.zst",
   "packedSha256": "0000000000000000000000000000000000000000000000000000000000000000", "packedSize": 1}]}
)";

class ManifestLoading : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(PdTest::LoopbackServer::Get().Running()) << "PD_RELEASE_SERVER is not set";
        served_.Put(L"manifest.json", ManifestText);
    }

    Pd::Result<Pd::Core::Manifest> Load(const std::wstring& url, std::stop_token stop = {})
    {
        return Pd::Core::LoadManifest(url, stop, 10'000, 20'000);
    }

    PdTest::ServedFolder served_;
};

TEST_F(ManifestLoading, MissingCatalogLoadsTheManifestUnsigned)
{
    auto manifest = Load(served_.Url(L"manifest.json"));
    ASSERT_TRUE(manifest) << manifest.error();
    EXPECT_EQ(manifest->version, L"1.0.0");
    EXPECT_EQ(manifest->manifestBytes, ManifestText);
    EXPECT_EQ(manifest->catalogBytes, "");
    EXPECT_FALSE(manifest->isSigned);
    EXPECT_EQ(served_.Requests(L"manifest.cat").size(), 1u);
    EXPECT_EQ(manifest->components.at(0).url, served_.Url(L"system.zst"));
}

TEST_F(ManifestLoading, CatalogFromTheManifestsFolderIsKeptAsFetched)
{
    // Asked for without the manifest address's query; not the publisher's, so not signed.
    const std::string catalog("\x30\x03\x02\x01\x00 catalog bytes", 20);
    served_.Put(L"manifest.cat", catalog);
    auto manifest = Load(served_.Url(L"manifest.json?channel=beta#top"));
    ASSERT_TRUE(manifest) << manifest.error();
    EXPECT_EQ(manifest->catalogBytes, catalog);
    EXPECT_FALSE(manifest->isSigned);
    EXPECT_EQ(served_.Requests(L"manifest.cat").size(), 1u);
}

TEST_F(ManifestLoading, OversizeManifestFailsBeforeParsing)
{
    served_.Put(L"big.json", std::string((1u << 20) + 1, ' '));
    auto manifest = Load(served_.Url(L"big.json"));
    ASSERT_FALSE(manifest);
    EXPECT_EQ(manifest.error(), L"The server sent more data than expected.");
    EXPECT_EQ(served_.Requests(L"manifest.cat").size(), 0u);
}

TEST_F(ManifestLoading, InvalidManifestCostsOneRequest)
{
    served_.Put(L"bad.json", R"({"format": 2})");
    auto manifest = Load(served_.Url(L"bad.json"));
    ASSERT_FALSE(manifest);
    EXPECT_EQ(manifest.error(), L"The release needs a newer Peldra.");
    EXPECT_EQ(served_.Requests(L"manifest.cat").size(), 0u);
}

TEST_F(ManifestLoading, CatalogServerErrorEndsLoadingWithTheError)
{
    served_.Rule(L"manifest.cat", R"({"status": 500})");
    auto manifest = Load(served_.Url(L"manifest.json"));
    ASSERT_FALSE(manifest);
    EXPECT_EQ(manifest.error(), L"The server answered HTTP 500 for " + served_.Url(L"manifest.cat") + L".");
}

TEST_F(ManifestLoading, CatalogThatCannotBeReachedEndsLoadingWithTheError)
{
    // Redirected to a loopback port where nothing listens.
    served_.Rule(L"manifest.cat", R"({"redirect": "http://127.0.0.1:1/manifest.cat"})");
    auto manifest = Load(served_.Url(L"manifest.json"));
    ASSERT_FALSE(manifest);
    EXPECT_TRUE(manifest.error().starts_with(L"Sending the request: ")) << manifest.error();
}

TEST_F(ManifestLoading, StopDuringTheCatalogFetchCancels)
{
    served_.Put(L"manifest.cat", "catalog");
    served_.Rule(L"manifest.cat", R"({"stallAfter": 0, "stallMs": 1500})");
    std::stop_source stop;
    std::jthread stopper([&] {
        while (served_.Requests(L"manifest.json").empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop.request_stop();
    });
    auto manifest = Load(served_.Url(L"manifest.json"), stop.get_token());
    ASSERT_FALSE(manifest);
    EXPECT_EQ(manifest.error(), L"Canceled.");
}

TEST_F(ManifestLoading, PublishersCatalogMakesTheManifestSignedUntilOneByteChanges)
{
    Pd::Test::SimScenario pc(PdTest::TrustingScenario(PdTest::PublisherPinsOf(L"test")));
    const auto& server = PdTest::LoopbackServer::Get();
    auto manifest = Load(server.Url(L"signed/complete/manifest.json"));
    ASSERT_TRUE(manifest) << manifest.error();
    EXPECT_TRUE(manifest->isSigned);
    EXPECT_EQ(manifest->catalogBytes, PdTest::ReadBytes(server.File(L"signed/complete/manifest.cat")));

    std::string changed = PdTest::ReadBytes(server.File(L"signed/complete/manifest.json"));
    changed.insert(changed.find('{') + 1, " ");
    served_.Put(L"manifest.json", changed);
    served_.Put(L"manifest.cat", manifest->catalogBytes);
    auto edited = Load(served_.Url(L"manifest.json"));
    ASSERT_TRUE(edited) << edited.error();
    EXPECT_FALSE(edited->isSigned);
    EXPECT_EQ(edited->catalogBytes, manifest->catalogBytes);
}

} // namespace
