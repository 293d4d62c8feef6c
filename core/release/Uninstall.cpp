#include "core/release/Uninstall.h"

#include "core/DataFolder.h"
#include "core/Handles.h"
#include "core/InstallFolder.h"
#include "core/Module.h"
#include "core/Paths.h"
#include "core/release/DigestCache.h"
#include "core/release/Features.h"
#include "core/release/FileTree.h"
#include "core/release/Folders.h"
#include "core/release/InstalledMsi.h"
#include "core/release/InstallRun.h"
#include "core/release/Leftovers.h"
#include "core/release/PackageDeployment.h"
#include "core/release/RunLock.h"
#include "core/release/SettingsShortcut.h"
#include "core/release/TovikControl.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "guest/Vsock.h"
#include "host/controls/HostControl.h"
#include "host/controls/HostObjects.h"
#include "host/controls/ScheduledTask.h"

#include <windows.h>

#include <shlobj.h>

#include <fmt/xchar.h>

#include <optional>

namespace Pd::Core
{
namespace
{

constexpr std::uint32_t BluetoothService = 0x544B4254;
constexpr std::uint32_t HelloService = 0x544B4650;
constexpr DWORD ShutdownWaitMs = 60000;
constexpr int FileRetries = 20;
constexpr int DataFolderRetries = 5;

void Stage(const Callbacks& callbacks, std::uint32_t text, std::int32_t position = -1)
{
    if (callbacks.progress)
        callbacks.progress(Progress{Text(text), position});
}

bool Exists(const std::wstring& path)
{
    return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The per-user DWORD the install left; none when it is missing or of another type.
std::optional<DWORD> ReadUserDword(const wchar_t* name)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, SettingsKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

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

// The Windows features go back off only where nothing else needs them.
void SwitchFeaturesOff(const Callbacks& callbacks, RemovalOutcome& outcome,
                       const Install::FailureReporter& report,
                       const std::optional<Install::PackageInfo>& stayingPackage, const std::wstring& owner)
{
    if (ReadUserDword(L"EnabledDeveloperMode").value_or(0) != 0)
    {
        if (!owner.empty())
            LogLine(callbacks, Level::Info, FormatText(17036, owner));
        else if (stayingPackage && stayingPackage->developmentMode)
            // Tovik registered from another folder is an unpacked app too, and needs developer mode.
            LogLine(callbacks, Level::Info,
                    FormatText(17036, fmt::format(L"Tovik {}", stayingPackage->version)));
        else if (auto others = Install::OtherDevelopmentPackages(); !others.empty())
            LogLine(callbacks, Level::Info, FormatText(17036, Joined(others)));
        else if (auto off = DisableDeveloperMode(); off)
            LogLine(callbacks, Level::Success, Text(17035));
        else
            report(off.error());
    }

    if (ReadUserDword(L"EnabledVirtualMachinePlatform").value_or(0) != 0)
    {
        const auto lxss = CountUserKey(L"Software\\Microsoft\\Windows\\CurrentVersion\\Lxss");
        if (lxss && lxss->first > 0)
            LogLine(callbacks, Level::Info, FormatText(17038, L"WSL"));
        else if (!owner.empty())
            LogLine(callbacks, Level::Info, FormatText(17038, owner));
        else if (stayingPackage)
            LogLine(callbacks, Level::Info,
                    FormatText(17038, fmt::format(L"Tovik {}", stayingPackage->version)));
        else if (auto off =
                     DisableVmp([&](const std::wstring& line) { LogLine(callbacks, Level::Info, line); });
                 off)
        {
            outcome.restartNeeded = *off;
            LogLine(callbacks, Level::Success, Text(17037));
        }
        else
            report(off.error());
    }
}

// The program's own keys; each deletion's result is ignored (a key with subkeys stays).
void DeleteProgramKeys(const Callbacks& callbacks)
{
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, DigestCacheKey);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, DigestCacheKey);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, SettingsKey);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Ormel");

    if (::RegDeleteTreeW(HKEY_CURRENT_USER, SettingsKey) == ERROR_SUCCESS)
    {
        ::RegDeleteKeyW(HKEY_CURRENT_USER, SettingsKey);
        LogLine(callbacks, Level::Success, FormatText(17034, std::wstring(SettingsKey)));
    }
    const auto vendor = CountUserKey(L"Software\\Ormel").value_or(std::pair<DWORD, DWORD>{1, 1});
    if (vendor.first == 0 && vendor.second == 0)
        ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Ormel");
}

} // namespace

namespace Detail
{

UninstallSetting CurrentUninstallSetting()
{
    return {
        ModulePath(),
        DefaultInstallFolder(),
        DataFolder(),
        [] { return Install::FindInstalledMsi().has_value(); },
        [] { return static_cast<bool>(UniqueHandle(::OpenMutexW(SYNCHRONIZE, FALSE, Host::HostMutexName))); },
        [] { return Host::IsTaskRegistered(); },
        [] { Host::Stop(); },
        [](bool on) { return Host::SetTaskRegistered(on); }};
}

Result<RemovalOutcome> UninstallWith(const std::wstring& installFolder, Removal removal,
                                     const Callbacks& callbacks, const UninstallSetting& setting)
{
    RemovalOutcome outcome;
    const Install::FailureReporter report = [&](const std::wstring& text) {
        outcome.failures.push_back(text);
        LogLine(callbacks, Level::Warning, text);
    };

    // Which folder, and whose Tovik.
    Stage(callbacks, 16000);
    std::wstring folder = NormalizeFolder(installFolder);
    const std::optional<Install::PackageInfo> package = Install::FindInstalledPackage();
    if (package && HasStateFile(*package))
        folder = NormalizeFolder(package->installLocation);
    const bool ours = package && package->developmentMode && SameFile(package->installLocation, folder);
    const InstallState state = ReadState(folder);
    const bool stateFile = Exists(JoinPath(folder, L"peldra.json"));
    if (!ours && !stateFile && removal != Removal::Everything)
        return Fail(FormatText(16028, folder));
    if (package && !ours)
        LogLine(callbacks, Level::Warning, FormatText(17025, package->version, package->installLocation));

    std::optional<Install::PackageUser> other;
    if (!ours)
        if (auto user = Install::FindPackageUsers();
            user &&
            (user->installLocation.empty() || SameFile(NormalizeFolder(user->installLocation), folder)))
        {
            other = user;
            LogLine(callbacks, Level::Warning, FormatText(17054, user->account, folder));
        }

    // The host and its task.
    const bool hostRan = setting.hostRunning();
    const bool taskExisted = setting.taskRegistered();
    setting.stopHost();
    if (!other)
        if (auto removed = setting.setTaskRegistered(false); !removed && taskExisted)
            report(removed.error());

    const std::wstring dataFolder = Install::TovikDataFolder();
    if (ours)
    {
        Stage(callbacks, 16006);
        if (UniqueHandle shutdown = Install::StartTovikShutdown(folder))
        {
            LogLine(callbacks, Level::Info, Text(17011));
            ::WaitForSingleObject(shutdown.Get(), ShutdownWaitMs);
        }
        if (auto removed = Install::RemovePackage(package->fullName, removal == Removal::KeepData); !removed)
            return Fail(removed.error());
        if (removal == Removal::Everything)
            LogLine(callbacks, Level::Success, Text(17027));
        else
        {
            if (!dataFolder.empty())
                ForgetLanguageList(dataFolder);
            LogLine(callbacks, Level::Success,
                    FormatText(17026, dataFolder, FormatBytes(Install::DirectorySize(dataFolder))));
        }
    }

    // Files.
    Stage(callbacks, 16007);
    const bool ownInstallerPackage = setting.ownInstallerPackage();
    if (!other)
    {
        const std::wstring magisk = setting.defaultFolder + L"\\Magisk";
        if (Exists(magisk))
            RemoveOrNote(magisk, callbacks, outcome);
        RemoveReleaseFilesWith(folder, state, callbacks, outcome, ownInstallerPackage, setting);
        if (!ownInstallerPackage)
            RemoveProgramFilesWith(folder, callbacks, outcome, setting);
    }
    for (const std::wstring& shortcut : Install::FindTovikSettingsShortcuts())
        if (::DeleteFileW(shortcut.c_str()))
            ::SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, shortcut.c_str(), nullptr);

    if (removal == Removal::KeepData)
    {
        Stage(callbacks, 16004, 1000);
        return outcome;
    }

    // What Tovik and the program left in Windows.
    Stage(callbacks, 16008);
    const std::optional<Install::PackageInfo> stayingPackage = ours ? std::nullopt : package;
    if (stayingPackage)
        LogLine(callbacks, Level::Warning, Text(17033));
    else
    {
        if (!dataFolder.empty() && Exists(dataFolder))
        {
            const std::uint64_t size = Install::DirectorySize(dataFolder);
            if (auto removed = Install::RemoveTree(dataFolder, FileRetries); removed)
                LogLine(callbacks, Level::Success, FormatText(17031, dataFolder, FormatBytes(size)));
            else
                report(removed.error());
        }
        if (!other)
        {
            // Entries tied to Tovik only by lying in the folder are matched only in a folder proven
            // to be the program's, and never in a drive root or one of Windows' own folders.
            const bool folderIsOurs = (ours || stateFile) && !IsSystemFolder(folder);
            const Install::LeftoverCounts counts =
                Install::CleanTovikLeftovers(folderIsOurs ? folder : L"", report);
            LogLine(callbacks, Level::Success,
                    FormatText(17032, counts.shortcuts, counts.registryKeys, counts.registryValues));
        }
    }

    SwitchFeaturesOff(callbacks, outcome, report, stayingPackage,
                      other ? fmt::format(L"Tovik ({})", other->account) : L"");

    const bool bluetoothRemoved = Guest::RemoveVsockService(BluetoothService);
    const bool helloRemoved = Guest::RemoveVsockService(HelloService);
    bool dataRemoved = false;
    if (Exists(setting.programDataFolder))
    {
        if (auto removed = Install::RemoveTree(setting.programDataFolder, DataFolderRetries); removed)
            dataRemoved = true;
        else
            report(removed.error());
    }
    if (hostRan || taskExisted || bluetoothRemoved || helloRemoved || dataRemoved)
        LogLine(callbacks, Level::Success, Text(17040));

    DeleteProgramKeys(callbacks);
    Stage(callbacks, 16004, 1000);
    return outcome;
}

} // namespace Detail

Result<RemovalOutcome> Uninstall(const std::wstring& installFolder, Removal removal,
                                 const Callbacks& callbacks)
{
    auto lock =
        RunLock::Acquire([&](const std::wstring& line) { LogLine(callbacks, Level::Info, line); }, {});
    if (!lock)
        return std::unexpected(lock.error());
    return Detail::UninstallWith(installFolder, removal, callbacks, Detail::CurrentUninstallSetting());
}

} // namespace Pd::Core
