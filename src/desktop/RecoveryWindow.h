// The temporary-file recovery question's window as both desktop front ends draw it.
#pragma once

namespace kv::desktop {

// The recovery question's window, the same in every window system: layout pixels at
// 100 %, texts UTF-8. Under the explanation (which grows the window when a stand-in
// font needs more lines), a row a line: its caption, and on the first three the file
// name and the two sizes in bold at kValueLeft.
struct RecoveryWindow {
  static constexpr int kClientWidth = 496;
  static constexpr int kClientHeight = 345;
  static constexpr int kParagraphWidth = 429;
  static constexpr int kParagraphHeight = 144;
  static constexpr int kCaptionLeft = 32;
  static constexpr int kValueLeft = 240;
  static const char kParagraph[];
  struct Row {
    const char* caption;
    int top;
  };
  static constexpr Row kRows[] = {{"แฟ้มข้อมูลที่ตรวจพบ:", 184},
                                  {"ขนาดของ .SAV หรือ .IX~:", 208},
                                  {"ขนาดของ .DAT หรือ .IX:", 232},
                                  {"ท่านต้องการเปลี่ยนแฟ้มชั่วคราวกลับมาเป็นแฟ้มข้อมูลปกติ?", 268}};
};

}  // namespace kv::desktop
