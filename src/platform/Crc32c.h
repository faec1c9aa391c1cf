// CRC-32C (Castagnoli), as iSCSI and ext4 use it: the fingerprint of a record as a
// repair wrote it and the checksum of a report's lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kv::platform {

// The CRC-32C of `length` bytes, continuing from `crc` (0 to start): Crc32c(b, Crc32c(a))
// is the CRC of a followed by b. Crc32c("123456789") == 0xE3069283.
uint32_t Crc32c(const void* bytes, size_t length, uint32_t crc = 0);
inline uint32_t Crc32c(std::string_view text, uint32_t crc = 0) { return Crc32c(text.data(), text.size(), crc); }

}  // namespace kv::platform
