// The input form of the engine target, shared with the seed writer.
//
//   byte 0     flags (below)
//   part       key text to look up (16-bit length, then the bytes)
//   part       FZ.DAT
//   part       FZ.IX
//   rest       FZ.DIA
#pragma once

#include <cstdint>

namespace kv::fuzz {

enum EngineFlags : uint8_t {
  kNetworkEngine = 1 << 0,  // a network engine instead of a single-user one
  kReadOnly = 1 << 1,
  kNoLocks = 1 << 2,
  kSaveMode = 1 << 3,
  kNoNetwork = 1 << 4,  // not a network block
  kNoDia = 1 << 5,      // no FZ.DIA on disk
  kNoIndex = 1 << 6,    // no FZ.IX on disk
  kLockBlock = 1 << 7,  // read and search under the write lock
};

}  // namespace kv::fuzz
