// The release manifest: what a release consists of, where each component comes from and goes
// to, and which checks its bytes must pass. Parsing refuses everything that could lead outside
// the install folder or collide on disk.
#pragma once

#include "core/Result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Pd::Core
{

enum class ComponentKind : std::int32_t
{
    Disk = 0,    // one zstd-compressed file
    File = 1,    // one zstd-compressed file
    Archive = 2, // a zstd-compressed tar archive unpacked under the target folder
};

struct Component
{
    std::wstring id; // a safe file name, unique in the manifest in any letter case
    ComponentKind kind = ComponentKind::File;
    std::wstring target; // relative path in the install folder; "." only for an archive
    std::wstring url;    // absolute
    std::uint64_t packedSize = 0;
    std::wstring packedSha256; // of the download, 64 lower-case hexadecimal characters
    std::wstring sha256;       // of the unpacked file, or empty
    std::uint64_t size = 0;    // unpacked bytes, 0 when not given
    std::wstring version;
    bool optional = false;
};

// A program update offered by a release.
struct AppInfo
{
    std::wstring version;
    std::wstring url;
    std::uint64_t size = 0;
    std::wstring sha256;
    std::wstring minimum; // lowest program version that may install the release, or empty
};

struct Manifest
{
    Manifest() = default;
    Manifest(Manifest&&) = default;
    Manifest& operator=(Manifest&&) = default;
    // Moved between owners, never copied: plans refer to its components.
    Manifest(const Manifest&) = delete;
    Manifest& operator=(const Manifest&) = delete;

    // The component with exactly this id, or null.
    const Component* FindComponent(std::wstring_view id) const;

    std::wstring url; // where the manifest was read from
    std::wstring name = L"Peldra";
    std::wstring version;
    std::wstring android;
    std::wstring variant;
    std::uint32_t minWindowsBuild = 0;
    std::vector<Component> components;
    std::optional<AppInfo> app;
    std::string manifestBytes; // exactly as fetched
    std::string catalogBytes;  // exactly as fetched; empty when there was none
    bool isSigned = false;     // the catalog is publisher-signed and lists the manifest bytes
};

// Reads a manifest (UTF-8, an optional byte-order mark) fetched from url. The first rule broken
// is the error; no partial manifest is returned.
Result<Manifest> ParseManifest(std::string_view bytes, std::wstring_view url);

// A relative path of non-empty segments inside the install folder: no colon, no leading
// separator, no "." or "..", no reserved name, none of *?"<>| and no NUL.
bool IsSafeTarget(std::wstring_view target);

// A component id is a file name of its own (the download "<id>.zst") and a key of the state
// file: a safe single segment, and neither of the state file's own keys "release" and "host".
bool IsSafeComponentId(std::wstring_view id);

// An address relative to the manifest's address made absolute; one with "://" stays as it is.
std::wstring ResolveUrl(std::wstring_view manifestUrl, std::wstring_view reference);

// localhost, 127.0.0.1 or ::1 (bracketed or not), in any letter case.
bool IsLoopbackHost(std::wstring_view host);

// Whether an address can ever be fetched: https with a host, or http to a loopback host.
bool IsFetchableAddress(std::wstring_view url);

// Every component address fetchable; else the refusal naming the first that is not and its id.
// Checked where a manifest is loaded for download, not for a stored copy read from a file.
Result<> CheckAddresses(const Manifest& manifest);

// Exactly 64 hexadecimal digits in either case.
bool IsSha256Hex(std::wstring_view text);

} // namespace Pd::Core
