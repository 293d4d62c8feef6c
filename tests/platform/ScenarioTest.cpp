#include "platform/sim/Scenario.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Platform::Sim::ParseScenario;

Pd::Result<Pd::Platform::Sim::Scenario> Parse(const wchar_t* text)
{
    auto document = Pd::Json::Parser(text).Parse();
    EXPECT_TRUE(document) << (document ? "" : std::string(document.error().begin(), document.error().end()));
    return ParseScenario(*document);
}

TEST(Scenario, AnEmptyObjectIsAPcWithoutVmServicesPackagesAdapterOrTrust)
{
    auto scenario = Parse(L"{}");
    ASSERT_TRUE(scenario);
    EXPECT_TRUE(scenario->computeSystems.empty());
    EXPECT_TRUE(scenario->services.empty());
    EXPECT_TRUE(scenario->packages.empty());
    EXPECT_FALSE(scenario->windows.virtualMachinePlatform);
    EXPECT_EQ(scenario->bluetooth.adapter, 0u);
    EXPECT_TRUE(scenario->trust.publisher.empty()) << "nobody is trusted unless the scenario says";
    EXPECT_FALSE(Parse(L"[]")) << "the document must be an object";
}

TEST(Scenario, ReadsServicesByHexadecimalPortTheAdapterAndTrust)
{
    auto scenario =
        Parse(LR"({"services":{"544B4254":50123,"0x544b4650":1},"bluetooth":{"adapter":"a0B1c2D3e4F5"},
        "trust":{"publisher":"Test Leaf","rootPrefix":"Test Root","rootKeys":["aa","bb"]},
        "windows":{"dismExitCode":3010}})");
    ASSERT_TRUE(scenario) << scenario.error();
    EXPECT_EQ(scenario->services.at(0x544B4254), 50123);
    EXPECT_EQ(scenario->services.at(0x544B4650), 1);
    EXPECT_EQ(scenario->bluetooth.adapter, 0xA0B1C2D3E4F5u);
    EXPECT_EQ(scenario->trust.publisher, L"Test Leaf");
    EXPECT_EQ(scenario->trust.rootPrefix, L"Test Root");
    EXPECT_EQ(scenario->trust.rootKeys, (std::vector<std::wstring>{L"aa", L"bb"}));
    EXPECT_EQ(scenario->windows.dismExitCode, 3010u);
}

TEST(Scenario, AWrongValueNamesItsKey)
{
    struct Case
    {
        const wchar_t* json;
        const wchar_t* key;
    };
    for (const Case& c : {
             Case{LR"({"windows":{"build":"22631"}})", L"\"build\""},
             Case{LR"({"windows":{"virtualMachinePlatform":1}})", L"\"virtualMachinePlatform\""},
             Case{LR"({"computeSystems":[{"terminate":"sometimes"}]})", L"\"terminate\""},
             Case{LR"({"computeSystems":[7]})", L"\"computeSystems\""},
             Case{LR"({"services":{"TK":5}})", L"\"services\""},
             Case{LR"({"services":{"544B4254":70000}})", L"\"services\""},
             Case{LR"({"packages":[{"version":"1.2.3"}]})", L"\"version\""},
             Case{LR"({"packages":[{"version":"1.2.3.65536"}]})", L"\"version\""},
             Case{LR"({"packages":[{"users":[1]}]})", L"\"users\""},
             Case{LR"({"bluetooth":{"adapter":"001A7DDA711"}})", L"\"adapter\""},
             Case{LR"({"bluetooth":{"adapter":"001A7DDA711G"}})", L"\"adapter\""},
             Case{LR"({"windows":{"dismExitCode":-1}})", L"\"dismExitCode\""},
             Case{LR"({"bluetooth":{"advertisers":[{"address":"12"}]}})", L"\"address\""},
             Case{LR"({"bluetooth":{"advertisers":[{"rssi":-32769}]}})", L"\"rssi\""},
             Case{LR"({"bluetooth":{"advertisers":[{"rssi":"-60"}]}})", L"\"rssi\""},
             Case{LR"({"bluetooth":{"advertisers":[{"type":256}]}})", L"\"type\""},
             Case{LR"({"bluetooth":{"advertisers":[{"everyMs":0}]}})", L"\"everyMs\""},
             Case{LR"({"bluetooth":{"advertisers":[{"sections":[{"type":256}]}]}})", L"\"type\""},
             Case{LR"({"bluetooth":{"advertisers":[{"sections":[{"hex":"ABC"}]}]}})", L"\"hex\""},
             Case{LR"({"bluetooth":{"advertisers":[{"sections":[{"hex":"0x"}]}]}})", L"\"hex\""},
             Case{LR"({"bluetooth":{"advertisers":[{"sections":[{"hex":"G0"}]}]}})", L"\"hex\""},
             Case{LR"({"trust":{"publisher":1}})", L"\"publisher\""},
             Case{LR"({"trust":{"rootKeys":"89fe"}})", L"\"rootKeys\""},
             Case{LR"({"trust":{"rootKeys":[1]}})", L"\"rootKeys\""},
             Case{LR"({"deploymentFailures":{"install":"0x80073CF6"}})", L"\"deploymentFailures\""},
             Case{LR"({"deploymentFailures":{"add":"0x00000001"}})", L"\"deploymentFailures\""},
             Case{LR"({"publisherIds":{"CN=x":1}})", L"\"publisherIds\""},
             Case{LR"({"appSettings":[]})", L"\"appSettings\""},
             Case{LR"({"hello":true})", L"\"hello\""},
             Case{LR"({"hello":{"result":"maybe"}})", L"\"result\""},
             Case{LR"({"hello":{"availability":-1}})", L"\"availability\""},
             Case{LR"({"hello":{"promptMs":"1000"}})", L"\"promptMs\""},
             Case{LR"({"cellular":[]})", L"\"cellular\""},
             Case{LR"({"cellular":{"acquire":"sometimes"}})", L"\"acquire\""},
             Case{LR"({"cellular":{"acquire":"0x8007"}})", L"\"acquire\""},
             Case{LR"({"cellular":{"adapter":"eth0"}})", L"\"adapter\""},
             Case{LR"({"cellular":{"names":{"mms.example":"127.0.0.1"}}})", L"\"names\""},
         })
    {
        auto scenario = Parse(c.json);
        ASSERT_FALSE(scenario) << c.json;
        EXPECT_NE(scenario.error().find(c.key), std::wstring::npos) << scenario.error();
    }
}

TEST(Scenario, HelloIsAbsentDeviceUnlessNamedAndThenWorksUnlessItsKeysSayOtherwise)
{
    auto without = Parse(L"{}");
    ASSERT_TRUE(without);
    EXPECT_EQ(without->hello.availability.value, 1u);
    EXPECT_EQ(without->hello.result.value, 1u);
    auto with = Parse(LR"({"hello":{"result":"fails","promptMs":250}})");
    ASSERT_TRUE(with) << with.error();
    EXPECT_EQ(with->hello.availability.value, 0u);
    EXPECT_FALSE(with->hello.availability.fails);
    EXPECT_TRUE(with->hello.result.fails);
    EXPECT_EQ(with->hello.promptMs, 250u);
}

TEST(Scenario, DeploymentKeysReadFailuresPublishersAndAPackageThatKeepsItsRegistration)
{
    auto scenario = Parse(LR"({"deploymentFailures":{"register":"0x80073CF6","remove":2147958010},
        "publisherIds":{"CN=Ormel":"tv9kp7a3nqe2r"},"packages":[{"name":"p","keepsRegistration":true}]})");
    ASSERT_TRUE(scenario) << scenario.error();
    EXPECT_EQ(scenario->deploymentFailures.at(L"register"), static_cast<HRESULT>(0x80073CF6));
    EXPECT_EQ(scenario->deploymentFailures.at(L"remove"), static_cast<HRESULT>(0x80073CFA));
    EXPECT_EQ(scenario->publisherIds.at(L"CN=Ormel"), L"tv9kp7a3nqe2r");
    ASSERT_EQ(scenario->packages.size(), 1u);
    EXPECT_TRUE(scenario->packages[0].keepsRegistration);
    // A package written back to state.json reads as it was.
    auto again = Pd::Platform::Sim::ParsePackage(Pd::Platform::Sim::PackageJson(scenario->packages[0]));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->name, L"p");
    EXPECT_TRUE(again->keepsRegistration);
    EXPECT_FALSE(again->installLocation) << "an unreadable location stays unreadable";
}

} // namespace

namespace
{

TEST(ScenarioGatt, HandlesWithoutANumberFollowWhatPrecedesThemAsAServerNumbersThem)
{
    auto scenario = Parse(LR"({"bluetooth":{"devices":[{"address":"C0FFEE000001","random":true,
        "services":[
          {"uuid":"180F","characteristics":[
             {"uuid":"2A19","properties":18,"descriptors":[{"uuid":"2902"},{"uuid":"2901"}]},
             {"uuid":"2A1A"}]},
          {"uuid":"F000AA00-0451-4000-B000-000000000000","handle":32,"status":3,
           "characteristics":[{"uuid":"2A00","handle":40},{"uuid":"2A01"}]}]}]}})");
    ASSERT_TRUE(scenario) << scenario.error();
    ASSERT_EQ(scenario->bluetooth.devices.size(), 1u);
    const auto& device = scenario->bluetooth.devices[0];
    EXPECT_EQ(device.address, 0xC0FFEE000001u);
    EXPECT_TRUE(device.random);
    ASSERT_EQ(device.services.size(), 2u);
    const auto& battery = device.services[0];
    EXPECT_EQ(battery.handle, 1);
    EXPECT_EQ(battery.uuid.Data1, 0x180Fu);
    EXPECT_EQ(battery.uuid.Data3, 0x1000);
    EXPECT_EQ(battery.uuid.Data4[7], 0xFB);
    ASSERT_EQ(battery.characteristics.size(), 2u);
    EXPECT_EQ(battery.characteristics[0].handle, 2); // value at 3
    EXPECT_EQ(battery.characteristics[0].properties, 18u);
    EXPECT_EQ(battery.characteristics[0].descriptors[0].handle, 4);
    EXPECT_EQ(battery.characteristics[0].descriptors[1].handle, 5);
    EXPECT_EQ(battery.characteristics[1].handle, 6);
    const auto& vendor = device.services[1];
    EXPECT_EQ(vendor.handle, 32);
    EXPECT_EQ(vendor.status, 3);
    EXPECT_EQ(vendor.uuid.Data1, 0xF000AA00u);
    EXPECT_EQ(vendor.characteristics[1].handle, 42);
}

TEST(ScenarioGatt, AWrongDeviceValueNamesItsKey)
{
    struct Case
    {
        const wchar_t* json;
        const wchar_t* key;
    };
    for (const Case& c : {
             Case{LR"({"bluetooth":{"devices":{}}})", L"\"devices\""},
             Case{LR"({"bluetooth":{"devices":[{"services":[{"uuid":"18"}]}]}})", L"\"uuid\""},
             Case{LR"({"bluetooth":{"devices":[{"services":[{"uuid":"180F","handle":0}]}]}})", L"\"handle\""},
             Case{LR"({"bluetooth":{"devices":[{"services":[{"uuid":"180F","handle":65535,
                 "characteristics":[{"uuid":"2A19"}]}]}]}})",
                  L"\"handle\""},
             Case{LR"({"bluetooth":{"devices":[{"servicesError":"0"}]}})", L"\"servicesError\""},
             Case{LR"({"bluetooth":{"devices":[{"services":[{"uuid":"180F","characteristics":[7]}]}]}})",
                  L"\"characteristics\""},
         })
    {
        auto scenario = Parse(c.json);
        ASSERT_FALSE(scenario) << std::wstring(c.json);
        EXPECT_NE(scenario.error().find(c.key), std::wstring::npos) << scenario.error();
    }
}

} // namespace
