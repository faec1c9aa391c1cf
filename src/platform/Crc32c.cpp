#include "platform/Crc32c.h"

#include <array>

namespace kv::platform {

namespace {

constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0x82F63B78u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();

}  // namespace

uint32_t Crc32c(const void* bytes, size_t length, uint32_t crc) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  uint32_t c = ~crc;
  for (size_t i = 0; i < length; ++i) c = kTable[(c ^ p[i]) & 0xFFu] ^ (c >> 8);
  return ~c;
}

}  // namespace kv::platform
