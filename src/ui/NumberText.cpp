#include "ui/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>
#include <system_error>

namespace kv::ui {

namespace {

constexpr size_t kMaxNumberText = 20;  // the integer and fixed-point texts are short strings of 20
constexpr int kMaxMoneyWidth = 25;

// Every number text here is made and read with to_chars/from_chars, never with the
// C library's printf/strtold family: those follow the process locale, which the desktop
// front end sets from the user's environment, and under a comma-decimal locale the
// thousands rule below would then turn 100000 into "10,000,000".

// Digits a long double can have before the point (about 4933), and after it before its
// exact binary expansion ends (about 16446); more decimals only add zeros.
constexpr int kMaxDecimals = 16500;
constexpr size_t kMaxIntegerDigits = 4940;

std::string Fixed(int decimals, long double x) {
  decimals = std::clamp(decimals, 0, kMaxDecimals);
  char buffer[128];
  std::string text;
  if (const auto r = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::fixed, decimals);
      r.ec == std::errc()) {
    text.assign(buffer, r.ptr);
  } else {
    // Only the first 20 characters count, but they must be the right ones.
    text.resize(kMaxIntegerDigits + static_cast<size_t>(decimals) + 3);
    const auto w = std::to_chars(text.data(), text.data() + text.size(), x, std::chars_format::fixed, decimals);
    text.resize(w.ec == std::errc() ? static_cast<size_t>(w.ptr - text.data()) : 0);
  }
  if (text.size() > kMaxNumberText) text.resize(kMaxNumberText);
  return text;
}

// A plain decimal text ("-123.45") read exactly: when its digits, taken as one integer,
// stay below 2^64, the extended type holds that integer exactly, and the power of ten
// (up to 10^27) too, so the one division rounds once, correctly. Not every run-time
// library reads extended values that well (some go through double), and the same text
// must give the same value on every system. False for any other form.
bool ReadPlainDecimal(const std::string& text, long double& value) {
  size_t i = text[0] == '-' ? 1 : 0;
  uint64_t digits = 0;
  int exponent = 0, seen = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') return false;
    ++seen;
    if (point) --exponent;
    if (__builtin_mul_overflow(digits, 10u, &digits) ||
        __builtin_add_overflow(digits, static_cast<uint64_t>(c - '0'), &digits))
      return false;
  }
  if (seen == 0) return false;
  if (exponent < -27) return false;
  long double power = 1;
  for (int e = exponent; e < 0; ++e) power *= 10;
  value = static_cast<long double>(digits) / power;
  if (text[0] == '-') value = -value;
  return true;
}

// The whole text read as a number; false when it is not one.
bool ReadNumber(const std::string& text, long double& value) {
  if (text.empty()) return false;
  if (ReadPlainDecimal(text, value)) return true;
  const char* const end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, value, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == end;
}

void EraseAll(std::string& s, char c) { s.erase(std::remove(s.begin(), s.end(), c), s.end()); }

// Inserts `c` in front of the 1-based `position`, clamped to the text as the run-time's
// string insert does.
void InsertAt(std::string& s, long position, char c) {
  position = std::clamp<long>(position, 1, static_cast<long>(s.size()) + 1);
  s.insert(static_cast<size_t>(position - 1), 1, c);
}

void InsertThousandsSeparators(std::string& s, long double v) {
  const long double magnitude = v < 0 ? -v : v;
  const long d = kMoneyDecimals;
  if (magnitude >= 1000) InsertAt(s, static_cast<long>(s.size()) - (d + 3), ',');
  if (magnitude >= 1000000) InsertAt(s, static_cast<long>(s.size()) - (d + 7), ',');
  if (magnitude >= 1000000000) InsertAt(s, static_cast<long>(s.size()) - (d + 11), ',');
}

void FitToWidth(std::string& s, int width) {
  const size_t w = static_cast<size_t>(std::max(width, 0));
  if (s.size() > w) EraseAll(s, ',');
  if (s.size() > w) s.assign(std::min<size_t>(w, kMaxMoneyWidth), '*');
}

}  // namespace

std::string IntToText(int64_t n) {
  char buffer[24];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, n);
  return std::string(buffer, r.ptr);
}

std::string ExtendedToText(int decimals, long double x) {
  decimals = std::max(decimals, 0);
  std::string text = Fixed(decimals, x);
  long double back = 0;
  if (!ReadNumber(text, back)) back = 0;
  // A value that shows as zero shows without a sign: -0.001 gives 0.00, never -0.00.
  if (back == 0) return Fixed(decimals, 0.0L);
  return text;
}

long double TextToExtended(std::string_view text) {
  std::string s(text);
  EraseAll(s, ',');
  long double value = 0;
  if (!ReadNumber(s, value)) return 0;
  return value;
}

void RoundToDecimals(long double& x, int decimals) {
  x = TextToExtended(ExtendedToText(decimals, x));
}

std::string MoneyText(int width, long double x) {
  long double v = x;
  RoundToDecimals(v, kMoneyDecimals);
  std::string s = ExtendedToText(kMoneyDecimals, v);
  InsertThousandsSeparators(s, v);
  FitToWidth(s, width);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), ' ');
  return s;
}

std::string MoneyTextTrim(long double x) {
  std::string s = MoneyText(20, x);
  EraseAll(s, ' ');
  return s;
}

std::string WholeMoneyText(int width, long double x) {
  std::string t = width != 0 ? MoneyText(width + 3, x) : MoneyTextTrim(x);
  // The decimals are cut off, not rounded again: 1234.56 gives 1,234.
  t.resize(t.size() >= 3 ? t.size() - 3 : 0);
  return t;
}

}  // namespace kv::ui
