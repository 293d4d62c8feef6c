// The error a command handler throws to be answered with a given HCI status.
#pragma once

#include <cstdint>
#include <stdexcept>

namespace Pd::Bt
{

class HciStatus : public std::runtime_error
{
public:
    explicit HciStatus(std::uint8_t code) : std::runtime_error("HCI status"), code(code) {}
    std::uint8_t code;
};

} // namespace Pd::Bt
