#include "platform/Cp874.h"

#include <cstdint>

namespace kv::platform {
namespace {

// Code points of bytes 0x80..0xFF; 0 where CP874 has no character.
constexpr char32_t HighByte(uint8_t b) {
  if (b >= 0xA1 && b <= 0xDA) return static_cast<char32_t>(0x0E01 + (b - 0xA1));
  if (b >= 0xDF && b <= 0xFB) return static_cast<char32_t>(0x0E3F + (b - 0xDF));
  switch (b) {
    case 0x80: return 0x20AC;
    case 0x85: return 0x2026;
    case 0x91: return 0x2018;
    case 0x92: return 0x2019;
    case 0x93: return 0x201C;
    case 0x94: return 0x201D;
    case 0x95: return 0x2022;
    case 0x96: return 0x2013;
    case 0x97: return 0x2014;
    case 0xA0: return 0x00A0;
    default: return 0;
  }
}

int ByteFor(char32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  if (cp >= 0x0E01 && cp <= 0x0E3A) return 0xA1 + static_cast<int>(cp - 0x0E01);
  if (cp >= 0x0E3F && cp <= 0x0E5B) return 0xDF + static_cast<int>(cp - 0x0E3F);
  for (int b = 0x80; b < 0xA1; ++b)
    if (HighByte(static_cast<uint8_t>(b)) == cp) return b;
  return -1;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

namespace {

// Decodes UTF-8 into CP874; false at the first character CP874 cannot hold (or broken
// UTF-8) when `strict`, else such a character becomes '?'.
bool DecodeUtf8(std::string_view utf8, bool strict, std::string& out) {
  out.clear();
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    uint8_t c = static_cast<uint8_t>(utf8[i]);
    char32_t cp;
    size_t len;
    char32_t least;  // the smallest code point this length may carry (no overlong forms)
    if (c < 0x80) { cp = c; len = 1; least = 0; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; len = 2; least = 0x80; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; len = 3; least = 0x800; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; len = 4; least = 0x10000; }
    else {
      if (strict) return false;
      out += '?';
      ++i;
      continue;
    }
    // A broken, cut-off or overlong sequence stands for one '?': its lead byte and the
    // continuation bytes that follow it are dropped, and the text after it is kept.
    size_t k = 1;
    while (k < len && i + k < utf8.size() && (static_cast<uint8_t>(utf8[i + k]) & 0xC0) == 0x80) {
      cp = (cp << 6) | (static_cast<uint8_t>(utf8[i + k]) & 0x3F);
      ++k;
    }
    i += k;
    const int b = (k < len || cp < least || cp > 0x10FFFF) ? -1 : ByteFor(cp);
    if (b < 0 && strict) return false;
    out += b < 0 ? '?' : static_cast<char>(b);
  }
  return true;
}

}  // namespace

std::string Utf8ToCp874(std::string_view utf8) {
  std::string out;
  DecodeUtf8(utf8, /*strict=*/false, out);
  return out;
}

bool Utf8ToCp874Exact(std::string_view utf8, std::string& cp874) {
  if (DecodeUtf8(utf8, /*strict=*/true, cp874)) return true;
  cp874.clear();
  return false;
}

std::string Cp874ToUtf8(std::string_view cp874) {
  std::string out;
  out.reserve(cp874.size() * 3);
  for (char ch : cp874) {
    uint8_t b = static_cast<uint8_t>(ch);
    if (b < 0x80) {
      out += ch;
    } else {
      char32_t cp = HighByte(b);
      AppendUtf8(out, cp ? cp : 0xFFFD);
    }
  }
  return out;
}

}  // namespace kv::platform
