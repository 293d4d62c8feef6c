// A fresh folder under the temporary folder, removed with everything in it at the end of a test.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace PdTest
{

class ScratchFolder
{
public:
    explicit ScratchFolder(const std::filesystem::path& parent = std::filesystem::temp_directory_path())
    {
        static int counter = 0;
        path_ = parent / (L"pd-scratch-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                          std::to_wstring(::GetTickCount64()) + L"-" + std::to_wstring(++counter));
        std::filesystem::create_directories(path_);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& Path() const { return path_; }

    // Writes the bytes as they stand (no line-end translation) and returns the file's path.
    std::filesystem::path Write(const std::wstring& name, std::string_view bytes) const
    {
        std::filesystem::path file = path_ / name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

private:
    std::filesystem::path path_;
};

} // namespace PdTest
