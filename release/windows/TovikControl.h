// Acting on a registered Tovik without installing anything: asking it to shut down through its
// client executable, stopping its virtual machine, giving its app settings their first values,
// and opening an Android activity (the settings or the store) in it.
#pragma once

#include "core/Result.h"
#include "guest/AndroidVm.h"
#include "release/base/Callbacks.h"

#include <stop_token>
#include <string>
#include <string_view>

namespace Pd::Install
{

// The Android components that a launch opens.
inline constexpr const wchar_t* SettingsTarget = L"com.android.settings";
inline constexpr const wchar_t* StoreTarget = L"com.android.vending";

// The top-level "variant" of an installed release.json; empty when the file holds none or is
// no JSON document.
std::wstring ReleaseVariant(std::string_view releaseJson);

// The client's app execution alias of the current account when anything exists there, else
// empty: Local AppData\Microsoft\WindowsApps\<family name>\TovikClient.exe. It lies in a folder
// the user can write: it is only ever started with the user's normal rights.
std::wstring TovikClientAlias();

// Asks the client to shut Tovik down ("<alias> /shutdown"), started with the user's normal rights
// through the desktop shell, in the working folder when that is an existing folder. False when
// there is no alias or it was not started. Does not wait.
bool RequestTovikShutdown(const std::wstring& workingFolder);

// When the current account's Tovik VM runs: asks for its shutdown and waits up to 60 s for the VM
// to end. Silent when no VM of the account runs or no request could be started.
void ShutdownTovik(const std::wstring& workingFolder, const Core::LogText& log);

// Stops the current account's Tovik: its own shutdown first, then the VM is ended after the
// wait. Not running when the account has no Tovik, whatever VM another account runs. A stop
// request ends the waits (Guest::StopAndroidVm).
Guest::VmStop Stop(std::stop_token stop = {});

// Gives the package's "DeveloperModeEnabled" and "OptionalDiagnosticDataEnabled" the value false
// unless they already hold a value; every failure is silent.
void SeedTovikSettings();

// Opens "tovik://<target>" through the client alias, or else the address itself, both with the
// user's normal rights through the desktop shell (never through this process's file
// associations: the user's own could name any program).
Result<> LaunchTovikUri(const std::wstring& workingFolder, const std::wstring& target);

// Android's store when the installed release's variant names "Google", else its settings.
Result<> OpenTovikStore();
Result<> OpenTovikSettings();

} // namespace Pd::Install
