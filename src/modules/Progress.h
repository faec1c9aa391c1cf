// Progress of a repair run and the record of what it reset. The module repairs take
// these, not widgets.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kv::modules {

inline constexpr int kProgressMax = 19;

// The progress bar of the run: position 0..19 and the run's RepairCount.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;

  int Position() const { return position_; }
  int32_t RepairCount() const { return repairCount_; }
  void AddRepair() { ++repairCount_; }
  // One walked data file finished.
  void Step(std::string_view module, std::string_view file) {
    ++position_;
    OnStep(module, file);
  }

 protected:
  // Front ends repaint or print here.
  virtual void OnStep(std::string_view /*module*/, std::string_view /*file*/) {}

 private:
  int position_ = 0;
  int32_t repairCount_ = 0;
};

// One field of RepairReport::FieldsReset.
struct ResetField {
  int32_t record = 0;
  int offset = 0;
  const uint8_t* original = nullptr;  // the 10 bytes before the reset
  bool written = false;
};

// One line per field that was reset, written as it happens.
class RepairReport {
 public:
  virtual ~RepairReport() = default;
  // `original` holds the 10 bytes as they were before the reset; written=false when the
  // record could not be written back (the field is not repaired on disk).
  virtual void FieldReset(std::string_view file, int32_t record, int offset,
                          const uint8_t* original, bool written) = 0;
  // The fields of several records repaired together, in order: the same lines as
  // FieldReset for each, which a report may write out with one write.
  virtual void FieldsReset(std::string_view file, std::span<const ResetField> fields) {
    for (const ResetField& f : fields) FieldReset(file, f.record, f.offset, f.original, f.written);
  }
};

}  // namespace kv::modules
