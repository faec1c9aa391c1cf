#include "ui/NumberText.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kv::ui {

namespace {

constexpr size_t kMaxNumberText = 20;  // the integer and fixed-point texts are short strings of 20
constexpr int kMaxMoneyWidth = 25;

std::string Fixed(int decimals, long double x) {
  char buffer[128];
  // A value too large for the buffer is cut anyway: only the first 20 characters count.
  std::snprintf(buffer, sizeof buffer, "%.*Lf", decimals, x);
  std::string text(buffer);
  if (text.size() > kMaxNumberText) text.resize(kMaxNumberText);
  return text;
}

// The whole text read as a number; false when it is not one.
bool ReadNumber(const std::string& text, long double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtold(text.c_str(), &end);
  return end != text.c_str() && *end == '\0';
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

std::string IntToText(int64_t n) { return std::to_string(n); }

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
