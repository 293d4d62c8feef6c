#include "ui/MainLayout.h"

#include <algorithm>

namespace Pd::Ui
{
namespace
{

D2D1_RECT_F Box(float x, float y, float width, float height)
{
    return D2D1_RECT_F{x, y, x + width, y + height};
}

} // namespace

MainLayout LayOutMainWindow(const MainLayoutInput& in)
{
    MainLayout out{};
    const float right = in.right, height = in.height, W = in.buttonWidth, m = right - 26;
    float x = 6;
    for (float width : in.captionWidths)
    {
        out.captions.push_back(D2D1_RECT_F{x, 4, x + width + 20, 32});
        x += width + 20 + 2;
    }
    out.donate = Box(m - W, 5, W, 26);
    out.updateApp = Box(m - 2 * W - 8, 5, W, 26);
    out.headerCard = {12, 38, right - 12, 276};
    out.titleLine = {26, 52, m, 82};
    out.releaseLine = {26, 82, m, 102};
    out.sourceRow = {26, 114, m, 140};
    out.folderRow = {26, 146, m - W - 8, 172};
    out.downloadRow = {26, 178, m - W - 8, 204};
    out.progressTrack = {26, 216, m, 220};
    out.statusLine = {26, 232, m - 3 * W - 28, 262};
    out.source = Box(26 + in.labelWidth, 114, m - 26 - in.labelWidth, 26);
    out.change = Box(m - W, 146, W, 26);
    out.bluetooth = Box(m - W, 178, W, 26);
    out.install = Box(m - W, 232, W, 30);
    out.launch = Box(m - 2 * W - 8, 232, W, 30);
    out.cancel = Box(m - 3 * W - 16, 232, W, 30);

    float logHeight = in.logVisible ? std::max(std::min(0.4f * height, 180.0f), 110.0f) : 0.0f;
    float logTop = (height - 12) - logHeight - 28 - (in.logVisible ? 4.0f : 0.0f);
    out.logButton = Box(8, logTop, 164, 28);
    out.logCard = {12, logTop + 32, right - 12, height - 12};
    out.logPane = Box(16, logTop + 36, right - 32, (height - 12) - 4 - (logTop + 36));
    float split = 12 + 0.46f * (right - 24 - 10);
    float cardBottom = std::max(logTop - 6, 366.0f);
    out.hostCard = {12, 286, split, cardBottom};
    out.componentsCard = {split + 10, 286, right - 12, cardBottom};
    out.reg = Box(split - 14 - in.registerWidth, 535, in.registerWidth, 30);
    return out;
}

float MinimumClientHeight(int components, bool logVisible)
{
    float n = static_cast<float>(std::max(components, 7));
    float h = std::max(24 * n + 58, 292.0f) + 286 + 6 + 28 + 12;
    return h + (logVisible ? 180.0f : 0.0f);
}

} // namespace Pd::Ui
