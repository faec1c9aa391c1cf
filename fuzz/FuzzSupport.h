// Helpers shared by the fuzz targets: a scratch directory per process, whole-file
// writes, and a reader that cuts one fuzz input into length-prefixed parts.
//
// The targets are test code: they use POSIX directly for their scratch files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace kv::fuzz {

// A directory of its own for this process, made on first use and emptied and removed
// at exit. File writes beyond 64 MiB fail instead of filling the disk: an input may
// name a page or slot far out in a file, and the engine writes what a journal says.
const std::string& ScratchDirectory();

// Replaces `name` in the scratch directory with these bytes; returns the full path.
std::string WriteScratchFile(std::string_view name, std::string_view bytes);
// Rewrites `name` in place (same file, truncated first), so that a descriptor another
// part of the program holds on it sees the new bytes.
void OverwriteScratchFile(std::string_view name, std::string_view bytes);
// Removes `name` from the scratch directory, if it is there.
void RemoveScratchFile(std::string_view name);
// The whole file, or empty when it cannot be read.
std::string ReadScratchFile(std::string_view name);

// Takes an input apart front to back. Reads past the end give zeros and empty parts,
// so every input, however short, means something.
class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t U16() {
    const uint16_t lo = Byte();
    return static_cast<uint16_t>(lo | (Byte() << 8));
  }
  int32_t I32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
    return static_cast<int32_t>(v);
  }
  // A part preceded by its 16-bit little-endian length (cut to what is left).
  std::string_view Part() { return Bytes(U16()); }
  std::string_view Bytes(size_t n) {
    if (n > size_ - pos_) n = size_ - pos_;
    std::string_view part(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return part;
  }
  std::string_view Rest() { return Bytes(size_ - pos_); }
  bool Empty() const { return pos_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Appends a length-prefixed part in the form InputReader::Part reads (seed writers).
inline void AppendPart(std::string& out, std::string_view part) {
  const size_t n = part.size() > 0xFFFF ? 0xFFFF : part.size();
  out.push_back(static_cast<char>(n & 0xFF));
  out.push_back(static_cast<char>(n >> 8));
  out.append(part.substr(0, n));
}

// KV_FUZZ_VERBOSE=1 in the environment: targets say what each step returned (for
// looking at one input, never while fuzzing).
bool Verbose();

// A broken invariant: report it and abort, so the fuzzer keeps the input.
[[noreturn]] void Fail(const char* what, const std::string& detail = {});

}  // namespace kv::fuzz

#define KV_FUZZ_CHECK(cond, detail)                                             \
  do {                                                                          \
    if (!(cond)) ::kv::fuzz::Fail("check failed: " #cond, (detail));           \
  } while (0)
