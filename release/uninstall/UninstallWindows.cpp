// The uninstall's steps outside the install folder: the Android data, Tovik's leftovers in
// Windows, the Windows features, the bridges' registrations, the program's data and its keys.
#include "core/Handles.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "guest/Vsock.h"
#include "release/base/MachineRecords.h"
#include "release/folders/FileTree.h"
#include "release/folders/Folders.h"
#include "release/install/InstallRun.h"
#include "release/uninstall/UninstallSteps.h"
#include "release/verify/DigestCache.h"
#include "release/windows/Features.h"

#include <windows.h>

#include <fmt/xchar.h>

namespace Pd::Core
{
namespace
{

constexpr int FileRetries = 20;
constexpr int DataFolderRetries = 5;

// Subkeys and values of a key of the current user; none when it cannot be read.
std::optional<std::pair<DWORD, DWORD>> CountUserKey(const wchar_t* key)
{
    UniqueRegKey handle;
    DWORD subkeys = 0;
    DWORD values = 0;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, handle.Put()) != ERROR_SUCCESS ||
        ::RegQueryInfoKeyW(handle.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                           nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return std::nullopt;
    return std::pair{subkeys, values};
}

std::wstring Joined(const std::vector<std::wstring>& names)
{
    std::wstring text;
    for (const std::wstring& name : names)
        text += (text.empty() ? L"" : L", ") + name;
    return text;
}

// A Tovik that this run leaves registered (another folder's, or the Store's).
const std::optional<Install::PackageInfo>& StayingPackage(const UninstallValues& run)
{
    static const std::optional<Install::PackageInfo> none;
    return run.ours ? none : run.package;
}

// A feature that only the per-user value says an install turned on (an older install's, or a
// forged one) is shown, never turned off.
void ShowUnrecorded(const Callbacks& callbacks, RecordedFeature feature, TextId text)
{
    if (ReadUserDword(FeatureValueName(feature)).value_or(0) != 0)
        LogLine(callbacks, Level::Info, Text(text));
}

std::wstring OwnerText(const UninstallValues& run)
{
    return run.other ? fmt::format(L"Tovik ({})", run.other->account) : L"";
}

} // namespace

void RemoveAndroidLeftovers(const Callbacks& callbacks, UninstallValues& run)
{
    if (StayingPackage(run))
    {
        LogLine(callbacks, Level::Warning, Text(TextId::DataKeptForRegisteredTovik));
        return;
    }
    if (PathExists(run.dataFolder))
    {
        const std::uint64_t size = Install::DirectorySize(run.dataFolder);
        if (auto removed = Install::RemoveTree(run.dataFolder, FileRetries); removed)
            LogLine(callbacks, Level::Success,
                    FormatText(TextId::AndroidDataDeleted, run.dataFolder, FormatBytes(size)));
        else
            run.Report(callbacks, removed.error());
    }
    if (run.other)
        return;
    // Entries tied to Tovik only by a path are matched only against what the state file of a
    // folder proven to be the program's recorded, and never in one of Windows' own folders.
    const bool folderIsOurs = (run.ours || run.stateFile) && !IsSystemFolder(run.folder.Path());
    const Install::LeftoverCounts counts = Install::CleanTovikLeftovers(
        folderIsOurs ? OwnedPathsOf(run.folder, run.state) : Install::OwnedPaths{},
        [&](const std::wstring& text) { run.Report(callbacks, text); });
    LogLine(callbacks, Level::Success,
            FormatText(TextId::WindowsEntriesTovikRemoved, counts.shortcuts, counts.registryKeys,
                       counts.registryValues));
}

void SwitchFeaturesOff(const Callbacks& callbacks, UninstallValues& run)
{
    const auto& staying = StayingPackage(run);
    const std::wstring owner = OwnerText(run);
    if (!FeatureRecorded(RecordedFeature::DeveloperMode))
        ShowUnrecorded(callbacks, RecordedFeature::DeveloperMode, TextId::DeveloperModeNotRecorded);
    else
    {
        if (!owner.empty())
            LogLine(callbacks, Level::Info, FormatText(TextId::DeveloperModeStaysOn, owner));
        else if (staying && staying->developmentMode)
            // Tovik registered from another folder is an unpacked app too, and needs developer mode.
            LogLine(callbacks, Level::Info,
                    FormatText(TextId::DeveloperModeStaysOn, fmt::format(L"Tovik {}", staying->version)));
        else if (auto others = Install::OtherDevelopmentPackages(); !others.empty())
            LogLine(callbacks, Level::Info, FormatText(TextId::DeveloperModeStaysOn, Joined(others)));
        else if (auto off = DisableDeveloperMode(); off)
        {
            ForgetFeature(RecordedFeature::DeveloperMode);
            LogLine(callbacks, Level::Success, Text(TextId::DeveloperModeTurnedOff));
        }
        else
            run.Report(callbacks, off.error());
    }

    if (!FeatureRecorded(RecordedFeature::VirtualMachinePlatform))
        ShowUnrecorded(callbacks, RecordedFeature::VirtualMachinePlatform,
                       TextId::VirtualMachinePlatformNotRecorded);
    else
    {
        const auto lxss = CountUserKey(L"Software\\Microsoft\\Windows\\CurrentVersion\\Lxss");
        if (lxss && lxss->first > 0)
            LogLine(callbacks, Level::Info, FormatText(TextId::VirtualMachinePlatformStays, L"WSL"));
        else if (!owner.empty())
            LogLine(callbacks, Level::Info, FormatText(TextId::VirtualMachinePlatformStays, owner));
        else if (staying)
            LogLine(
                callbacks, Level::Info,
                FormatText(TextId::VirtualMachinePlatformStays, fmt::format(L"Tovik {}", staying->version)));
        else if (auto off =
                     DisableVmp([&](const std::wstring& line) { LogLine(callbacks, Level::Info, line); });
                 off)
        {
            ForgetFeature(RecordedFeature::VirtualMachinePlatform);
            run.outcome.restartNeeded = *off;
            LogLine(callbacks, Level::Success, Text(TextId::VirtualMachinePlatformDisabledAgain));
        }
        else
            run.Report(callbacks, off.error());
    }
}

void RemoveBridgesAndData(const Callbacks& callbacks, const Detail::UninstallSetting& setting,
                          UninstallValues& run)
{
    const bool bluetoothRemoved = Guest::RemoveVsockService(Guest::BluetoothServiceId);
    const bool helloRemoved = Guest::RemoveVsockService(Guest::HelloServiceId);
    bool dataRemoved = false;
    if (PathExists(setting.programDataFolder))
    {
        if (auto removed = Install::RemoveTree(setting.programDataFolder, DataFolderRetries); removed)
            dataRemoved = true;
        else
            run.Report(callbacks, removed.error());
    }
    if (run.hostRan || run.taskExisted || bluetoothRemoved || helloRemoved || dataRemoved)
        LogLine(callbacks, Level::Success, Text(TextId::BridgesStoppedAndRemoved));
}

// Each deletion's result is ignored (a key with subkeys stays).
void DeleteProgramKeys(const Callbacks& callbacks)
{
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, DigestCacheKey);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, DigestCacheKey);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, SettingsKey);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Ormel");

    if (::RegDeleteTreeW(HKEY_CURRENT_USER, SettingsKey) == ERROR_SUCCESS)
    {
        ::RegDeleteKeyW(HKEY_CURRENT_USER, SettingsKey);
        LogLine(callbacks, Level::Success, FormatText(TextId::SettingsRemoved, std::wstring(SettingsKey)));
    }
    const auto vendor = CountUserKey(L"Software\\Ormel").value_or(std::pair<DWORD, DWORD>{1, 1});
    if (vendor.first == 0 && vendor.second == 0)
        ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Ormel");
}

} // namespace Pd::Core
