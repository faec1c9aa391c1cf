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

namespace {

struct AccessKey {
  char letter;
  unsigned scanCode;
  char32_t thai;
  char32_t thaiShifted;
};

// The standard Thai layout's letters on the keys of the access letters the program uses.
constexpr AccessKey kAccessKeys[] = {
    {'Y', 0x15, U'\u0E31', U'\u0E4D'},  // ั ํ
    {'N', 0x31, U'\u0E37', U'\u0E4C'},  // ื ์
    {'O', 0x18, U'\u0E19', U'\u0E2F'},  // น ฯ
    {'U', 0x16, U'\u0E35', U'\u0E4A'},  // ี ๊
    {'K', 0x25, U'\u0E32', U'\u0E29'},  // า ษ
    {'C', 0x2E, U'\u0E41', U'\u0E09'},  // แ ฉ
};

}  // namespace

char AccessLetterOfCharacter(char32_t c) {
  if (c >= U'a' && c <= U'z') c -= U'a' - U'A';
  for (const AccessKey& key : kAccessKeys) {
    if (c == static_cast<char32_t>(key.letter) || c == key.thai || c == key.thaiShifted) return key.letter;
  }
  return 0;
}

char AccessLetterOfScanCode(unsigned scanCode) {
  for (const AccessKey& key : kAccessKeys) {
    if (scanCode == key.scanCode) return key.letter;
  }
  return 0;
}

namespace {
YesNoAnswer YesNoOfLetter(char letter) {
  return letter == 'Y' ? YesNoAnswer::kYes : letter == 'N' ? YesNoAnswer::kNo : YesNoAnswer::kNone;
}
}  // namespace

YesNoAnswer YesNoOfCharacter(char32_t c) { return YesNoOfLetter(AccessLetterOfCharacter(c)); }

YesNoAnswer YesNoOfScanCode(unsigned scanCode) { return YesNoOfLetter(AccessLetterOfScanCode(scanCode)); }

}  // namespace kv::desktop
