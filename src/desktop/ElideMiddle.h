// The one rule by which both desktop front ends shorten a line that is wider than the
// screen: its middle gives way to "…", so its start (what happened) and its end (which
// path or file) stay readable. The front end measures; this decides where to cut.
#pragma once

#include <cstddef>

namespace kv::desktop {

// Whether a UTF-16 line may be cut just before `unit`: never inside a surrogate pair, and
// never between a Thai letter and the vowel or tone mark written above or below it.
constexpr bool MayCutBefore(char32_t unit) {
  if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
  return !(unit == 0x0E31 || (unit >= 0x0E34 && unit <= 0x0E3A) || (unit >= 0x0E47 && unit <= 0x0E4E));
}

// `line` (a UTF-16 string: QString-like std::u16string or Windows' std::wstring) as it is
// when `widthOf(line)` fits `maxWidth`; otherwise as much of its start and of its end as
// fit around "…", the start keeping the odd unit.
template <class String, class WidthOf>
String ElideMiddle(const String& line, int maxWidth, const WidthOf& widthOf) {
  using Unit = typename String::value_type;
  if (widthOf(line) <= maxWidth) return line;
  const size_t n = line.size();
  const auto build = [&](size_t keep) {
    size_t head = (keep + 1) / 2;
    while (head > 0 && head < n && !MayCutBefore(static_cast<char32_t>(line[head]))) --head;
    size_t tailStart = n - (keep - (keep + 1) / 2);
    while (tailStart < n && !MayCutBefore(static_cast<char32_t>(line[tailStart]))) ++tailStart;
    if (tailStart < head) tailStart = head;
    String cut = line.substr(0, head);
    cut += static_cast<Unit>(0x2026);
    cut += line.substr(tailStart);
    return cut;
  };
  // The most units kept that still fit.
  size_t low = 0;
  size_t high = n;  // n itself does not fit
  while (high - low > 1) {
    const size_t mid = low + (high - low) / 2;
    if (widthOf(build(mid)) <= maxWidth) {
      low = mid;
    } else {
      high = mid;
    }
  }
  return build(low);
}

}  // namespace kv::desktop
