// Connection handles, handed out round-robin from 0x0040 to 0x0EFF: the handle after 0x0EFF is
// 0x0040, and a handle the caller still counts as taken is passed over. Every handle handed out
// is used up, whether or not its attempt makes a connection.
#pragma once

#include <cstdint>
#include <optional>

namespace Pd::Bt
{

class HandleAllocator
{
public:
    static constexpr std::uint16_t First = 0x0040;
    static constexpr std::uint16_t Last = 0x0EFF;

    // The next handle that `taken` does not claim, or nothing when it claims them all.
    template <typename Taken> std::optional<std::uint16_t> Next(Taken&& taken)
    {
        for (int tried = First; tried <= Last; ++tried)
        {
            std::uint16_t handle = next_;
            next_ = handle >= Last ? First : static_cast<std::uint16_t>(handle + 1);
            if (!taken(handle))
                return handle;
        }
        return std::nullopt;
    }

    // Where the next search starts (tests reach the end of the range without using up the rest).
    void StartAt(std::uint16_t handle) { next_ = handle; }

private:
    std::uint16_t next_ = First;
};

} // namespace Pd::Bt
