// The Magisk APK handed to Android in Magisk mode: only the file whose digest still matches the
// one recorded when it was downloaded and checked.
#include "host/elevation/Connection.h"
#include "host/elevation/ElevationBridge.h"

#include "core/Log.h"
#include "core/LogEscape.h"
#include "core/Sha256.h"
#include "core/Strings.h"
#include "release/download/Magisk.h"
#include "release/verify/ReleaseFiles.h"

#include <fmt/format.h>

namespace Pd::Bio::Elevation
{

void SendMagiskApk(SOCKET socket)
{
    auto stored = Core::Magisk::Verified();
    if (!stored)
    {
        Core::Log("elevate: Magisk mode is on, but there is no verified Magisk APK");
        return;
    }
    // A larger file reads as empty, so it is never sent either.
    const std::string apk = Core::ReadFileBytes(stored->path, MaxApkSize);
    Sha256 hasher;
    hasher.Update(apk);
    if (apk.empty() || hasher.Finish() != stored->sha256)
    {
        Core::Log("elevate: the Magisk APK changed since it was checked; not sent");
        return;
    }
    const auto start = ApkFrameStart(static_cast<std::uint32_t>(apk.size()));
    if (!SendAll(socket, start.data(), start.size()) || !SendAll(socket, apk.data(), apk.size()))
        return;
    Core::Log(fmt::format("elevate: Magisk {} sent to Android ({} bytes)",
                          Core::EscapeForLog(Core::ToUtf8(stored->tag), 64), apk.size()));
}

} // namespace Pd::Bio::Elevation
