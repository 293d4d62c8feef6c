// The loopback release server (tests/support/release_server.py) that the CTest fixture starts,
// seen from a test exe under Wine: its state folder comes in PD_RELEASE_SERVER, the port in the
// file "port" there, and the served files and their ".rule" and ".log" companions lie below
// "root", reached through Wine's drive Z:. The fixture also builds the components of
// fixtures.json under "fixtures/".
#pragma once

#include "core/Json.h"
#include "core/Strings.h"
#include "release/manifest/Manifest.h"
#include "tests/support/UnixPath.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace PdTest
{

inline std::string ReadBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& file, std::string_view bytes)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// One request the server logged.
struct ServedRequest
{
    std::wstring range; // empty when the request had none
    std::wstring ifRange;
    std::wstring userAgent;
    std::uint64_t status = 0;
};

class LoopbackServer
{
public:
    static const LoopbackServer& Get()
    {
        static const LoopbackServer server;
        return server;
    }

    bool Running() const { return port_ != 0; }
    std::wstring Url(std::wstring_view path) const
    {
        return L"http://127.0.0.1:" + std::to_wstring(port_) + L"/" + std::wstring(path);
    }
    std::filesystem::path File(std::wstring_view path) const { return root_ / std::wstring(path); }

private:
    LoopbackServer()
    {
        const std::filesystem::path folder = PathFromEnvironment(L"PD_RELEASE_SERVER");
        if (folder.empty())
            return;
        root_ = folder / L"root";
        std::string port = ReadBytes(folder / L"port");
        port_ = port.empty() ? 0 : std::stoi(port);
    }

    std::filesystem::path root_;
    int port_ = 0;
};

// The current test's own folder on the server ("t/<suite>.<test>/"), emptied when it starts.
class ServedFolder
{
public:
    ServedFolder()
    {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        name_ = L"t/" + Pd::Core::FromUtf8(std::string(test->test_suite_name()) + "." + test->name()) + L"/";
        std::error_code ignored;
        std::filesystem::remove_all(LoopbackServer::Get().File(name_), ignored);
        std::filesystem::create_directories(LoopbackServer::Get().File(name_));
    }

    std::wstring Url(std::wstring_view file) const
    {
        return LoopbackServer::Get().Url(name_ + std::wstring(file));
    }
    std::filesystem::path File(std::wstring_view file) const
    {
        return LoopbackServer::Get().File(name_ + std::wstring(file));
    }

    void Put(std::wstring_view file, std::string_view bytes) const { WriteBytes(File(file), bytes); }
    // One action (a JSON object) or a list of them for the first, second, ... request.
    void Rule(std::wstring_view file, std::string_view json) const
    {
        WriteBytes(File(std::wstring(file) + L".rule"), json);
    }

    // Ends a "holdAfter" or "stallUntilGo" of the file.
    void LetGo(std::wstring_view file) const { WriteBytes(File(std::wstring(file) + L".go"), ""); }

    std::vector<ServedRequest> Requests(std::wstring_view file) const
    {
        std::vector<ServedRequest> requests;
        std::ifstream log(File(std::wstring(file) + L".log"), std::ios::binary);
        for (std::string line; std::getline(log, line);)
            if (auto value = Pd::Json::Parser(Pd::Core::FromUtf8(line)).Parse())
                requests.push_back({value->TextOr(L"range", L""), value->TextOr(L"ifRange", L""),
                                    value->TextOr(L"userAgent", L""),
                                    value->Member(L"status").AsUInt64().value_or(0)});
        return requests;
    }

private:
    std::wstring name_;
};

// A component the fixture built from fixtures.json, with the sizes and digests the builder
// computed.
inline const Pd::Core::Component& Fixture(std::wstring_view id)
{
    static const Pd::Core::Manifest manifest = [] {
        auto parsed = Pd::Core::ParseManifest(
            ReadBytes(LoopbackServer::Get().File(L"fixtures/manifest.json")), L"fixtures/");
        EXPECT_TRUE(parsed) << "the release_fixtures test builds the fixtures";
        return parsed ? std::move(*parsed) : Pd::Core::Manifest{};
    }();
    static const Pd::Core::Component none;
    const auto* component = manifest.FindComponent(id);
    EXPECT_NE(component, nullptr) << "no fixture " << Pd::Core::ToUtf8(id);
    return component ? *component : none;
}

// The compressed file of a fixture component.
inline std::wstring FixtureFile(std::wstring_view id)
{
    return LoopbackServer::Get().File(L"fixtures/" + std::wstring(id) + L".zst").wstring();
}

} // namespace PdTest
