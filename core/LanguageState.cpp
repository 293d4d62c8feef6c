#include "core/LanguageState.h"

#include <mutex>

namespace Pd::Core
{

LanguageState& LanguageState::Instance()
{
    // Never destroyed: threads may still look texts up while the process ends.
    static LanguageState* state = new LanguageState;
    return *state;
}

LanguageState::Choice LanguageState::Current() const
{
    std::shared_lock guard(lock_);
    return Choice{code_, automatic_};
}

std::wstring LanguageState::Code() const
{
    std::shared_lock guard(lock_);
    return code_;
}

std::optional<std::wstring> LanguageState::Translation(std::uint32_t id) const
{
    std::shared_lock guard(lock_);
    auto found = texts_.find(id);
    if (found == texts_.end() || found->second.empty())
        return std::nullopt;
    return found->second;
}

void LanguageState::Replace(std::wstring code, bool automatic, TextMap texts)
{
    {
        std::unique_lock guard(lock_);
        code_.swap(code);
        automatic_ = automatic;
        texts_.swap(texts);
    }
    // texts (now the old map) and code go here, outside the lock.
}

} // namespace Pd::Core
