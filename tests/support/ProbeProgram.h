// The probe program (tests/support/ProbeProgram.cpp) seen from a test exe under Wine: CTest gives
// its path in PD_PROBE_PROGRAM as a Unix path, reached through Wine's drive Z:. A copy of it
// records how it was started in "<copy>.args" and ends with ProbeExitCode.
#pragma once

#include "tests/support/HangLimit.h"
#include "tests/support/UnixPath.h"

#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace PdTest
{

inline constexpr DWORD ProbeExitCode = 42;

struct ProbeRecord
{
    std::wstring commandLine;
    std::wstring currentFolder;
    std::vector<std::wstring> environment; // "name=value"
};

inline std::filesystem::path ProbeProgram()
{
    return PathFromEnvironment(L"PD_PROBE_PROGRAM");
}

// Copies the probe to the given path (folders created) and returns whether that worked.
inline bool PlaceProbe(const std::filesystem::path& target)
{
    std::error_code error;
    std::filesystem::create_directories(target.parent_path(), error);
    return !ProbeProgram().empty() &&
           std::filesystem::copy_file(ProbeProgram(), target,
                                      std::filesystem::copy_options::overwrite_existing, error);
}

// What the probe at that path recorded; none before it ran.
inline std::optional<ProbeRecord> ReadProbeRecord(const std::filesystem::path& probe)
{
    std::ifstream in(std::filesystem::path(probe.wstring() + L".args"), std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
    ProbeRecord record;
    const std::size_t line = text.find(L'\n');
    record.commandLine = text.substr(0, line);
    if (line == std::wstring::npos)
        return record;
    const std::size_t folderEnd = text.find(L'\n', line + 1);
    record.currentFolder = text.substr(line + 1, folderEnd - line - 1);
    for (std::size_t at = folderEnd; at != std::wstring::npos && at + 1 < text.size();)
    {
        const std::size_t end = text.find(L'\0', at + 1);
        record.environment.push_back(text.substr(at + 1, end - at - 1));
        at = end;
    }
    return record;
}

// Polls for the record of a probe started by another process; none when that hangs.
inline std::optional<ProbeRecord> WaitForProbeRecord(const std::filesystem::path& probe)
{
    std::optional<ProbeRecord> record;
    Pd::Test::PollUntil([&] { return (record = ReadProbeRecord(probe)).has_value(); });
    return record;
}

} // namespace PdTest
