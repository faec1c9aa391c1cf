// Little-endian numbers read from file bytes held in a string. Written out with shifts
// here, so that tests check layouts without the engine's own decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kv::test {

inline int32_t I32(const std::string& b, size_t at) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint8_t>(b[at])) |
                              static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8 |
                              static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 16 |
                              static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24);
}
inline int16_t I16(const std::string& b, size_t at) {
  return static_cast<int16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

}  // namespace kv::test
