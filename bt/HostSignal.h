// Tells the window and the tray that the host's or a bridge's state changed.
#pragma once

namespace Pd::Bt
{

// Sets "Local\Peldra.Host.Changed" when a window created it, then asks the tray to refresh.
void SignalHostChanged() noexcept;

} // namespace Pd::Bt
