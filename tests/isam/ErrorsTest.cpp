#include <gtest/gtest.h>

#include <vector>

#include "isam/Errors.h"
#include "platform/File.h"
#include "support/RecordingDialogs.h"

namespace {

using kv::isam::ClassOf;
using kv::isam::Code;
using kv::isam::ErrorText;
using kv::isam::OsOp;
using kv::isam::TranslateOsError;

TEST(EngineErrors, Classes) {
  const struct {
    int32_t error;
    int32_t cls;
  } cases[] = {
      {0, 0},     {9903, 1},  {10200, 1}, {10250, 1}, {10299, 1}, {10410, 1},
      {9900, 2},  {10065, 2}, {10110, 2}, {10306, 2}, {10330, 2}, {10332, 2},
      {10335, 2}, {10355, 2}, {10360, 2}, {10390, 2}, {10397, 2}, {10399, 2},
      {10001, 3}, {10005, 3}, {10009, 3}, {10000, 4}, {10010, 4}, {10140, 4},
      {10300, 4}, {9901, 4},  {-1, 4},    {10398, 4}, {10411, 4},
  };
  for (const auto& c : cases) EXPECT_EQ(Code(ClassOf(c.error)), c.cls) << c.error;
}

TEST(EngineErrors, Texts) {
  const struct {
    int32_t error;
    const char* text;
  } cases[] = {
      {10140, "Access not possible, undefined error"},
      {10451, ""},
      {0, ""},
      {9499, ""},
      {9512, "DOS error code <12>"},
      {9500, "DOS error code <0>"},
      {9899, "DOS error code <399>"},
      {9900, "Invalid path name"},
      {9902, ""},
      {10005, "Serious I/O error occurred while in save mode"},
      {10010, "File defect, that can be corrected by reindexing"},
      {10323, "Close of Fileblock not possible because of a non-removeable lock"},
      {10341, "Fileblock unlock attempt failed"},
      {10343, ""},
      {10356, "Insufficient memory to allocate Fileblock"},
      {10360, "No repair during open, because theFileblock is not exclusively used"},
      {10399, "A lock prevents the operation"},
      {10480, "Fileblock cannot be opened in net mode"},
      {10481, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorText(c.error), c.text) << c.error;
}

TEST(EngineErrors, OsErrorsTranslatePerOperation) {
  using namespace kv::platform;
  // Columns: file not found, path not found, bad network path, too many files,
  // invalid handle, invalid access, access denied (an "other" number).
  const OsError os[] = {OsError::kFileNotFound, OsError::kPathNotFound, OsErrorOf(53), OsError::kTooManyOpenFiles,
                        OsError::kInvalidHandle, OsError::kInvalidAccess, OsError::kAccessDenied};
  const struct {
    OsOp op;
    std::vector<int32_t> expected;
  } rows[] = {
      {OsOp::kOpen, {9903, 9900, 9900, 9901, 10140, 9908, 10140}},
      {OsOp::kCreate, {10140, 9900, 9900, 9901, 10140, 10140, 10140}},
      {OsOp::kDelete, {9903, 9900, 9900, 10140, 10140, 10140, 10140}},
      {OsOp::kReadWrite, {10140, 10140, 10140, 10140, 9904, 10140, 10140}},
  };
  for (const auto& row : rows)
    for (size_t i = 0; i < std::size(os); ++i)
      EXPECT_EQ(Code(TranslateOsError(row.op, os[i])), row.expected[i])
          << static_cast<int>(row.op) << " os " << Code(os[i]);
  // What the record access layer does with them: a missing file is "not found", a
  // missing directory is worth retrying.
  EXPECT_EQ(Code(ClassOf(TranslateOsError(OsOp::kOpen, OsError::kFileNotFound))), 1);
  EXPECT_EQ(Code(ClassOf(TranslateOsError(OsOp::kOpen, OsError::kPathNotFound))), 2);
}

TEST(EngineErrors, FatalReportShowsNumberAndTextThenHelpThenMessageThenCloses) {
  kv::test::RecordingDialogs dialogs;
  std::vector<int32_t> helped;
  kv::isam::ShowFatalEngineError(dialogs, 10010, "cannot open GLFILE01", [&](int32_t n) {
    // The catalogue is had before the message, so a front end can show it with it.
    EXPECT_EQ(dialogs.events.size(), 1u);
    EXPECT_EQ(dialogs.closeRequests, 0);
    helped.push_back(n);
  });
  ASSERT_EQ(dialogs.events.size(), 2u);
  EXPECT_EQ(dialogs.events[0].title, "Error");
  EXPECT_EQ(dialogs.events[0].text, "10010: File defect, that can be corrected by reindexing");
  EXPECT_EQ(dialogs.events[1].title, "Error");
  EXPECT_EQ(dialogs.events[1].text, "cannot open GLFILE01");
  EXPECT_EQ(helped, std::vector<int32_t>{10010});
  EXPECT_EQ(dialogs.closeRequests, 1);
}

TEST(EngineErrors, FatalReportOfNumberWithoutText) {
  kv::test::RecordingDialogs dialogs;
  kv::isam::ShowFatalEngineError(dialogs, 10451, "m", nullptr);
  ASSERT_EQ(dialogs.events.size(), 2u);
  EXPECT_EQ(dialogs.events[0].text, "10451: ");
  EXPECT_EQ(dialogs.closeRequests, 1);
}

}  // namespace
