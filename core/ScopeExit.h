// Runs a function when the scope that declares it ends, however it ends: for a one-off clean-up
// that no owning wrapper of core/Handles.h fits (a flag to clear, a count to lower).
#pragma once

#include <concepts>
#include <utility>

namespace Pd::Core
{

template <std::invocable OnExit> class ScopeExit
{
public:
    explicit ScopeExit(OnExit onExit) : onExit_(std::move(onExit)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() { onExit_(); }

private:
    OnExit onExit_;
};

} // namespace Pd::Core
