// The company check: the structure of every module file that exists in a company
// directory, judged read-only beside running stations. For each data file of the
// module tables: its header against itself and the table, its slots and free chain;
// for each of its keys the B-tree in the index file (key header, page layout, links,
// depth, order, the entries' records, the count, the page free chain); its
// coordination file's layout or journal; and the information and side files' lengths.
//
// Like the scan it opens every file read-only, takes no lock, creates and writes
// nothing. A file that changes while it is read (a station saving) is read again; one
// that keeps changing is named busy, never damaged. A range another station holds
// (where locks are mandatory) is read around and named busy too.
//
// What it cannot know: whether a key's text is the one its record gives, since the
// recipes that make key texts from records are the suite's; and whether a key that
// leaves a record out does so on purpose (the suite may).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/Scan.h"

namespace kv::app {

enum class CheckKind {
  kDataHeader,
  kFreeChain,
  kKeyHeader,
  kKeyPage,
  kKeyLink,
  kKeyOrder,
  kKeyDuplicate,
  kKeyRecord,
  kKeyCount,
  kPageFreeChain,
  kPageLeak,
  kJournal,
  kDiaLayout,
  kFileLength,
  kBusy,
};

// "DATA-HEADER", "FREE-CHAIN", ... as the output names them.
std::string_view CheckKindName(CheckKind kind);

struct CheckFinding {
  std::string file;  // file name with extension, e.g. "GLFILE02.IX"
  CheckKind kind = CheckKind::kDataHeader;
  bool damage = true;  // false: a note (nothing the suite would fail on)
  std::string place;   // "key 2 page 57 item 3", "slot 1200", "header", "file"
  std::string text;    // plain English, ASCII
};

struct CheckSummary {
  int filesChecked = 0;  // data files with their index and coordination files, and side files
  int64_t liveRecords = 0;
  int64_t damage = 0;
  int64_t notes = 0;
  int busyFiles = 0;  // data files that kept changing or that another station holds in part
};

struct CheckOptions {
  // The pause before a reading that is to confirm damage, for a station's save in
  // progress to end.
  uint32_t settleMs = 250;
  // Records another station holds (where locks are mandatory) are tried again after
  // the rest of their file, in `heldRecordRounds` rounds within this wait (0: at once
  // named busy), as the scan tries them.
  int32_t heldWaitMs = kScanHeldWaitMs;
  int32_t heldRecordRounds = kScanHeldRounds;
  // Told before each wait for a held record (file name, record, round, rounds).
  std::function<void(std::string_view file, int32_t record, int round, int rounds)> onWaiting;
  // Told before each data file's set and each side file (its name, the files done, all
  // there are to look at); false stops the check there, between files (it still
  // returns true, with what it found so far).
  std::function<bool(std::string_view file, int done, int total)> onFile;
};

// Checks `directory` (CP874). Findings arrive file by file in table order. False only
// when the directory cannot be checked at all (`error` says why; CP874, it names the path); a file that
// cannot be read is a finding, not a failure.
bool CheckCompany(std::string_view directory, const std::function<void(const CheckFinding&)>& onFinding,
                  CheckSummary& summary, std::string& error, const CheckOptions& options = {});

// One text line without the line end: FILE, KIND, PLACE, TEXT separated by tabs; a
// note's text begins with "note: ".
std::string CheckLine(const CheckFinding& finding);

}  // namespace kv::app
