// What the emulated controller reaches outside itself: real LE devices, the advertisement
// watcher, the cipher and the random generator. Empty members leave the controller without a
// radio: every connection attempt fails and scanning finds nothing.
#pragma once

#include "bt/controller/LeLink.h"
#include "bt/controller/Scanner.h"
#include "bt/crypto/SecurityFunctions.h"

#include <functional>
#include <span>

namespace Pd::Bt
{

struct ControllerServices
{
    LinkConnector connectLink;
    ScannerFactory makeScanner;
    // Throw std::exception with the failure's text.
    std::function<void(std::span<std::uint8_t>)> random = RandomBytes;
    std::function<Block(const Block& key, const Block& plaintext)> encrypt = Aes128Encrypt;
};

} // namespace Pd::Bt
