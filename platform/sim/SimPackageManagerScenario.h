// The scenario's keys of the package manager (SimPackageManager.cpp):
//
//   "packages": [                         // registered packages, in enumeration order
//     {
//       "name": "TovikPackage", "publisherId": "...", "version": "1.2.3.4",
//       "architecture": "x64", "installLocation": "C:\\Tovik",   // absent: unreadable
//       "developmentMode": true,
//       "users": ["current", "S-1-5-21-..."], // accounts holding it; "current" is this one
//       "keepsRegistration": true         // registering its name from another folder fails
//     }
//   ],
//   "packageWalkFailsAfter": 2,          // package walks fail after this many packages
//   "publisherIds": { "CN=Ormel": "tv9kp7a3nqe2r" },  // publisher -> id of registered packages
//   "deploymentFailures": {              // these deployments fail with this HRESULT
//     "add": "0x80073CF9", "register": "0x80073CF6", "remove": "0x80073CFA"
//   },
//   "appSettings": {                     // local settings values per package family
//     "TovikPackage_tv9kp7a3nqe2r": { "DeveloperModeEnabled": true }
//   }
//
// While the folder holds a file named deployments.hold, every deployment waits before it changes
// anything (a test ends a run there, then removes the file).
// Deployments keep the changed package list in state.json ("packages", the scenario's form),
// which from then on stands in for the scenario's; settings values likewise ("appSettings").
// A registration reads the Identity element (Name, Publisher, Version, ProcessorArchitecture)
// and the PackageDependency elements of the AppxManifest.xml it is given; a simulated package
// file (.appx) holds the text of its manifest. A publisher without an entry in "publisherIds"
// gets the first 13 hexadecimal digits of the SHA-256 of its name as its id.
#pragma once

#include "core/Json.h"
#include "core/Result.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Pd::Platform::Sim
{

struct ScenarioPackage
{
    std::wstring name;
    std::wstring publisherId;
    std::uint16_t version[4] = {};
    std::wstring architecture = L"x64";
    std::optional<std::wstring> installLocation;
    bool developmentMode = false;
    std::vector<std::wstring> users; // SIDs as text, or "current"
    bool keepsRegistration = false;
};

// One entry of "packages", read and written in the same form (state.json keeps the list).
Pd::Result<ScenarioPackage> ParsePackage(const Json::Value& entry);
Json::Value PackageJson(const ScenarioPackage& package);

Pd::Result<> ReadPackages(const Json::Value& list, std::vector<ScenarioPackage>& target);
Pd::Result<> ReadPackageWalkFailsAfter(const Json::Value& failsAfter, std::optional<std::size_t>& target);
Pd::Result<> ReadPublisherIds(const Json::Value& ids, std::map<std::wstring, std::wstring>& target);

// "add", "register" or "remove" -> the HRESULT that deployment fails with.
Pd::Result<> ReadDeploymentFailures(const Json::Value& failures, std::map<std::wstring, HRESULT>& target);

// Package family -> object of values.
Pd::Result<> ReadAppSettings(const Json::Value& settings, Json::Value& target);

} // namespace Pd::Platform::Sim
