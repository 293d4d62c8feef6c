// Magisk, the Android root tool that the elevation bridge can hand to Android: its latest release
// looked up through the code host's release API, downloaded with the verified, resumable transfer,
// and kept with its tag and SHA-256 in the folder "Magisk" of the default install folder.
#pragma once

#include "core/Result.h"
#include "release/base/Callbacks.h"

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace Pd::Core::Magisk
{

struct Release
{
    std::wstring tag;
    std::wstring url;
    std::uint64_t size = 0;
    std::wstring sha256; // 64 lower-case hexadecimal characters
};

// An APK on disk that still matches its recorded digest.
struct Stored
{
    std::wstring path;
    std::wstring tag;
    std::wstring sha256;
};

// The latest release's APK: the first asset named "Magisk-v...apk" that is no debug build, with a
// download address of the project's own releases, a size and a SHA-256 digest.
Pd::Result<Release> FindLatest(std::stop_token stop);

// Brings the stored APK to the release: nothing is fetched when the stored one already matches;
// else "Magisk.apk.part" is downloaded (and resumed by a later call after a failure), moved to
// "Magisk.apk", and "Magisk.txt" records the tag and digest. Without its record the APK is
// unusable, so a record that cannot be written fails the download.
Pd::Result<> Download(const Release& release, const Net::ByteProgress& progress, const LogText& log,
                      std::stop_token stop);

// The stored APK when its record is complete and the file's SHA-256 still equals the recorded one.
std::optional<Stored> Verified();

namespace Detail
{
// Where the release API and the release downloads live; tests point them at a loopback server.
struct Endpoints
{
    std::wstring api;      // "https://<API host>"
    std::wstring download; // "https://<download host>"
    std::wstring owner;    // account that owns the Magisk repository
};
Endpoints DefaultEndpoints();

// The release chosen from the API's answer.
Pd::Result<Release> ParseLatest(std::string_view body, const Endpoints& endpoints);
Pd::Result<Release> FindLatestAt(const Endpoints& endpoints, std::stop_token stop);

// Download and Verified for a given folder in place of "<default install folder>\Magisk".
Pd::Result<> DownloadInto(const std::wstring& folder, const Release& release,
                          const Net::ByteProgress& progress, const LogText& log, std::stop_token stop);
std::optional<Stored> VerifiedIn(const std::wstring& folder);
} // namespace Detail

} // namespace Pd::Core::Magisk
