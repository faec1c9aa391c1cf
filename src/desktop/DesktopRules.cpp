#include "desktop/DesktopRules.h"

#include <algorithm>

namespace kv::desktop {

ScreenPoint PlacedPosition(int width, int height, int screenWidth, int screenHeight, int raise) {
  return {screenWidth / 2 - width / 2, screenHeight / 2 - height / 2 - raise};
}

ScreenPoint KeptOnScreen(ScreenPoint wanted, int width, int height, const ScreenArea& area) {
  if (area.Empty()) return wanted;
  const int x = std::max(area.left, std::min(wanted.x, area.left + area.width - width));
  const int y = std::max(area.top, std::min(wanted.y, area.top + area.height - height));
  return {x, y};
}

YesNoAnswer YesNoOfCharacter(char32_t c) {
  switch (c) {
    case U'y': case U'Y': case U'\u0E31': case U'\u0E4D': return YesNoAnswer::kYes;  // ั ํ on the Y key
    case U'n': case U'N': case U'\u0E37': case U'\u0E4C': return YesNoAnswer::kNo;   // ื ์ on the N key
    default: return YesNoAnswer::kNone;
  }
}

YesNoAnswer YesNoOfScanCode(unsigned scanCode) {
  constexpr unsigned kScanY = 0x15;
  constexpr unsigned kScanN = 0x31;
  if (scanCode == kScanY) return YesNoAnswer::kYes;
  if (scanCode == kScanN) return YesNoAnswer::kNo;
  return YesNoAnswer::kNone;
}

}  // namespace kv::desktop
