#include "host/background/HostThreads.h"

#include "core/ComApartment.h"
#include "core/Log.h"

#include <fmt/format.h>

#include <exception>
#include <optional>
#include <string>
#include <system_error>

namespace Pd::Host
{

void StartThread(std::jthread& slot, std::string_view name, const ThreadBody& body, bool ownApartment)
{
    try
    {
        slot = std::jthread([body, ownApartment, name = std::string(name)](std::stop_token stop) {
            std::optional<Core::ComApartment> apartment;
            if (!ownApartment)
                apartment.emplace(Core::Apartment::Multithreaded);
            try
            {
                body(stop);
            }
            catch (const std::exception& error)
            {
                Core::Log(fmt::format("host: the {} ended with an error: {}", name, error.what()));
            }
        });
    }
    catch (const std::system_error& error)
    {
        Core::Log(fmt::format("host: the {} could not be started: {}", name, error.what()));
        slot = std::jthread();
    }
}

void StopThread(std::jthread& slot)
{
    if (!slot.joinable())
        return;
    slot.request_stop();
    slot.join();
    slot = std::jthread();
}

} // namespace Pd::Host
