// The process-wide language: current code, whether it was chosen automatically, and the texts of
// the current language file. Lookups share the lock; a change of language exchanges everything at
// once, so readers see either the old or the new language as a whole.
#pragma once

#include <cstdint>
#include <optional>
#include <shared_mutex>
#include <string>
#include <unordered_map>

namespace Pd::Core
{

using TextMap = std::unordered_map<std::uint32_t, std::wstring>;

class LanguageState
{
public:
    static LanguageState& Instance();

    struct Choice
    {
        std::wstring code;
        bool automatic = false;
    };

    // Code and automatic flag, read together under the shared lock.
    Choice Current() const;
    std::wstring Code() const;

    // The translation of an id when the current language has a non-empty one.
    std::optional<std::wstring> Translation(std::uint32_t id) const;

    // Exchanges code, automatic flag and the whole map under the exclusive lock. The map is built
    // by the caller beforehand; the old one is destroyed after the lock is released.
    void Replace(std::wstring code, bool automatic, TextMap texts);

private:
    LanguageState() = default;

    mutable std::shared_mutex lock_;
    std::wstring code_ = L"en";
    bool automatic_ = false;
    TextMap texts_;
};

} // namespace Pd::Core
