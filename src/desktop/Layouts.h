// The pixel layouts both desktop front ends draw, as plain rectangles in layout pixels
// (100 %): the small message and question dialogs, and the main window. A front end
// measures its text, creates its controls and puts them where these say; the Win32 one
// scales by the window's DPI, Qt scales on its own.
#pragma once

#include <array>

namespace kv::desktop {

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  int Right() const { return x + width; }
  int Bottom() const { return y + height; }
  bool operator==(const Rect&) const = default;
};

// A layout measure at `dpi` (96 is 100 %): rounded to the nearest pixel, halves away
// from zero, as the Win32 front end scales every measure.
int Scaled(int px, int dpi);

// ---- The small dialogs (message, question, question with the support warning) -------

// Fixed measures of one dialog kind, client-area pixels.
struct SmallDialogGeometry {
  int clientHeight;
  int extraWidth;     // client width = text width + extraWidth
  int minOuterWidth;  // smallest width of the window, frame included
  int textLeft;
  int buttonTop;
};

inline constexpr SmallDialogGeometry kMessageGeometry = {88, 88, 198, 60, 53};
inline constexpr SmallDialogGeometry kQuestionGeometry = {92, 88, 200, 64, 57};
inline constexpr SmallDialogGeometry kTechnicalSupportGeometry = {116, 138, 200, 64, 58};

inline constexpr int kSmallDialogButtonWidth = 66;
inline constexpr int kSmallDialogButtonHeight = 25;
inline constexpr int kSmallDialogButtonGap = 5;
inline constexpr int kSmallDialogDetailsLines = 8;  // the details area scrolls past these
inline constexpr char kTechnicalSupportWarning[] = "*** WARNING: FOR TECHNICAL SUPPORT ONLY! ***";
inline constexpr int kTechnicalSupportWarningWidth = 320;
inline constexpr int kTechnicalSupportWarningHeight = 14;

// What a front end measured (device pixels) for one small dialog.
struct SmallDialogInput {
  SmallDialogGeometry geometry;
  int dpi = 96;
  int frameWidth = 0;    // outer width less client width
  int screenWidth = 0;   // 0: unknown (nothing limits the width)
  int textWidth = 0;     // the widest line of the text
  int lineCount = 1;     // the text's lines (line feeds)
  int firstLineHeight = 0;
  int lineSpacing = 0;   // what each further line adds
  int textSlack = 0;     // what the text's control needs beyond the text's width
  int detailsHeight = 0; // 0: no details area
  int buttonCount = 1;   // OK; or Yes and No; or OK and "เปิดรายงาน"
  int secondButtonWidth = 0;  // the second button's text needs this much (0: the standard width)
  // The support warning line's size; 0 × 0: none. `warningWithinDialog`: a line wider
  // than the dialog is cut to its width (a window system that clips a control's text to
  // the control would otherwise lose both of its ends).
  int warningWidth = 0;
  int warningHeight = 0;
  bool warningWithinDialog = false;
};

// Where everything goes (device pixels). A text wider than the screen gets a dialog as
// wide as the screen and each line is shortened in the middle to `elideWidth`
// (elide true): both ends of a long text stay readable — the long texts are the ones
// that name a path or a file, whose start says what happened and whose end which file.
struct SmallDialogLayout {
  int clientWidth = 0;
  int clientHeight = 0;
  int extraHeight = 0;  // below the first text line: further lines and the details area
  bool elide = false;
  int elideWidth = 0;
  Rect icon;
  Rect text;
  Rect details;  // empty without a details area
  std::array<Rect, 2> buttons{};  // OK, or Yes and No, or OK and "เปิดรายงาน"
  Rect warning;  // empty without the warning line
};

SmallDialogLayout LayOutSmallDialog(const SmallDialogInput& in);

// ---- The main window ----------------------------------------------------------------

struct MainWindowLayout {
  // Client area: the layout's 438 × 158 and a line for the run's status under the bar,
  // which pushes the buttons and the footer down.
  static constexpr int kStatusHeight = 18;
  static constexpr int kClientWidth = 438;
  static constexpr int kClientHeight = 158 + kStatusHeight;

  // The warning panel (a lowered outer bevel around a raised inner one) and what is in
  // it, relative to the panel.
  static constexpr Rect kPanel = {19, 8, 400, 49};
  static constexpr Rect kPanelInner = {1, 1, 398, 47};
  static constexpr Rect kPicture = {9, 8, 32, 32};
  static constexpr Rect kHeading = {52, 4, 340, 20};
  static constexpr Rect kBackupLine = {52, 24, 340, 20};

  static constexpr Rect kBar = {19, 66, 401, 17};
  static constexpr Rect kStatus = {19, 85, 401, kStatusHeight};
  static constexpr Rect kFix = {140, 94 + kStatusHeight, 75, 25};
  static constexpr Rect kCancel = {223, 94 + kStatusHeight, 75, 25};
  static constexpr Rect kFooter = {0, 132 + kStatusHeight, kClientWidth, 16};

  // A rectangle of the panel in the window's client area.
  static constexpr Rect InWindow(const Rect& inPanel) {
    return {kPanel.x + inPanel.x, kPanel.y + inPanel.y, inPanel.width, inPanel.height};
  }
};

// ---- The check's findings window (the company list's "ตรวจสอบโครงสร้างแฟ้ม...") ------

inline constexpr int kCheckWindowWidth = 820;  // client area
inline constexpr int kCheckWindowHeight = 440;

struct CheckWindowLayout {
  Rect count;  // the line with the number of damage and notes
  Rect list;
  Rect copy;   // "คัดลอก (&C)"
  Rect close;  // "ปิด"
  std::array<int, 4> columns{};  // file, kind, place, text; the text takes the rest
};

// The window at `dpi` (96 is 100 %), device pixels.
CheckWindowLayout LayOutCheckWindow(int dpi);

}  // namespace kv::desktop
