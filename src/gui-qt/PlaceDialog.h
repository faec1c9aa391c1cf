// Where the program's dialogs appear on the screen.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace kv::gui {

// Top-left corner of a window of outer size `window` (frame included) placed by
// PlaceDialog on a screen of size `screen`: centred across, 5 pixels above the centre.
QPoint PlacedPosition(QSize window, QSize screen);

// Where a window of outer size `outer` wanted at `wanted` goes so that it lies within
// `available` (the screen without its panels); when it is larger, its top-left corner
// stays on the screen.
QPoint KeptOnScreen(QPoint wanted, QSize outer, QRect available);

// Centres `window` on the primary screen (read afresh) by PlacedPosition, then lets the
// event loop handle what is waiting, once, so the window is drawn at once in its place;
// placed again once the window system has told the frame. A window larger than the
// screen's free area is shrunk to it first (its list shows fewer rows), and no window
// is placed off the screen.
// Call it while the window is being shown, after its size has been set.
void PlaceDialog(QWidget* window);

// Plain centring on the primary screen (no offset, no event processing).
void CentreOnScreen(QWidget* window);

// Outer (frame-included) size of a top-level window; the client size where the window
// system has not told its frame yet.
QSize OuterSize(const QWidget* window);

}  // namespace kv::gui
