#include "core/CallbackGate.h"

#include <algorithm>

namespace Pd::Core
{

bool CallbackGate::Enter()
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return false;
    running_.push_back(std::this_thread::get_id());
    return true;
}

void CallbackGate::Leave()
{
    std::lock_guard lock(mutex_);
    running_.erase(std::ranges::find(running_, std::this_thread::get_id()));
    idle_.notify_all();
}

void CallbackGate::Close()
{
    std::unique_lock lock(mutex_);
    closed_ = true;
    idle_.wait(lock, [&] {
        return std::ranges::all_of(running_,
                                   [](std::thread::id id) { return id == std::this_thread::get_id(); });
    });
}

} // namespace Pd::Core
