// Reading a data file's slots beside stations that hold some of them, for the
// read-only passes (scan, check): a reader thread a chunk or two ahead of the caller,
// and the rounds in which the records held are tried again.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/File.h"

namespace kv::app {

// Reads the chunks of a file on a thread of its own, one or two chunks ahead, while the
// caller judges the chunk before: on a local disk the copy out of the page cache costs
// about as much as judging it, so the two together take the time of the slower. Chunks
// arrive in file order; after a chunk that could not be read no other follows.
//
// A chunk whose read meets another station's lock (only where locks are mandatory) is
// read again in halves, and each half that meets it in halves again, down to the record
// alone: a record whose own read meets the lock is held, its bytes in the chunk are not
// the record's, and the chunk lists it. One held record among n costs about 2 log2 n
// reads, and the records beside it are judged as usual.
class ChunkReader {
 public:
  struct Chunk {
    std::vector<uint8_t> bytes;
    int32_t first = 0;
    int32_t count = 0;
    bool ok = true;
    int32_t failedAt = 0;       // when !ok: the first record of the read that failed
    platform::OsStatus failure;  // when !ok: why (kGenFailure for a short read)
    std::vector<int32_t> held;  // ascending: records whose bytes could not be read

    // Hands each record read to `judge(bytes, number)`, in order, and appends the held
    // ones to `heldOut`.
    template <typename Judge>
    void Visit(uint64_t slot, std::vector<int32_t>& heldOut, Judge&& judge) const {
      size_t h = 0;
      for (int32_t i = 0; i < count; ++i) {
        const int32_t number = first + i;
        if (h < held.size() && held[h] == number) {
          heldOut.push_back(number);
          ++h;
          continue;
        }
        judge(bytes.data() + static_cast<size_t>(i) * slot, number);
      }
    }
  };

  // Slots 1..highest of `file`, `perChunk` slots of `slot` bytes a chunk.
  ChunkReader(platform::File& file, uint64_t slot, int32_t perChunk, int32_t highest)
      : file_(file), slot_(slot), perChunk_(perChunk), highest_(highest) {
    for (Chunk& c : chunks_) c.bytes.resize(static_cast<size_t>(perChunk) * slot);
    for (Chunk& c : chunks_) free_.push_back(&c);
    thread_ = std::thread([this] { Read(); });
  }
  ~ChunkReader() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  ChunkReader(const ChunkReader&) = delete;
  ChunkReader& operator=(const ChunkReader&) = delete;

  // The next chunk in file order, or null after the last; hand it back with Done.
  Chunk* Next() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !ready_.empty() || finished_; });
    if (ready_.empty()) return nullptr;
    Chunk* c = ready_.front();
    ready_.pop_front();
    return c;
  }
  void Done(Chunk* c) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      free_.push_back(c);
    }
    changed_.notify_all();
  }

 private:
  // Records first..first + count - 1 into `out`, around the held ones (see above).
  // False, with the chunk's failedAt set, when a read fails for any other reason or
  // comes back short.
  bool ReadAround(Chunk& c, uint8_t* out, int32_t first, int32_t count) {
    const size_t bytes = static_cast<size_t>(count) * slot_;
    size_t done = 0;
    const platform::OsStatus rc = file_.ReadAt(static_cast<uint64_t>(first) * slot_, out, bytes, done);
    if (!rc && done == bytes) return true;
    if (rc != platform::OsError::kLockViolation) {
      c.failedAt = first;
      c.failure = rc ? rc : platform::OsStatus(platform::OsError::kGenFailure);
      return false;
    }
    if (count == 1) {
      c.held.push_back(first);
      return true;
    }
    const int32_t half = count / 2;
    return ReadAround(c, out, first, half) &&
           ReadAround(c, out + static_cast<size_t>(half) * slot_, first + half, count - half);
  }

  void Read() {
    for (int32_t first = 1; first <= highest_;) {
      Chunk* c = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !free_.empty() || stop_; });
        if (stop_) break;
        c = free_.front();
        free_.pop_front();
      }
      c->first = first;
      c->count = std::min<int32_t>(perChunk_, highest_ - first + 1);
      c->held.clear();
      c->ok = ReadAround(*c, c->bytes.data(), c->first, c->count);
      first += c->count;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ready_.push_back(c);
      }
      changed_.notify_all();
      if (!c->ok) break;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finished_ = true;
    }
    changed_.notify_all();
  }

  platform::File& file_;
  const uint64_t slot_;
  const int32_t perChunk_;
  const int32_t highest_;
  std::array<Chunk, 3> chunks_;
  std::deque<Chunk*> free_;
  std::deque<Chunk*> ready_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  bool finished_ = false;
  std::thread thread_;  // last: started once everything above exists
};

// The records another station held, tried again after the rest of their file: `rounds`
// rounds, the first at once and the last at the end of `waitMs` (0: no round at all).
// `onWait(record, round)` hears of each pause before a round, naming the first record
// still held. Each try reads the whole slot and hands it to `judge`; what is still held
// stays in `held`. False, with `failed` the record, when a read fails for another
// reason than the lock.
bool RetryHeldRecords(platform::File& file, uint64_t slot, std::vector<int32_t>& held, int32_t waitMs, int32_t rounds,
                      const std::function<void(int32_t record, int round)>& onWait,
                      const std::function<void(const uint8_t* record, int32_t number)>& judge, int32_t& failed);

}  // namespace kv::app
