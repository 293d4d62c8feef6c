// What the emulated controller reaches outside itself: real LE devices, the advertisement
// watcher, the cipher and the random generator. Empty members leave the controller without a
// radio: every connection attempt fails and scanning finds nothing.
#pragma once

#include "bt/controller/LeLink.h"
#include "bt/controller/Scanner.h"
#include "bt/crypto/SecurityFunctions.h"
#include "core/StoppableSleep.h"

#include <chrono>
#include <functional>
#include <span>
#include <stop_token>

namespace Pd::Bt
{

struct ControllerServices
{
    LinkConnector connectLink;
    ScannerFactory makeScanner;
    // Throw std::exception with the failure's text.
    std::function<void(std::span<std::uint8_t>)> random = RandomBytes;
    std::function<Block(const Block& key, const Block& plaintext)> encrypt = Aes128Encrypt;
    // How the controller lets time pass (the inquiry's length); tests pass a clock of their own.
    std::function<bool(std::stop_token, std::chrono::milliseconds)> wait = Core::SleepFor;
};

} // namespace Pd::Bt
