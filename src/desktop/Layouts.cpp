#include "desktop/Layouts.h"

#include <algorithm>
#include <cstdint>

namespace kv::desktop {
namespace {

constexpr int kIconSize = 32;
constexpr int kIconLeft = 12;
constexpr int kTop = 12;
constexpr int kDetailsWidth = 520;  // client width of a dialog with a details area
constexpr int kDetailsMargin = 12;
constexpr int kDetailsGap = 12;
constexpr int kWarningTop = 93;

}  // namespace

int Scaled(int px, int dpi) {
  const int64_t product = static_cast<int64_t>(px) * dpi;
  const int64_t half = product >= 0 ? 48 : -48;
  return static_cast<int>((product + half) / 96);
}

SmallDialogLayout LayOutSmallDialog(const SmallDialogInput& in) {
  const auto S = [&](int px) { return Scaled(px, in.dpi); };
  const SmallDialogGeometry& g = in.geometry;
  SmallDialogLayout out;
  const int smallest = S(g.minOuterWidth) - in.frameWidth;
  int clientWidth = std::max(in.textWidth + S(g.extraWidth), smallest);
  int textWidth = in.textWidth;
  // Nothing else limits the width.
  if (in.screenWidth > 0 && clientWidth + in.frameWidth > in.screenWidth) {
    clientWidth = std::max(in.screenWidth - in.frameWidth, smallest);
    textWidth = clientWidth - S(g.extraWidth);
    out.elide = true;
    out.elideWidth = textWidth;
  }
  const int lines = std::max(1, in.lineCount);
  int extraHeight = (lines - 1) * in.lineSpacing;
  out.icon = {S(kIconLeft), S(kTop), S(kIconSize), S(kIconSize)};
  out.text = {S(g.textLeft), S(kTop), textWidth + in.textSlack, in.firstLineHeight + extraHeight};
  if (in.detailsHeight > 0) {
    // Wide enough for a catalogue line, never wider than the screen.
    int wanted = std::max(clientWidth, S(kDetailsWidth));
    if (in.screenWidth > 0) wanted = std::min(wanted, std::max(clientWidth, in.screenWidth - in.frameWidth));
    clientWidth = wanted;
    out.details = {S(kDetailsMargin), S(g.buttonTop) + extraHeight - S(kDetailsGap / 2),
                   clientWidth - 2 * S(kDetailsMargin), in.detailsHeight};
    extraHeight += in.detailsHeight + S(kDetailsGap);
  }
  out.clientWidth = clientWidth;
  out.clientHeight = S(g.clientHeight) + extraHeight;
  out.extraHeight = extraHeight;

  const int top = S(g.buttonTop) + extraHeight;
  const int buttonWidth = S(kSmallDialogButtonWidth);
  const int buttonHeight = S(kSmallDialogButtonHeight);
  if (in.buttonCount >= 2) {
    const int secondWidth = std::max(buttonWidth, in.secondButtonWidth);
    const int rowWidth = buttonWidth + S(kSmallDialogButtonGap) + secondWidth;
    // A wide second button widens a narrow dialog rather than leaving its edge.
    clientWidth = std::max(clientWidth, rowWidth + 2 * S(kIconLeft));
    out.clientWidth = clientWidth;
    const int left = (clientWidth - rowWidth) / 2;
    out.buttons[0] = {left, top, buttonWidth, buttonHeight};
    out.buttons[1] = {left + buttonWidth + S(kSmallDialogButtonGap), top, secondWidth, buttonHeight};
  } else {
    out.buttons[0] = {(clientWidth - buttonWidth) / 2, top, buttonWidth, buttonHeight};
  }
  if (in.warningWidth > 0 && in.warningHeight > 0) {
    const int width = in.warningWithinDialog ? std::min(clientWidth, in.warningWidth) : in.warningWidth;
    out.warning = {(clientWidth - width) / 2, S(kWarningTop) + extraHeight, width, in.warningHeight};
  }
  return out;
}

CheckWindowLayout LayOutCheckWindow(int dpi) {
  const auto S = [&](int px) { return Scaled(px, dpi); };
  constexpr int kMargin = 10;
  constexpr int kLine = 20;
  constexpr int kButtonWidth = 100;
  constexpr int kButtonHeight = 25;
  CheckWindowLayout out;
  out.count = {S(kMargin), S(kMargin), S(kCheckWindowWidth - 2 * kMargin), S(kLine)};
  const int buttonTop = kCheckWindowHeight - kMargin - kButtonHeight;
  const int listTop = kMargin + kLine + 6;
  out.list = {S(kMargin), S(listTop), S(kCheckWindowWidth - 2 * kMargin), S(buttonTop - 8 - listTop)};
  out.close = {S(kCheckWindowWidth - kMargin - kButtonWidth), S(buttonTop), S(kButtonWidth), S(kButtonHeight)};
  out.copy = {S(kCheckWindowWidth - kMargin - 2 * kButtonWidth - 6), S(buttonTop), S(kButtonWidth), S(kButtonHeight)};
  // The text column fills what the list leaves after its frame and a vertical scroll bar.
  const int fixed = 110 + 120 + 170;
  out.columns = {S(110), S(120), S(170), S(kCheckWindowWidth - 2 * kMargin - fixed - 24)};
  return out;
}

}  // namespace kv::desktop
