// Unpacking of zstd-compressed components into staged files: single files, checked for size
// and SHA-256 while they are written, and tar archives, whose every entry is checked by the tar
// reader. Nothing is decompressed to memory as a whole, and no target is touched here.
#pragma once

#include "core/Result.h"
#include "release/base/Callbacks.h"
#include "release/unpack/StagedFiles.h"

#include <cstdint>
#include <functional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>

namespace Pd::Install
{

// Receives each decompressed chunk; an error stops the decompression and becomes its result.
using ChunkSink = std::function<Result<>(const std::uint8_t* data, std::size_t size)>;

// Decodes the zstd stream (concatenated frames included) of a file. Progress counts compressed
// bytes; stop is checked before every read of about 1 MiB.
Result<> DecompressFile(const std::wstring& path, const Net::ByteProgress& progress, std::stop_token stop,
                        const ChunkSink& sink);

struct FileReport
{
    std::uint64_t bytes = 0;
    StagedFiles staged; // the one staged file, flushed and not committed
};

// Unpacks a compressed file into "<target>.new". An expected size of 0 turns the size checks
// off, an empty expected SHA-256 the digest check.
Result<FileReport> UnpackFile(const std::wstring& path, const std::wstring& target,
                              std::uint64_t expectedSize, std::wstring_view expectedSha256,
                              const Net::ByteProgress& progress, std::stop_token stop);

struct ArchiveReport
{
    std::uint64_t bytes = 0;
    std::uint32_t files = 0;
    std::set<std::wstring> names; // first path component of every accepted entry
    StagedFiles staged;           // one per regular file, in archive order
};

// Told of every staged file ("<target>.new") and every folder below its folder before the unpack
// creates it; an error stops the unpack.
using CreationNotice = std::function<Result<>(const std::wstring& path, bool folder)>;

// Unpacks a compressed tar archive under folder: regular files become staged files, folders are
// created at once, everything else is refused. An expected size of 0 sets no limit.
Result<ArchiveReport> UnpackArchive(const std::wstring& path, const std::wstring& folder,
                                    std::uint64_t expectedSize, const Net::ByteProgress& progress,
                                    std::stop_token stop, const CreationNotice& notice = {});

} // namespace Pd::Install
