// A company directory with a started engine, the access layer, a scripted Dialogs, a
// progress sink and a repair report: what a module repair needs to run in a test.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CompanyDir.h"
#include "isam/Access.h"
#include "isam/Engine.h"
#include "modules/ModuleTables.h"
#include "modules/Repairs.h"
#include "support/RecordingDialogs.h"
#include "testkit/Builder.h"

namespace kv::modules::testing {

// A NaN: exponent all ones, significand not 8000...0.
inline const uint8_t kNaN[10] = {1, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x7F};
// 1234.5, sound.
inline const uint8_t kSound[10] = {0, 0, 0, 0, 0, 0, 0x50, 0x9A, 0x09, 0x40};

struct ResetLine {
  std::string file;
  int32_t record;
  int offset;
  std::string original;
  bool written;
  LeftReason left = LeftReason::kNone;
};

class RecordingReport : public RepairReport {
 public:
  // A field written ahead whose record then was left is the one line with the reason,
  // as the undo reads the report.
  void FieldReset(std::string_view file, int32_t record, int offset, const uint8_t* original,
                  LeftReason left) override {
    if (left != LeftReason::kNone) {
      for (ResetLine& l : lines) {
        if (l.written && l.file == file && l.record == record && l.offset == offset) {
          l.written = false;
          l.left = left;
          return;
        }
      }
    }
    lines.push_back({std::string(file), record, offset,
                     std::string(reinterpret_cast<const char*>(original), 10), left == LeftReason::kNone, left});
  }
  void RecordUnread(std::string_view file, int32_t record, LeftReason why) override {
    unread.push_back(std::string(file) + " " + std::to_string(record) +
                     (why == LeftReason::kReadFailed ? "" : " " + std::string(LeftReasonText(why))));
  }
  // Fails from the failAheadAt-th record written ahead on (0: never).
  bool WriteAhead(std::string_view file, int32_t record, std::span<const ResetField> fields,
                  std::span<const uint8_t> slot) override {
    ++aheadCalls;
    if (failAheadAt != 0 && aheadCalls >= failAheadAt) return false;
    return RepairReport::WriteAhead(file, record, fields, slot);
  }
  void ThrowWriteFailure() const override { throw ReportWriteFailed("the test report failed"); }
  std::vector<ResetLine> lines;
  std::vector<std::string> unread;
  int aheadCalls = 0;
  int failAheadAt = 0;
};

class RecordingProgress : public ProgressSink {
 public:
  std::vector<std::string> steps;
  std::vector<std::string> waits;  // "FILE record round/rounds"
  std::function<void()> onWaiting;  // runs at each wait announced, after it is noted

 protected:
  void OnStep(std::string_view module, std::string_view file) override {
    steps.push_back(std::string(module) + " " + std::string(file));
  }
  void OnWaiting(std::string_view file, int32_t record, int round, int rounds) override {
    waits.push_back(std::string(file) + " " + std::to_string(record) + " " + std::to_string(round) + "/" +
                    std::to_string(rounds));
    if (onWaiting) onWaiting();
  }
};

// One record of a built data file.
struct TestRecord {
  TestRecord(bool isDeleted, std::function<void(uint8_t*)> filler = {},
             std::vector<std::string> keyTexts = {})
      : deleted(isDeleted), fill(std::move(filler)), keys(std::move(keyTexts)) {}
  bool deleted = false;
  std::function<void(uint8_t*)> fill;  // may be empty
  std::vector<std::string> keys;       // key texts, key 1 first (live records only)
};

class RepairFixture : public CompanyDirTest {
 protected:
  void SetUp() override {
    CompanyDirTest::SetUp();
    engine_ = std::make_unique<isam::Engine>();
    engine_->StartEngine(kv::isam::EngineMode::kNetwork, 500);
    access_ = std::make_unique<isam::AccessLayer>(*engine_, dialogs_, isam::AccessHooks{},
                                                  isam::AccessSettings{.saveMode = false, .flushAfterWrite = false});
    ctx_ = std::make_unique<RunContext>(RunContext{*access_, progress_, &report_, false});
  }
  void TearDown() override {
    access_.reset();
    if (engine_) engine_->StopEngine();
    engine_.reset();
    CompanyDirTest::TearDown();
  }

  // Builds `name`.DAT/.IX with the module tables' record length and keys.
  void Build(const std::string& name, const std::vector<TestRecord>& records) {
    const DataFileDef& def = DataFile(name);
    testkit::FileLayout fileLayout;
    fileLayout.dataPath = Path(name + ".DAT");
    fileLayout.slotLength = def.recordLength;
    fileLayout.keys.assign(def.keys.begin(), def.keys.end());
    fileLayout.highestSlot = static_cast<int32_t>(records.size());
    std::vector<int32_t> deleted;
    for (size_t i = 0; i < records.size(); ++i) {
      if (records[i].deleted) deleted.push_back(static_cast<int32_t>(i + 1));
    }
    fileLayout.freeChain = testkit::DescendingChain(deleted);
    const std::string error = testkit::BuildFile(
        fileLayout, [&](int32_t record, bool, std::span<uint8_t> slot, testkit::KeySink& keys) {
          const TestRecord& r = records[static_cast<size_t>(record - 1)];
          if (r.fill) r.fill(slot.data());
          for (size_t k = 0; k < r.keys.size(); ++k) keys.Add(static_cast<int>(k + 1), r.keys[k]);
        });
    ASSERT_EQ(error, "");
  }

  // Slot `record` of a data file as stored.
  std::string Slot(const std::string& name, int32_t record) {
    const int32_t length = DataFile(name).recordLength;
    const std::string bytes = Read(name + ".DAT");
    const size_t at = static_cast<size_t>(record) * static_cast<size_t>(length);
    if (bytes.size() < at + static_cast<size_t>(length)) return std::string();
    return bytes.substr(at, static_cast<size_t>(length));
  }

  static std::string Field(const std::string& record, int offset, int width = 10) {
    return record.substr(static_cast<size_t>(offset), static_cast<size_t>(width));
  }
  static std::string Money(const uint8_t* value) {
    return std::string(reinterpret_cast<const char*>(value), 10);
  }

  test::RecordingDialogs dialogs_;
  RecordingProgress progress_;
  RecordingReport report_;
  std::unique_ptr<isam::Engine> engine_;
  std::unique_ptr<isam::AccessLayer> access_;
  std::unique_ptr<RunContext> ctx_;
};

}  // namespace kv::modules::testing
