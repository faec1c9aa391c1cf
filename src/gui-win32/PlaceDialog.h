// Where the program's windows appear on the screen.
#pragma once

#include <windows.h>

namespace kv::gui {

class DialogWindow;

// True on Windows NT 6 (Vista) and later; tested once, at the first call.
bool IsNt6OrLater();

// Centres the window on the primary screen (read afresh) 5 pixels above the middle
// (3 on Windows older than NT 6), outer size with the frame; then lets the window system
// handle what is waiting, once, so the window is drawn at once in its place. A window
// larger than the screen's free area is fitted into it first (FitClient), and no window
// is placed off the screen. Call it while the window is being shown, after its size is set.
void PlaceDialog(DialogWindow& window);

// Plain centring on the primary screen (no offset, no message handling), kept on it.
void CentreOnScreen(DialogWindow& window);

}  // namespace kv::gui
