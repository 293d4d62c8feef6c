// Starting and ending the host's threads.
#pragma once

#include "host/background/BackgroundHost.h"

#include <string_view>
#include <thread>

namespace Pd::Host
{

// Starts body on a new thread inside a multithreaded COM apartment (or, with ownApartment false,
// in none: the body enters its own). A thread that cannot be created is logged with its name and
// leaves the slot empty; an exception out of the body is logged and ends only that thread.
void StartThread(std::jthread& slot, std::string_view name, const ThreadBody& body,
                 bool ownApartment = false);

// Requests stop and joins; the slot is empty afterwards.
void StopThread(std::jthread& slot);

} // namespace Pd::Host
