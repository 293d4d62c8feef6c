// The components the CTest fixture built from fixtures.json, with the sizes and digests the
// builder computed, and their compressed files on the loopback server.
#pragma once

#include "core/release/Manifest.h"
#include "core/Strings.h"
#include "tests/core/release/LoopbackServer.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace PdTest
{

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

inline constexpr wchar_t EmptySha256[] = L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

} // namespace PdTest
