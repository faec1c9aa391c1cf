// File operations of the engine with their error translation, and the process's lock
// table, which makes the operating system's byte-range locks re-entrant.
//
// The operating system's locks are not re-entrant: a second lock of the same range on
// the same open file either conflicts (the suite's platform) or silently merges with the
// first, so that one unlock drops both (POSIX). The table counts uses per (file,
// offset) and talks to the system only for the first lock and the last unlock.

#include <algorithm>

#include "isam/EngineOps.h"
#include "platform/System.h"

namespace kv::isam::ops {

using enum EngineError;

using platform::File;

namespace {
thread_local bool tMetHeldRange = false;

Status TransferFailed(platform::OsStatus os) {
  if (os == platform::OsError::kLockViolation) tMetHeldRange = true;
  return TranslateOsError(OsOp::kReadWrite, os);
}
}  // namespace

void ClearHeldRangeNote() { tMetHeldRange = false; }
bool MetHeldRange() { return tMetHeldRange; }

Status ReadSome(File& file, uint64_t offset, void* buffer, size_t length, size_t& done) {
  done = 0;
  const platform::OsStatus os = file.ReadAt(offset, buffer, length, done);
  if (os) return TransferFailed(os);
  return {};
}

Status ReadExact(File& file, uint64_t offset, void* buffer, size_t length) {
  size_t done = 0;
  if (Status e = ReadSome(file, offset, buffer, length, done)) return e;
  return done == length ? kNone : kReadError;
}

Status WriteExact(File& file, uint64_t offset, const void* buffer, size_t length) {
  size_t done = 0;
  const platform::OsStatus os = file.WriteAt(offset, buffer, length, done);
  if (os) return TransferFailed(os);
  return done == length ? kNone : kWriteError;
}

Status FileSize(File& file, uint64_t& size) {
  const platform::OsStatus os = file.Size(size);
  if (os) return TranslateOsError(OsOp::kReadWrite, os);
  return {};
}

Status Truncate(File& file, uint64_t size) {
  const platform::OsStatus os = file.Truncate(size);
  if (os) return TranslateOsError(OsOp::kReadWrite, os);
  return {};
}

Status OpenFile(FileRecord& rec, const std::string& name, bool readOnly, bool shared) {
  rec.name = name.size() > kMaxNameLength ? name.substr(0, kMaxNameLength) : name;
  rec.notShared = !shared;
  const platform::OsStatus os = File::Open(rec.name,
                                readOnly ? platform::Access::kReadOnly : platform::Access::kReadWrite,
                                shared ? platform::Share::kShared : platform::Share::kExclusive,
                                rec.file);
  if (os) {
    const Status err = TranslateOsError(OsOp::kOpen, os);
    NoteOsFailureFile(rec.name);
    return err;
  }
  return {};
}

Status FlushFile(FileRecord& rec, bool networkBlock) {
  const platform::OsStatus os = rec.file.Flush();
  if (!os) return {};
  if (os == platform::OsError::kTooManyOpenFiles) {
    if (networkBlock) return kFlushHandles;
    // Out of handles for the flush (a system that needs a handle of its own to flush):
    // the file is closed and opened again instead. A close hands this process's
    // buffers to the operating system, so other programs see the data, but it does not
    // force the system's cache to the disk (on Linux a close never does); that
    // difference is accepted for a block no other station shares.
    (void)rec.file.Close();  // the flush already failed; the open below tells whether the file is usable
    const platform::OsStatus again = File::Open(rec.name, platform::Access::kReadWrite,
                                     platform::Share::kExclusive, rec.file);
    rec.notShared = true;
    if (again) return TranslateOsError(OsOp::kOpen, again);
    return {};
  }
  return os == platform::OsError::kInvalidHandle ? kInvalidHandle : kUndefined;
}

Status CloseFile(EngineState& st, FileRecord& rec) {
  if (!rec.file.IsOpen()) return {};
  auto it = st.locks.find(&rec.file);
  if (it != st.locks.end()) {
    for (const LockEntry& e : it->second) (void)rec.file.UnlockRange(e.offset, e.length);
    st.locks.erase(it);
  }
  const platform::OsStatus os = rec.file.Close();
  if (os) return TranslateOsError(OsOp::kReadWrite, os);
  return {};
}

Status LockRange(EngineState& st, File& file, uint64_t offset, uint64_t length,
                 uint32_t waitStep, uint32_t waitTotal) {
  if (st.singleUser) return {};
  std::vector<LockEntry>& held = st.locks[&file];
  auto it = std::lower_bound(held.begin(), held.end(), offset,
                             [](const LockEntry& e, uint64_t off) { return e.offset < off; });
  if (it != held.end() && it->offset == offset) {
    if (it->length != length) return kUndefined;
    ++it->count;
    return {};
  }
  // The wait is bounded by waitTotal: each failed attempt adds one step. Only another
  // station's lock is worth waiting for; a lock that fails for any other reason (an I/O
  // error, a lock service that is gone) fails at once instead of being waited out
  // attempt after attempt by every caller.
  uint32_t waited = 0;
  for (;;) {
    const platform::OsStatus os = file.LockRange(offset, length);
    if (!os) break;
    waited += waitStep;
    if (os != platform::OsError::kLockViolation || waitStep == 0 || waited >= waitTotal) {
      return TranslateOsError(OsOp::kReadWrite, os);
    }
    platform::SleepMs(waitStep);
  }
  // The sleep above cannot have changed the table (one thread), so `it` would still be
  // the place; look it up again all the same rather than rely on that.
  it = std::lower_bound(held.begin(), held.end(), offset,
                        [](const LockEntry& e, uint64_t off) { return e.offset < off; });
  held.insert(it, LockEntry{offset, length, 1});
  return {};
}

Status UnlockRange(EngineState& st, File& file, uint64_t offset, uint64_t length) {
  if (st.singleUser) return {};
  auto tab = st.locks.find(&file);
  if (tab == st.locks.end()) return kUndefined;
  std::vector<LockEntry>& held = tab->second;
  auto it = std::lower_bound(held.begin(), held.end(), offset,
                             [](const LockEntry& e, uint64_t off) { return e.offset < off; });
  if (it == held.end() || it->offset != offset || it->length != length) return kUndefined;
  if (--it->count > 0) return {};
  // An empty list stays until the file is closed, so that the next lock of the same
  // file (a read lock per record read) allocates nothing.
  held.erase(it);
  const platform::OsStatus os = file.UnlockRange(offset, length);
  if (os) return TranslateOsError(OsOp::kReadWrite, os);
  return {};
}

}  // namespace kv::isam::ops
