// The Windows report and the lookup of Tovik's package, on simulated PCs and on Wine itself.
#include "release/windows/WindowsInfo.h"
#include "release/windows/Packages.h"

#include "tests/release/Helpers.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace
{

using Pd::Core::WindowsInfo;
using Pd::Core::WindowsText;
using Pd::Install::FindInstalledPackage;
using Pd::Install::FindPackageUsers;
using Pd::Install::OtherDevelopmentPackages;
using PdTest::StrangerUser;
using PdTest::TovikPackage;

const std::wstring Stranger = Pd::Core::FromUtf8(PdTest::Stranger);
const std::string OtherStrangerUser = R"("S-1-5-21-1111111111-2222222222-3333333333-1002")";

std::string Packages(const std::string& packages, std::string_view extra = "")
{
    return "{" + PdTest::PackagesMember(packages).substr(2) + std::string(extra) + "}";
}

TEST(FindInstalledPackage, DescribesOnlyTheCurrentAccountsCompleteRegistrationOfExactlyToviksFamily)
{
    const std::string noLocation =
        R"({"name": "TovikPackage", "publisherId": "tv9kp7a3nqe2r", "users": ["current"]})";
    const std::string otherCase =
        R"({"name": "tovikpackage", "publisherId": "tv9kp7a3nqe2r", "installLocation": "C:\\x", "users": ["current"]})";
    const std::pair<std::string, std::optional<bool>> cases[] = {
        // the development mode when found
        {TovikPackage(L"C:\\Tovik", R"("current")", R"(, "developmentMode": true)"), true},
        {TovikPackage(L"C:\\Tovik"), false}, // from the Store
        {otherCase, std::nullopt},
        {TovikPackage(L"C:\\Tovik", StrangerUser), std::nullopt},
        {noLocation, std::nullopt}, // never a partly filled record
    };
    for (const auto& [package, developmentMode] : cases)
    {
        Pd::Test::SimScenario scenario(Packages(package));
        auto found = FindInstalledPackage();
        ASSERT_EQ(found.has_value(), developmentMode.has_value()) << package;
        if (!found)
            continue;
        EXPECT_EQ(found->fullName, L"TovikPackage_2.0.0.0_x64__tv9kp7a3nqe2r");
        EXPECT_EQ(found->version, L"2.0.0.0") << "four parts, also when the last are zero";
        EXPECT_EQ(found->installLocation, L"C:\\Tovik");
        EXPECT_EQ(found->developmentMode, *developmentMode);
    }
    // This build has no Windows Runtime binding: without simulation there is no package manager.
    EXPECT_FALSE(FindInstalledPackage());
    EXPECT_FALSE(FindPackageUsers());
    EXPECT_TRUE(OtherDevelopmentPackages().empty());
}

TEST(FindPackageUsers, NamesTheFirstOtherAccountUnlessTheCurrentOneHoldsTovikToo)
{
    struct Case
    {
        std::string package;
        std::optional<std::wstring> account;
        std::wstring location;
    };
    const Case cases[] = {
        {TovikPackage(L"C:\\Tovik", StrangerUser + R"(, "current")"), std::nullopt, L""},
        {TovikPackage(L"C:\\Tovik", StrangerUser), Stranger, L"C:\\Tovik"}, // no such account: its SID
        {TovikPackage(L"C:\\Tovik", OtherStrangerUser + ", " + StrangerUser),
         L"S-1-5-21-1111111111-2222222222-3333333333-1002", L"C:\\Tovik"},
        {R"({"name": "TovikPackage", "publisherId": "tv9kp7a3nqe2r", "users": [)" + StrangerUser + "]}",
         Stranger, L""},
    };
    for (const Case& c : cases)
    {
        Pd::Test::SimScenario scenario(Packages(c.package));
        auto user = FindPackageUsers();
        ASSERT_EQ(user.has_value(), c.account.has_value()) << c.package;
        if (user)
        {
            EXPECT_EQ(user->account, *c.account);
            EXPECT_EQ(user->installLocation, c.location);
        }
    }
}

TEST(OtherDevelopmentPackages, ListsOtherFamiliesInDevelopmentModeButNeverTovikAndKeepsWhatAFailingWalkRead)
{
    const std::string first =
        R"({"name":"First","publisherId":"a","developmentMode":true,"users":["current"]})";
    const std::string second =
        R"({"name":"Second","publisherId":"d","developmentMode":true,"users":["current"]})";
    {
        Pd::Test::SimScenario scenario(Packages(
            first + "," + TovikPackage(L"C:\\Tovik", R"("current")", R"(, "developmentMode": true)") + "," +
            R"({"name":"Store","publisherId":"b","developmentMode":false,"users":["current"]},)" +
            R"({"name":"Elsewhere","publisherId":"c","developmentMode":true,"users":["S-1-5-21-1-2-3-4"]},)" +
            second));
        EXPECT_EQ(OtherDevelopmentPackages(), (std::vector<std::wstring>{L"First", L"Second"}));
    }
    Pd::Test::SimScenario scenario(Packages(first + "," + second, R"(,"packageWalkFailsAfter":1)"));
    EXPECT_EQ(OtherDevelopmentPackages(), (std::vector<std::wstring>{L"First"}));
}

TEST(WindowsText, ComposesNameDisplayVersionBuildAndRevision)
{
    struct Case
    {
        std::uint32_t build, ubr;
        const wchar_t* product;
        const wchar_t* display;
        const wchar_t* text;
    };
    for (const Case& c : {
             // Windows 11 still names itself "Windows 10" in the registry: the build decides.
             Case{22000, 1, L"Windows 10", L"", L"Windows 11 (22000.1)"},
             Case{21999, 0, L"Windows 10 Pro", L"22H2", L"Windows 10 Pro 22H2 (21999.0)"},
             // Only a leading "Windows 10", matched with its case.
             Case{22631, 0, L"windows 10 Pro", L"", L"windows 10 Pro (22631.0)"},
             Case{22631, 0, L"Microsoft Windows 10", L"", L"Microsoft Windows 10 (22631.0)"},
             Case{22000, 0, L"", L"", L"Windows (22000.0)"},
         })
    {
        WindowsInfo info;
        info.build = c.build;
        info.ubr = c.ubr;
        info.productName = c.product;
        info.displayVersion = c.display;
        EXPECT_EQ(WindowsText(info), c.text) << Pd::Core::ToUtf8(c.product) << " " << c.build;
    }
}

} // namespace
