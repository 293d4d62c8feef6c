// Tovik's client stand-in (tests/support/FakeTovikClient.cpp) at the current account's alias
// path, or another path, for the life of the object, with the starts it recorded.
#pragma once

#include "core/Handles.h"
#include "core/Json.h"
#include "core/Strings.h"
#include "release/folders/KnownFolder.h"
#include "release/windows/Packages.h"
#include "tests/release/LoopbackServer.h"
#include "tests/support/HangLimit.h"
#include "tests/support/UnixPath.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace PdTest
{

struct ClientStart
{
    std::wstring commandLine;
    std::wstring currentFolder;
    DWORD process = 0;
};

inline std::filesystem::path ClientAliasPath()
{
    return std::filesystem::path(Pd::Install::KnownFolderPath(FOLDERID_LocalAppData)) / L"Microsoft" /
           L"WindowsApps" / Pd::Install::TovikFamilyName / L"TovikClient.exe";
}

class FakeClient
{
public:
    explicit FakeClient(std::filesystem::path path = ClientAliasPath()) : path_(std::move(path))
    {
        const std::filesystem::path source = PathFromEnvironment(L"PD_FAKE_TOVIK_CLIENT");
        EXPECT_FALSE(source.empty()) << "PD_FAKE_TOVIK_CLIENT names the built stand-in";
        std::filesystem::create_directories(path_.parent_path());
        std::filesystem::copy_file(source, path_, std::filesystem::copy_options::overwrite_existing);
        std::error_code ignored;
        std::filesystem::remove(LogPath(), ignored);
    }
    ~FakeClient()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_.parent_path(), ignored);
    }
    FakeClient(const FakeClient&) = delete;
    FakeClient& operator=(const FakeClient&) = delete;

    std::wstring Alias() const { return path_.wstring(); }

    // The starts recorded so far, once at least `expected` of them came (a launch does not wait
    // for the client), and once the clients that recorded them have ended: a running client
    // holds its program file and its current folder.
    std::vector<ClientStart> Starts(std::size_t expected = 0) const
    {
        Pd::Test::PollUntil([&] { return Read().size() >= expected; });
        std::vector<ClientStart> starts = Read();
        for (const ClientStart& start : starts)
            WaitForEnd(start.process);
        return starts;
    }

private:
    std::vector<ClientStart> Read() const
    {
        std::vector<ClientStart> starts;
        std::istringstream lines(ReadBytes(LogPath()));
        for (std::string line; std::getline(lines, line);)
            if (auto value = Pd::Json::Parser(Pd::Core::FromUtf8(line)).Parse())
                starts.push_back({value->TextOr(L"commandLine", L""), value->TextOr(L"currentFolder", L""),
                                  static_cast<DWORD>(value->Member(L"process").AsUInt64().value_or(0))});
        return starts;
    }

    // Waits for the client that recorded a start to end; a process of that id that is not this
    // client (the id used anew) is not waited for.
    void WaitForEnd(DWORD id) const
    {
        Pd::UniqueHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
        if (!process)
            return; // ended, and its id gone
        wchar_t image[MAX_PATH * 2] = {};
        DWORD length = MAX_PATH * 2;
        std::error_code error;
        if (::QueryFullProcessImageNameW(process.Get(), 0, image, &length) &&
            std::filesystem::equivalent(std::filesystem::path(std::wstring(image, length)), path_, error))
        {
            EXPECT_EQ(::WaitForSingleObject(process.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0)
                << "the client did not end";
        }
    }

    std::filesystem::path LogPath() const { return path_.parent_path() / L"TovikClient.log"; }

    std::filesystem::path path_;
};

} // namespace PdTest
