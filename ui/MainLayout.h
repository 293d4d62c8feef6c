// Where the main window's sections and controls sit, in DIP, for a client size in DIP.
#pragma once

#include <d2d1.h>

#include <vector>

namespace Pd::Ui
{

struct MainLayoutInput
{
    float right = 0;  // client width
    float height = 0; // client height
    float buttonWidth = 120;
    float labelWidth = 80;
    float registerWidth = 100;
    bool logVisible = false;
    std::vector<float> captionWidths; // each caption's text width in format 0
};

struct MainLayout
{
    D2D1_RECT_F headerCard, hostCard, componentsCard, logCard;
    D2D1_RECT_F titleLine, releaseLine, sourceRow, folderRow, downloadRow, progressTrack, statusLine;
    D2D1_RECT_F donate, updateApp, source, change, bluetooth, install, launch, cancel, logButton, logPane,
        reg;
    std::vector<D2D1_RECT_F> captions;
};

MainLayout LayOutMainWindow(const MainLayoutInput& in);

// Client height in DIP the window needs: at least seven component rows, more with the log.
float MinimumClientHeight(int components, bool logVisible);

} // namespace Pd::Ui
