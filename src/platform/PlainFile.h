// Plain files with an I/O result code: the side files, information files, settings
// files, the error catalogue and the company list. These are read and rewritten
// without locks, as the suite does.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/File.h"

namespace kv::platform {

// I/O result codes. Open failures carry the Windows number of the failure (2, 3, 4,
// 5, ...); a read that meets the end of the file is 100, a failed or short write 101,
// an operation on a file that is not open 103. 255 is never produced here, but callers
// that retry "while the result is 255" keep that retry bounded.
enum IoResult : int32_t {
  kIoOk = 0,
  kIoReadPastEnd = 100,
  kIoWriteFailed = 101,
  kIoNotOpen = 103,
};

// The result of a plain-file operation: kIoOk, one of the codes above, or the Windows
// number of the failure. It tests true when it holds a failure; Code() is the number
// the suite's code tests and messages print.
class [[nodiscard]] IoStatus {
 public:
  constexpr IoStatus() = default;
  constexpr IoStatus(IoResult result) : code_(result) {}             // NOLINT: implicit on purpose
  constexpr IoStatus(OsStatus os) : code_(os.Code()) {}              // NOLINT: implicit on purpose
  constexpr IoStatus(OsError os) : code_(platform::Code(os)) {}      // NOLINT: implicit on purpose
  constexpr explicit operator bool() const { return code_ != kIoOk; }
  constexpr int32_t Code() const { return code_; }
  friend constexpr bool operator==(IoStatus, IoStatus) = default;

 private:
  int32_t code_ = kIoOk;
};

std::ostream& operator<<(std::ostream& out, IoStatus status);  // the number

// The run-time's I/O error: raised where the suite's code tests an I/O result and
// gives up. Caught once, at the top of a run, and shown with one standard message.
class IoError : public std::runtime_error {
 public:
  IoError(int32_t code, std::string name);
  IoError(IoStatus status, std::string name) : IoError(status.Code(), std::move(name)) {}
  int32_t code() const { return code_; }
  const std::string& name() const { return name_; }

 private:
  int32_t code_;
  std::string name_;
};

// A file of fixed-length records without a header, read and written sequentially.
class RecordFile {
 public:
  // Opens an existing file for reading and writing.
  IoStatus Open(std::string_view name, size_t recordLength);
  // Creates the file anew (truncating an existing one).
  IoStatus Create(std::string_view name, size_t recordLength);
  // Reads the next whole record. kIoReadPastEnd at end of file or on a partial record.
  IoStatus Read(void* record);
  IoStatus Write(const void* record);
  bool Eof();
  IoStatus Close();
  bool IsOpen() const { return file_.IsOpen(); }

 private:
  File file_;
  size_t recordLength_ = 0;
  uint64_t position_ = 0;
};

// Whole-file helpers.
// Reads a whole file; one larger than kMaxWholeFile (far more than any settings file,
// list or catalogue holds) is refused with OsError::kNotEnoughMemory rather than loaded.
inline constexpr uint64_t kMaxWholeFile = 64u << 20;
IoStatus ReadWholeFile(std::string_view name, std::string& bytes);
// Splits text into lines; CR LF, LF and a lone CR each end a line. A final line
// without an end counts; an empty file has no lines.
std::vector<std::string> SplitLines(std::string_view text);
IoStatus ReadTextLines(std::string_view name, std::vector<std::string>& lines);
// Writes every line followed by CR LF, replacing the file atomically.
IoStatus WriteTextLines(std::string_view name, const std::vector<std::string>& lines);

}  // namespace kv::platform
