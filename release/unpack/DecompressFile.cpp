#include "release/unpack/Unpack.h"

#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "release/base/OpenPath.h"

#include <windows.h>

#include <zstd.h>

#include <memory>
#include <new>

namespace Pd::Install
{
namespace
{

constexpr std::size_t InputSize = 1048600;
constexpr std::size_t OutputSize = 1048576;
constexpr std::align_val_t InputAlignment{32};

struct AlignedDelete
{
    void operator()(std::uint8_t* p) const { ::operator delete[](p, InputAlignment); }
};

using DecoderContext =
    std::unique_ptr<ZSTD_DCtx, decltype([](ZSTD_DCtx* context) { ZSTD_freeDCtx(context); })>;

} // namespace

Result<> DecompressFile(const std::wstring& path, const Net::ByteProgress& progress, std::stop_token stop,
                        const ChunkSink& sink)
{
    UniqueFile file(
        Install::OpenPath(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN));
    if (!file)
        return Fail(Core::ErrorText(Core::FormatText(TextId::OpeningFile, path), ::GetLastError()));
    LARGE_INTEGER fileSize{};
    if (!::GetFileSizeEx(file.Get(), &fileSize))
        fileSize.QuadPart = 0;

    DecoderContext decoder(ZSTD_createDCtx());
    if (!decoder || ZSTD_isError(ZSTD_initDStream(decoder.get())))
        return Fail(Core::Text(TextId::NotEnoughMemoryToDecompress));
    std::unique_ptr<std::uint8_t[], AlignedDelete> input(new (InputAlignment) std::uint8_t[InputSize]);
    auto output = std::make_unique_for_overwrite<std::uint8_t[]>(OutputSize);

    std::size_t last = 1; // not 0 while a frame is unfinished
    std::uint64_t consumed = 0;
    for (;;)
    {
        if (stop.stop_requested())
            return Fail(Core::Text(TextId::Canceled));
        DWORD read = 0;
        if (!::ReadFile(file.Get(), input.get(), static_cast<DWORD>(InputSize), &read, nullptr))
            return Fail(Core::ErrorText(Core::FormatText(TextId::ReadingFile, path), ::GetLastError()));
        if (read == 0)
        {
            if (last == 0)
                return {};
            return Fail(Core::Text(TextId::CompressedDataEndsEarly));
        }
        ZSTD_inBuffer in{input.get(), read, 0};
        bool outputFull = false;
        do
        {
            ZSTD_outBuffer out{output.get(), OutputSize, 0};
            last = ZSTD_decompressStream(decoder.get(), &out, &in);
            if (ZSTD_isError(last))
                return Fail(
                    Core::FormatText(TextId::DamagedCompressedData, Core::FromUtf8(ZSTD_getErrorName(last))));
            if (out.pos > 0)
                if (auto taken = sink(output.get(), out.pos); !taken)
                    return taken;
            outputFull = out.pos == out.size;
        } while (in.pos < in.size || (outputFull && last != 0));
        consumed += read;
        if (progress)
            progress(consumed, static_cast<std::uint64_t>(fileSize.QuadPart));
    }
}

} // namespace Pd::Install
