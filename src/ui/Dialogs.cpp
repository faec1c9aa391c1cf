#include "ui/Dialogs.h"

namespace kv::ui {

std::string ApplyQuestionRule(std::string_view text) {
  std::string out(text);
  // An empty text stays empty: every caller passes one, and an empty line is all it can show.
  if (!out.empty() && out.back() != '?' && out.back() != '.') out += '?';
  return out;
}

}  // namespace kv::ui
