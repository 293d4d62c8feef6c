// A streaming reader of tar archives (ustar, GNU long names, pax): it takes the decompressed
// stream in pieces of any size, refuses every entry that is not a regular file or a folder and
// every name that is not a safe relative path, and hands what it accepts to a TarOutput.
// Platform-free: archives come from the network, so this is the code the fuzzer drives.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <set>
#include <string>

namespace Pd::Install
{

enum class TarFault
{
    HeaderChecksum,     // a header's stored checksum differs from its bytes
    ExtendedHeader,     // an extended header is too large or its records are malformed
    EndsEarly,          // the stream ended inside an entry's data or a header
    UnsupportedEntry,   // links, devices, sparse files and every other type; detail: the type
                        // character ('S' for every sparse form), entry: the entry's name
    UnsafePath,         // detail: the entry's name as converted, with backslashes
    DuplicateName,      // a file listed twice, also in another letter case; detail: its path
    LargerThanExpected, // the files hold more bytes than the release says
    Output,             // detail: the output's own error text
};

struct TarError
{
    TarFault fault;
    std::wstring detail;
    std::wstring entry; // the entry's name as converted, where the fault concerns one entry
};

// Receives the accepted entries. Paths are relative, with backslashes, never empty for files.
class TarOutput
{
public:
    virtual ~TarOutput() = default;
    virtual std::expected<void, std::wstring> BeginFile(const std::wstring& relativePath) = 0;
    virtual std::expected<void, std::wstring> WriteFile(const std::uint8_t* data, std::size_t size) = 0;
    // The current file is complete.
    virtual std::expected<void, std::wstring> EndFile() = 0;
    // Folders are created at once; a failure shows when a file is created inside.
    virtual void MakeDirectory(const std::wstring& relativePath) = 0;
};

class TarReader
{
public:
    // An expected size of 0 sets no limit on the bytes of file data.
    TarReader(TarOutput& output, std::uint64_t expectedSize);

    // Consumes the next piece of the stream. After an error the reader must not be fed again.
    std::expected<void, TarError> Feed(const std::uint8_t* data, std::size_t size);

    // The stream has ended: fails when it ended inside an entry's data or a header, or right
    // after an extended header that announced one more entry.
    std::expected<void, TarError> Finish() const;

    std::uint64_t Bytes() const { return bytes_; }
    std::uint32_t Files() const { return files_; }
    // The first path component of every accepted entry, files and folders.
    const std::set<std::wstring>& Names() const { return names_; }

    static constexpr std::size_t BlockSize = 512;
    static constexpr std::uint64_t MaxExtendedHeader = 1048576;

private:
    std::expected<void, TarError> ProcessHeader();
    std::expected<void, TarError> StartEntry(std::uint64_t size);
    std::expected<void, TarError> EndEntry();
    std::expected<void, TarError> ParsePaxRecords();

    TarOutput& output_;
    std::uint64_t expectedSize_;
    std::uint64_t bytesSoFar_ = 0;
    std::uint8_t header_[BlockSize] = {};
    std::size_t headerFill_ = 0;
    bool fileOpen_ = false;
    std::uint64_t fileBytes_ = 0;
    std::uint64_t remaining_ = 0;
    bool inEntry_ = false;
    std::uint64_t padding_ = 0;
    std::uint64_t entryPadding_ = 0;
    char collecting_ = 0; // 'L', 'x' or 'g' while an extended header's data is gathered
    std::string collected_;
    std::optional<std::string> pendingLongName_;
    std::optional<std::string> pendingPaxPath_;
    std::optional<std::uint64_t> pendingPaxSize_;
    std::optional<std::string> pendingSparse_; // the name GNU.sparse.* records give, maybe empty
    bool describedNext_ = false;               // an extended header announced an entry that has not come yet
    std::set<std::wstring> filePaths_;         // case-folded paths of the files so far
    bool finished_ = false;
    std::uint64_t bytes_ = 0;
    std::uint32_t files_ = 0;
    std::set<std::wstring> names_;
};

} // namespace Pd::Install
