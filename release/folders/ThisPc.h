// Whether a network path's server is this PC. "\\localhost\C$\x" or "\\<this PC>\share\x" reaches
// a folder of this PC through its file sharing, where the share's server, not this process, follows
// the links on the way, so such a path is refused as an install folder like any other share form
// that does not name a folder of a drive directly.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Pd::Install
{

// This PC's own names: its NetBIOS name and its DNS host and full names, as Windows tells them.
std::vector<std::wstring> ThisPcNames();

// Whether the server of a network path names this PC: "localhost", an IPv4 loopback address in
// any form Windows reads (127.0.0.1, 127.1, 0x7f.1, 2130706433), the IPv6 loopback address
// (::1, [::1], 0:0::1, ::ffff:127.0.0.1, 0--1.ipv6-literal.net), or one of the given names. Letter
// case and a trailing dot do not matter.
bool IsThisPc(std::wstring_view server, const std::vector<std::wstring>& names);

} // namespace Pd::Install
