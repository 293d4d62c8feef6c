#include "release/base/MachineRecords.h"

#include "core/Elevation.h"
#include "core/Hex.h"
#include "core/Settings.h"

#include <windows.h>

namespace Pd::Core
{
namespace
{

constexpr std::size_t VolumeDigits = 16;
constexpr std::size_t FileIdDigits = 32;
constexpr std::size_t PathStart = VolumeDigits + 1 + FileIdDigits + 1;
constexpr DWORD MaxRecordBytes = 64 * 1024;

// Empty when the user cannot be told: nothing is then recorded, and nothing counts as recorded.
std::wstring RecordName(std::wstring_view what)
{
    const std::wstring user = ProcessUserSid();
    return user.empty() ? std::wstring() : std::wstring(what) + L"-" + user;
}

std::wstring FolderRecordName(FolderRecord record)
{
    return RecordName(record == FolderRecord::Chosen ? L"ChosenFolder" : L"InstallFolder");
}

std::wstring FeatureRecordName(RecordedFeature feature)
{
    return RecordName(FeatureValueName(feature));
}

bool ParseHex(std::wstring_view digits, std::uint8_t* bytes)
{
    for (std::size_t i = 0; i < digits.size(); i += 2)
    {
        const int high = HexValue(digits[i]);
        const int low = HexValue(digits[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes[i / 2] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return true;
}

// The record's text: 16 hex digits of the volume, a blank, 32 of the file id, a blank, the path.
std::wstring FolderRecordText(const RecordedFolder& folder)
{
    std::array<std::uint8_t, 8> volume{};
    for (std::size_t i = 0; i < volume.size(); ++i)
        volume[i] = static_cast<std::uint8_t>(folder.volume >> (8 * (volume.size() - 1 - i)));
    return HexLower(volume) + L" " + HexLower(folder.fileId) + L" " + folder.path;
}

std::optional<RecordedFolder> ParseFolderRecord(std::wstring_view text)
{
    if (text.size() <= PathStart || text[VolumeDigits] != L' ' || text[PathStart - 1] != L' ')
        return std::nullopt;
    RecordedFolder folder;
    std::array<std::uint8_t, 8> volume{};
    if (!ParseHex(text.substr(0, VolumeDigits), volume.data()) ||
        !ParseHex(text.substr(VolumeDigits + 1, FileIdDigits), folder.fileId.data()))
        return std::nullopt;
    for (std::uint8_t byte : volume)
        folder.volume = (folder.volume << 8) | byte;
    folder.path = std::wstring(text.substr(PathStart));
    if (folder.path.find(L'\0') != std::wstring::npos)
        return std::nullopt;
    return folder;
}

} // namespace

bool RecordedFolder::Identified() const
{
    return volume != 0 || fileId != std::array<std::uint8_t, 16>{};
}

bool RecordedFolder::SameIdentity(const RecordedFolder& other) const
{
    return Identified() && volume == other.volume && fileId == other.fileId;
}

std::optional<RecordedFolder> ReadRecordedFolder(FolderRecord record)
{
    const std::wstring name = FolderRecordName(record);
    DWORD size = 0;
    if (name.empty() ||
        ::RegGetValueW(HKEY_LOCAL_MACHINE, SettingsKey, name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr,
                       &size) != ERROR_SUCCESS ||
        size > MaxRecordBytes)
        return std::nullopt;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, SettingsKey, name.c_str(), RRF_RT_REG_SZ, nullptr, text.data(),
                       &size) != ERROR_SUCCESS)
        return std::nullopt;
    text.resize(wcsnlen(text.c_str(), text.size()));
    return ParseFolderRecord(text);
}

bool WriteRecordedFolder(const RecordedFolder& folder, FolderRecord record)
{
    const std::wstring name = FolderRecordName(record);
    const std::wstring text = FolderRecordText(folder);
    return !name.empty() &&
           ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, SettingsKey, name.c_str(), REG_SZ, text.c_str(),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void ForgetRecordedFolder(FolderRecord record)
{
    if (const std::wstring name = FolderRecordName(record); !name.empty())
        ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, SettingsKey, name.c_str());
}

const wchar_t* FeatureValueName(RecordedFeature feature)
{
    return feature == RecordedFeature::DeveloperMode ? L"EnabledDeveloperMode"
                                                     : L"EnabledVirtualMachinePlatform";
}

bool FeatureRecorded(RecordedFeature feature)
{
    const std::wstring name = FeatureRecordName(feature);
    DWORD value = 0;
    DWORD size = sizeof(value);
    return !name.empty() &&
           ::RegGetValueW(HKEY_LOCAL_MACHINE, SettingsKey, name.c_str(), RRF_RT_REG_DWORD, nullptr, &value,
                          &size) == ERROR_SUCCESS &&
           value != 0;
}

bool RecordFeature(RecordedFeature feature)
{
    const std::wstring name = FeatureRecordName(feature);
    const DWORD value = 1;
    return !name.empty() && ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, SettingsKey, name.c_str(), REG_DWORD,
                                              &value, sizeof(value)) == ERROR_SUCCESS;
}

void ForgetFeature(RecordedFeature feature)
{
    if (const std::wstring name = FeatureRecordName(feature); !name.empty())
        ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, SettingsKey, name.c_str());
}

} // namespace Pd::Core
