#include "host/notices/UpdateNotices.h"

#include "tests/release/UserValues.h"
#include "tests/support/HangLimit.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace
{

using Pd::Platform::ConnectivityLevel;
using namespace std::chrono_literals;

TEST(UpdateCheckDue, OnlyARecentPastTimeOfDigitsDefersTheCheck)
{
    constexpr std::uint64_t now = 1'800'000'000;
    for (auto [checked, due] : std::initializer_list<std::pair<std::wstring, bool>>{
             {std::to_wstring(now - 71999), false},
             {std::to_wstring(now - 72000), true},
             {std::to_wstring(now + 1), true}, // clock set back
             {L"", true},
             {L"17999x0000", true},
             {L"99999999999999999999999", true}, // would overflow
         })
        EXPECT_EQ(Pd::Host::UpdateCheckDue(checked, now), due) << checked.size();
}

// The connectivity hint as the test sets it (none: the hint fails); Notify() is Windows' notice.
class FakeNetwork final : public Pd::Platform::NetworkConnectivity
{
public:
    std::atomic<std::optional<ConnectivityLevel>> level{ConnectivityLevel::InternetAccess};
    std::atomic<int> reads{0};

    Pd::Platform::Outcome<ConnectivityLevel> Level() override
    {
        ++reads;
        if (auto now = level.load())
            return *now;
        return Pd::Platform::Failure(E_FAIL, L"no hint");
    }
    Pd::Platform::Outcome<std::unique_ptr<Pd::Platform::ConnectivityWatch>> Watch(HANDLE wake) override
    {
        ::SetEvent(wake_ = wake); // the initial notification
        return std::make_unique<Pd::Platform::ConnectivityWatch>();
    }
    void Notify() { ::SetEvent(wake_); }

private:
    HANDLE wake_ = nullptr;
};

// Each check against a manifest server that offers program version 9.9.9.
class UpdateNoticesTest : public ::testing::Test
{
protected:
    UpdateNoticesTest()
    {
        Pd::Core::WriteUserString(L"Source", L"custom");
        Pd::Core::WriteUserString(L"CustomManifest", L"http://127.0.0.1:9/manifest.json");
    }

    Pd::Host::UpdateNoticeServices Services()
    {
        return {network_, [this](const std::wstring&, std::stop_token) -> Pd::Result<Pd::Core::Manifest> {
                    ++loads_;
                    Pd::Core::Manifest manifest;
                    manifest.app = Pd::Core::AppInfo{L"9.9.9", L"https://example.invalid/p.msi", 1, {}, {}};
                    manifest.isSigned = signed_;
                    return manifest;
                }};
    }

    static bool WaitUntil(const std::function<bool()>& condition)
    {
        const auto deadline = std::chrono::steady_clock::now() + Pd::Test::HangLimit;
        while (!condition() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        return condition();
    }

    PdTest::UserValues values_{{L"UpdateCheck", L"UpdateChecked", L"UpdateApp", L"UpdateRelease", L"Source",
                                L"CustomManifest", L"InstallFolder"}};
    std::shared_ptr<FakeNetwork> network_ = std::make_shared<FakeNetwork>();
    std::atomic<int> loads_{0};
    bool signed_ = true;
    Pd::Test::LogCapture log_;
};

TEST_F(UpdateNoticesTest, NoManifestIsFetchedUnlessChecksAreOnDueAndTheHintSaysInternet)
{
    struct Case
    {
        const char* name;
        std::uint32_t updateCheck;
        std::wstring checked;
        std::optional<ConnectivityLevel> level;
        std::wstring address;
        bool fetched;
    };
    const std::wstring url = L"http://127.0.0.1:9/manifest.json";
    const auto internet = ConnectivityLevel::InternetAccess;
    const auto hourAgo = std::to_wstring(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count() -
        3600);
    for (const Case& c : {
             Case{"due", 1, L"", internet, url, true},
             Case{"checks off", 0, L"", internet, url, false},
             Case{"checked an hour ago", 1, hourAgo, internet, url, false},
             Case{"local access", 1, L"", ConnectivityLevel::LocalAccess, url, false},
             Case{"constrained", 1, L"", ConnectivityLevel::ConstrainedInternetAccess, url, false},
             Case{"offline", 1, L"", ConnectivityLevel::None, url, false},
             Case{"no hint", 1, L"", std::nullopt, url, false},
             Case{"no address", 1, L"", internet, L"", false},
         })
    {
        Pd::Core::WriteUserDword(L"UpdateCheck", c.updateCheck);
        Pd::Core::WriteUserString(L"UpdateChecked", c.checked);
        Pd::Core::WriteUserString(L"CustomManifest", c.address);
        network_->level = c.level;
        loads_ = 0;
        Pd::Host::RunUpdateCheck(Services(), {});
        EXPECT_EQ(loads_, c.fetched ? 1 : 0) << c.name;
    }
}

TEST_F(UpdateNoticesTest, ANewVersionIsLoggedOnceAndAnUnsignedManifestChangesNothing)
{
    signed_ = false;
    Pd::Host::RunUpdateCheck(Services(), {});
    EXPECT_FALSE(PdTest::UserValues::Text(L"UpdateChecked"));

    signed_ = true;
    Pd::Host::RunUpdateCheck(Services(), {});
    EXPECT_EQ(log_.Count("host: Peldra 9.9.9 is available"), 1u);

    // The same versions found again: the time is written anew, nothing is logged.
    Pd::Core::WriteUserString(L"UpdateChecked", L"");
    Pd::Host::RunUpdateCheck(Services(), {});
    EXPECT_EQ(loads_, 3);
    EXPECT_NE(PdTest::UserValues::Text(L"UpdateChecked").value_or(L""), L"");
    EXPECT_EQ(log_.Count("is available"), 1u) << log_.Dump();
}

TEST_F(UpdateNoticesTest, ChecksAtStartAndThenOnlyWhenWindowsNotifiesAChange)
{
    network_->level = ConnectivityLevel::LocalAccess;
    std::jthread notices([this](std::stop_token stop) { Pd::Host::RunUpdateNotices(stop, Services()); });
    ASSERT_TRUE(WaitUntil([&] { return network_->reads == 1; }));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(network_->reads, 1); // no timer: a network that stays as it is is not asked again

    network_->level = ConnectivityLevel::InternetAccess;
    network_->Notify();
    EXPECT_TRUE(WaitUntil([&] { return loads_ == 1; }));
}

} // namespace
