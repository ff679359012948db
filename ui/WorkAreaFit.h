// Where a top-level window opens in the work area of a monitor (the screen less the taskbar and the
// bars docked at its edges), and how much of its client height it keeps there.
#pragma once

#include <windows.h>

namespace memoline::ui {

struct TWorkAreaFit {
    POINT Position;    // the window's top left corner, in screen pixels
    int ClientHeight;  // the client area's height, in pixels
};

// `frame` is what the window's frame adds to the client area's width and height, `client` the client
// size the layout asks for. The width is kept; the height shrinks to what the work area holds, never
// below `minClientHeight`. The window is centred in the work area; one that is still larger than it
// keeps its top left corner, and so its title bar, inside, so it can be moved.
TWorkAreaFit FitInWorkArea(const RECT& workArea, SIZE frame, SIZE client, int minClientHeight);

// The work area of the monitor under the mouse pointer, where the operator is working (the primary
// monitor's if the pointer's position is unknown).
RECT WorkAreaAtCursor();

}  // namespace memoline::ui
