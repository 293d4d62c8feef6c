#include "host/notices/UpdateNotices.h"

#include "tests/core/release/UserValues.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace
{

using Pd::Platform::ConnectivityLevel;
using namespace std::chrono_literals;

std::uint64_t Now()
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

TEST(UpdateCheckDue, OnlyARecentPastTimeOfDigitsDefersTheCheck)
{
    constexpr std::uint64_t now = 1'800'000'000;
    struct Case
    {
        std::wstring checked;
        bool due;
    };
    for (const Case& c : {
             Case{std::to_wstring(now - 71999), false}, Case{std::to_wstring(now), false},
             Case{std::to_wstring(now - 72000), true}, Case{std::to_wstring(now + 1), true}, // clock set back
             Case{L"", true}, Case{L"17999x0000", true}, Case{L"-100", true},
             Case{L"99999999999999999999999", true}, // would overflow
         })
        EXPECT_EQ(Pd::Host::UpdateCheckDue(c.checked, now), c.due)
            << std::string(c.checked.begin(), c.checked.end());
}

// The connectivity hint as the test sets it; Notify() stands for Windows' change notification.
class FakeNetwork final : public Pd::Platform::NetworkConnectivity
{
public:
    std::atomic<ConnectivityLevel> level{ConnectivityLevel::InternetAccess};
    std::atomic<bool> fails{false};
    bool watchFails = false;
    std::atomic<int> reads{0};

    Pd::Platform::Outcome<ConnectivityLevel> Level() override
    {
        ++reads;
        if (fails)
            return Pd::Platform::Failure(E_FAIL, L"no hint");
        return level.load();
    }

    Pd::Platform::Outcome<std::unique_ptr<Pd::Platform::ConnectivityWatch>> Watch(HANDLE wake) override
    {
        if (watchFails)
            return Pd::Platform::Failure(E_FAIL, L"no notifications");
        wake_ = wake;
        ::SetEvent(wake); // the initial notification
        return std::make_unique<Pd::Platform::ConnectivityWatch>();
    }

    void Notify() { ::SetEvent(wake_); }

private:
    HANDLE wake_ = nullptr;
};

// A manifest server: counts loads and offers program version 9.9.9.
struct FakeLoader
{
    std::atomic<int> loads{0};
    bool isSigned = true;

    Pd::Host::UpdateNoticeServices Services(const std::shared_ptr<FakeNetwork>& network)
    {
        return {network, [this](const std::wstring&, std::stop_token) -> Pd::Result<Pd::Core::Manifest> {
                    ++loads;
                    Pd::Core::Manifest manifest;
                    manifest.version = L"1.0";
                    manifest.app = Pd::Core::AppInfo{L"9.9.9", L"https://example.invalid/p.msi", 1, {}, {}};
                    manifest.isSigned = isSigned;
                    return manifest;
                }};
    }
};

class UpdateNoticesTest : public ::testing::Test
{
protected:
    UpdateNoticesTest()
    {
        Pd::Core::WriteUserString(L"Source", L"custom");
        Pd::Core::WriteUserString(L"CustomManifest", L"http://127.0.0.1:9/manifest.json");
    }

    PdTest::UserValues values_{{L"UpdateCheck", L"UpdateChecked", L"UpdateApp", L"UpdateRelease", L"Source",
                                L"CustomManifest", L"InstallFolder"}};
    std::shared_ptr<FakeNetwork> network_ = std::make_shared<FakeNetwork>();
    FakeLoader loader_;
    Pd::Test::LogCapture log_;
};

TEST_F(UpdateNoticesTest, NoManifestIsFetchedUnlessChecksAreOnDueAndTheHintSaysInternet)
{
    struct Case
    {
        const char* name;
        std::optional<std::uint32_t> updateCheck;
        std::wstring checked;
        ConnectivityLevel level;
        bool hintFails;
        std::wstring customManifest;
        bool fetched;
    };
    const std::wstring recent = std::to_wstring(Now() - 60);
    const std::wstring old = std::to_wstring(Now() - 72000);
    const std::wstring url = L"http://127.0.0.1:9/manifest.json";
    for (const Case& c : {
             Case{"due", std::nullopt, old, ConnectivityLevel::InternetAccess, false, url, true},
             Case{"checks on", 1, L"", ConnectivityLevel::InternetAccess, false, url, true},
             Case{"checks off", 0, L"", ConnectivityLevel::InternetAccess, false, url, false},
             Case{"checked an hour ago", std::nullopt, recent, ConnectivityLevel::InternetAccess, false, url,
                  false},
             Case{"local access", std::nullopt, L"", ConnectivityLevel::LocalAccess, false, url, false},
             Case{"constrained", std::nullopt, L"", ConnectivityLevel::ConstrainedInternetAccess, false, url,
                  false},
             Case{"offline", std::nullopt, L"", ConnectivityLevel::None, false, url, false},
             Case{"unknown", std::nullopt, L"", ConnectivityLevel::Unknown, false, url, false},
             Case{"no hint", std::nullopt, L"", ConnectivityLevel::InternetAccess, true, url, false},
             Case{"no address", std::nullopt, L"", ConnectivityLevel::InternetAccess, false, L"", false},
         })
    {
        ::RegDeleteKeyValueW(HKEY_CURRENT_USER, Pd::Core::SettingsKey, L"UpdateCheck");
        if (c.updateCheck)
            Pd::Core::WriteUserDword(L"UpdateCheck", *c.updateCheck);
        Pd::Core::WriteUserString(L"UpdateChecked", c.checked);
        Pd::Core::WriteUserString(L"CustomManifest", c.customManifest);
        network_->level = c.level;
        network_->fails = c.hintFails;
        loader_.loads = 0;
        Pd::Host::RunUpdateCheck(loader_.Services(network_), {});
        EXPECT_EQ(loader_.loads, c.fetched ? 1 : 0) << c.name;
    }
}

TEST_F(UpdateNoticesTest, ANewVersionIsLoggedOnceAndAnUnsignedManifestChangesNothing)
{
    loader_.isSigned = false;
    Pd::Host::RunUpdateCheck(loader_.Services(network_), {});
    EXPECT_EQ(loader_.loads, 1);
    EXPECT_FALSE(PdTest::UserValues::Text(L"UpdateChecked"));
    EXPECT_FALSE(PdTest::UserValues::Text(L"UpdateApp"));

    loader_.isSigned = true;
    Pd::Host::RunUpdateCheck(loader_.Services(network_), {});
    EXPECT_EQ(PdTest::UserValues::Text(L"UpdateApp"), L"9.9.9");
    EXPECT_EQ(log_.Count("host: Peldra 9.9.9 is available"), 1u);

    // The same versions found again: the time is written anew, nothing is logged.
    Pd::Core::WriteUserString(L"UpdateChecked", L"");
    Pd::Host::RunUpdateCheck(loader_.Services(network_), {});
    EXPECT_EQ(loader_.loads, 3);
    EXPECT_NE(PdTest::UserValues::Text(L"UpdateChecked").value_or(L""), L"");
    EXPECT_EQ(log_.Count("is available"), 1u) << log_.Dump();
}

bool WaitUntil(const std::function<bool()>& condition)
{
    for (int i = 0; i < 500 && !condition(); ++i)
        std::this_thread::sleep_for(10ms);
    return condition();
}

TEST_F(UpdateNoticesTest, ChecksAtStartAndThenOnlyWhenWindowsNotifiesAChange)
{
    network_->level = ConnectivityLevel::LocalAccess;
    auto services = loader_.Services(network_);
    std::jthread notices([&](std::stop_token stop) { Pd::Host::RunUpdateNotices(stop, services); });
    ASSERT_TRUE(WaitUntil([&] { return network_->reads == 1; }));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(network_->reads, 1); // no timer: a network that stays as it is is not asked again

    network_->level = ConnectivityLevel::InternetAccess;
    network_->Notify();
    ASSERT_TRUE(WaitUntil([&] { return loader_.loads == 1; }));
    notices.request_stop();
    notices.join(); // returns once stop is requested
}

TEST_F(UpdateNoticesTest, WithoutNotificationsOneCheckRunsAtStart)
{
    network_->watchFails = true;
    auto services = loader_.Services(network_);
    std::jthread notices([&](std::stop_token stop) { Pd::Host::RunUpdateNotices(stop, services); });
    EXPECT_TRUE(WaitUntil([&] { return loader_.loads == 1; }));
}

} // namespace
