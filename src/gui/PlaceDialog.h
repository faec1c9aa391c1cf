// Where the program's dialogs appear on the screen.
#pragma once

#include <QPoint>
#include <QSize>

class QWidget;

namespace kv::gui {

// Top-left corner of a window of outer size `window` (frame included) placed by
// PlaceDialog on a screen of size `screen`: centred across, 5 pixels above the centre.
QPoint PlacedPosition(QSize window, QSize screen);

// Centres `window` on the primary screen (read afresh) by PlacedPosition, then lets the
// event loop handle what is waiting, once, so the window is drawn at once in its place.
// Call it while the window is being shown, after its size has been set.
void PlaceDialog(QWidget* window);

// Plain centring on the primary screen (no offset, no event processing).
void CentreOnScreen(QWidget* window);

// Outer (frame-included) size of a top-level window; the client size where the window
// system has not told its frame yet.
QSize OuterSize(const QWidget* window);

}  // namespace kv::gui
