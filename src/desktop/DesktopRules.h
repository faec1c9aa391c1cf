// Rules that every desktop front end shares, kept apart from any window system: where a
// dialog is placed, how a window stays on the screen, and which key press answers a
// yes/no question. The front ends turn their own events and sizes into these plain
// numbers.
#pragma once

namespace kv::desktop {

struct ScreenPoint {
  int x = 0;
  int y = 0;
  bool operator==(const ScreenPoint&) const = default;
};

// The free area of a screen (without its panels); empty when unknown.
struct ScreenArea {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  bool Empty() const { return width <= 0 || height <= 0; }
};

// Top-left corner of a window of outer size width × height (frame included) centred on a
// screen of screenWidth × screenHeight: integer halves, truncated, and `raise` pixels
// above the centre (5 on current Windows versions, 3 on the old ones).
ScreenPoint PlacedPosition(int width, int height, int screenWidth, int screenHeight, int raise = 5);

// Where a window of outer size width × height wanted at `wanted` goes so that it lies
// within `area`: past the right or bottom edge it moves back, and its top-left corner
// (the title bar and the first controls) always stays on the screen.
ScreenPoint KeptOnScreen(ScreenPoint wanted, int width, int height, const ScreenArea& area);

// The letters that answer a yes/no question: Y and N in either case, and the Thai
// letters the standard Thai layout puts on those two keys (with or without Shift), so a
// question can be answered while the Thai layout is active.
enum class YesNoAnswer { kNone, kYes, kNo };
YesNoAnswer YesNoOfCharacter(char32_t c);

// The same by the key's position: the PC keyboard's set-1 scan codes of the Y and N keys,
// which do not depend on the active layout.
YesNoAnswer YesNoOfScanCode(unsigned scanCode);

// The access letters of the desktop's menus and buttons (Y, N, O, U, K, C) by the Latin
// letter in either case, the Thai letters the standard Thai layout puts on their keys,
// or the key's set-1 scan code: the upper-case letter, or 0 for another key.
char AccessLetterOfCharacter(char32_t c);
char AccessLetterOfScanCode(unsigned scanCode);

}  // namespace kv::desktop
