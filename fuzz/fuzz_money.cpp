// The money check against the text round trip it stands for: print the stored value
// with 15 significant digits, read it back, compare with the inclusive bounds. Values
// whose exponent field is all ones and unnormals (integer bit clear with a non-zero
// exponent) cannot go through the conversion and are unsound by rule.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "modules/MoneyCheck.h"

static_assert(LDBL_MANT_DIG == 64, "the oracle needs the 80-bit extended type");

namespace {

constexpr uint8_t kUpper[10] = {0xF6, 0x28, 0x5C, 0xFF, 0xFF, 0xF8, 0x02, 0x95, 0x20, 0x40};
constexpr uint8_t kLower[10] = {0xF6, 0x28, 0x5C, 0xFF, 0xFF, 0xF8, 0x02, 0x95, 0x20, 0xC0};

long double Load(const uint8_t* field) {
  long double x = 0;
  std::memcpy(&x, field, 10);
  return x;
}

bool OracleSound(const uint8_t* field) {
  uint64_t significand = 0;
  for (int i = 7; i >= 0; --i) significand = (significand << 8) | field[i];
  const unsigned exponent = (field[8] | (field[9] << 8)) & 0x7FFF;
  if (exponent == 0x7FFF) return false;
  if (exponent != 0 && (significand >> 63) == 0) return false;

  char text[64];
  std::snprintf(text, sizeof text, "%.14Le", Load(field));
  char* end = nullptr;
  const long double back = std::strtold(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(back)) return false;
  return back <= Load(kUpper) && back >= Load(kLower);
}

std::string Hex(const uint8_t* field) {
  std::string out;
  char digits[4];
  for (int i = 0; i < 10; ++i) {
    std::snprintf(digits, sizeof digits, "%02X ", field[i]);
    out += digits;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every 10 bytes of the input are one field; a record buffer holds them unaligned,
  // one byte apart, the way money fields sit inside records.
  for (size_t at = 0; at + kv::modules::kMoneySize <= size && at < 10 * 16; at += 10) {
    const uint8_t* field = data + at;
    const bool sound = kv::modules::IsMoneySound(field);
    const bool expected = OracleSound(field);
    if (sound != expected)
      kv::fuzz::Fail(sound ? "judged sound, the round trip says unsound"
                           : "judged unsound, the round trip says sound",
                     Hex(field));

    // The codec's readable judgement is the same rule; a valid finite value decodes to
    // what the hardware's own type holds.
    KV_FUZZ_CHECK((kv::isam::JudgeMoney(field) == kv::isam::MoneyJudgement::kSound) == sound, Hex(field));
    const kv::isam::ExtendedClass cls = kv::isam::ClassifyExtended(field);
    if (cls == kv::isam::ExtendedClass::kNormal || cls == kv::isam::ExtendedClass::kDenormal)
      KV_FUZZ_CHECK(kv::isam::DecodeExtended(field) == Load(field), Hex(field));

    uint8_t record[1 + kv::modules::kMoneySize + 1];
    record[0] = 0xA5;
    record[sizeof record - 1] = 0x5A;
    std::memcpy(record + 1, field, kv::modules::kMoneySize);
    bool changed = false;
    kv::modules::CheckMoneyField(record + 1, changed);
    const uint8_t zero[kv::modules::kMoneySize] = {};
    KV_FUZZ_CHECK(changed == !sound, Hex(field));
    KV_FUZZ_CHECK(std::memcmp(record + 1, sound ? field : zero, kv::modules::kMoneySize) == 0,
                  Hex(field));
    KV_FUZZ_CHECK(record[0] == 0xA5 && record[sizeof record - 1] == 0x5A, Hex(field));
    // A flag already raised by an earlier field stays raised.
    bool raised = true;
    kv::modules::CheckMoneyField(record + 1, raised);
    KV_FUZZ_CHECK(raised, Hex(field));
  }
  return 0;
}
