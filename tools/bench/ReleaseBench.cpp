// Times the release transfers and unpackers under Wine against the bare platform loops they
// are built on (the ceiling). Driven by tools/bench-release.py, one operation per run: it prints
// "READY" and waits for a line on standard input before the operation and again after its
// "RESULT" line, so that the driver can read this process's /proc/<pid>/io around it.
//
//   download <url> <file> <size> <sha256>          Pd::Net::Download, one attempt
//   download-ceiling <url> <file>                  WinHttpReadData -> BCrypt SHA-256 -> WriteFile
//   unpack-file <zst> <target> <size> <sha256|->   Pd::Install::UnpackFile (staged, not committed)
//   unpack-archive <zst> <folder> <size>           Pd::Install::UnpackArchive
//   unpack-ceiling <zst> <file> [hash]             ZSTD_decompressStream -> [SHA-256 ->] WriteFile
#include "core/Handles.h"
#include "core/Sha256.h"
#include "core/Strings.h"
#include "release/download/Net.h"
#include "release/unpack/Unpack.h"

#include <windows.h>
#include <winhttp.h>

#include <zstd.h>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

// Lets the driver sample this process's counters: announce, then wait for its go-ahead.
void Handshake(const char* word)
{
    std::printf("%s\n", word);
    std::fflush(stdout);
    char line[16];
    static_cast<void>(std::fgets(line, sizeof(line), stdin));
}

struct Measure
{
    Measure() { Handshake("READY"); }
    Clock::time_point start = Clock::now();

    int Report(const char* name, std::uint64_t bytes, const std::wstring& error = {}) const
    {
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (!error.empty())
        {
            std::fprintf(stderr, "%s failed: %s\n", name, Pd::Core::ToUtf8(error).c_str());
            return 1;
        }
        std::printf("RESULT %s seconds=%.3f bytes=%llu\n", name, seconds,
                    static_cast<unsigned long long>(bytes));
        Handshake("DONE");
        return 0;
    }
};

using Internet = Pd::Unique<HINTERNET, &::WinHttpCloseHandle>;

int DownloadCeiling(const std::wstring& url, const std::wstring& path)
{
    Measure measure;
    wchar_t host[256];
    wchar_t urlPath[2048];
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = urlPath;
    parts.dwUrlPathLength = 2048;
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts))
        return measure.Report("download-ceiling", 0, L"crack");
    Internet session(::WinHttpOpen(L"ceiling", 4, nullptr, nullptr, 0));
    ::WinHttpSetTimeouts(session.Get(), 15000, 15000, 60000, 60000); // as the product sets them
    Internet connection(::WinHttpConnect(session.Get(), host, parts.nPort, 0));
    Internet request(::WinHttpOpenRequest(connection.Get(), L"GET", urlPath, nullptr, nullptr, nullptr, 0));
    if (!request || !::WinHttpSendRequest(request.Get(), nullptr, 0, nullptr, 0, 0, 0) ||
        !::WinHttpReceiveResponse(request.Get(), nullptr))
        return measure.Report("download-ceiling", 0, L"request");
    Pd::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    Pd::Sha256 hasher;
    std::vector<std::uint8_t> buffer(1 << 20);
    std::uint64_t total = 0;
    for (;;)
    {
        DWORD available = 0;
        DWORD read = 0;
        if (!::WinHttpQueryDataAvailable(request.Get(), &available) || available == 0 ||
            !::WinHttpReadData(request.Get(), buffer.data(), std::min<DWORD>(available, 1 << 20), &read) ||
            read == 0)
            break;
        hasher.Update(buffer.data(), read);
        DWORD written = 0;
        ::WriteFile(file.Get(), buffer.data(), read, &written, nullptr);
        total += read;
    }
    std::wstring digest = hasher.Finish();
    file.Reset();
    return measure.Report("download-ceiling", total, digest.empty() ? L"hash" : L"");
}

int UnpackCeiling(const std::wstring& source, const std::wstring& path, bool hash)
{
    Measure measure;
    Pd::UniqueFile in(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    Pd::UniqueFile out(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    if (!in || !out)
        return measure.Report("unpack-ceiling", 0, L"open");
    ZSTD_DCtx* decoder = ZSTD_createDCtx();
    std::vector<std::uint8_t> input(ZSTD_DStreamInSize());
    std::vector<std::uint8_t> output(ZSTD_DStreamOutSize());
    Pd::Sha256 hasher;
    std::uint64_t total = 0;
    DWORD read = 0;
    while (::ReadFile(in.Get(), input.data(), static_cast<DWORD>(input.size()), &read, nullptr) && read > 0)
    {
        ZSTD_inBuffer chunk{input.data(), read, 0};
        while (chunk.pos < chunk.size)
        {
            ZSTD_outBuffer produced{output.data(), output.size(), 0};
            if (ZSTD_isError(ZSTD_decompressStream(decoder, &produced, &chunk)))
                return measure.Report("unpack-ceiling", 0, L"zstd");
            if (hash)
                hasher.Update(output.data(), produced.pos);
            DWORD written = 0;
            ::WriteFile(out.Get(), output.data(), static_cast<DWORD>(produced.pos), &written, nullptr);
            total += produced.pos;
        }
    }
    ZSTD_freeDCtx(decoder);
    ::FlushFileBuffers(out.Get());
    if (hash)
        hasher.Finish();
    return measure.Report(hash ? "unpack-ceiling-hash" : "unpack-ceiling", total);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::wstring> args(argv + 1, argv + argc);
    std::wstring mode = args.empty() ? L"" : args[0];
    if (mode == L"download" && args.size() == 5)
    {
        ::DeleteFileW(args[2].c_str());
        Measure measure;
        auto done = Pd::Net::Download(args[1], args[2], std::stoull(args[3]), args[4], 1, {}, {}, {});
        return measure.Report("download", std::stoull(args[3]), done ? L"" : done.error());
    }
    if (mode == L"download-ceiling" && args.size() == 3)
    {
        ::DeleteFileW(args[2].c_str());
        return DownloadCeiling(args[1], args[2]);
    }
    if (mode == L"unpack-file" && args.size() == 5)
    {
        std::wstring sha = args[4] == L"-" ? L"" : args[4];
        Measure measure;
        auto report = Pd::Install::UnpackFile(args[1], args[2], std::stoull(args[3]), sha, {}, {});
        return measure.Report(sha.empty() ? "unpack-file" : "unpack-file-sha256", report ? report->bytes : 0,
                              report ? L"" : report.error());
    }
    if (mode == L"unpack-archive" && args.size() == 4)
    {
        Measure measure;
        auto report = Pd::Install::UnpackArchive(args[1], args[2], std::stoull(args[3]), {}, {});
        return measure.Report("unpack-archive", report ? report->bytes : 0, report ? L"" : report.error());
    }
    if (mode == L"unpack-ceiling" && (args.size() == 3 || args.size() == 4))
    {
        ::DeleteFileW(args[2].c_str());
        int result = UnpackCeiling(args[1], args[2], args.size() == 4);
        ::DeleteFileW(args[2].c_str());
        return result;
    }
    std::fprintf(stderr, "usage: see the comment at the top of ReleaseBench.cpp\n");
    return 2;
}
