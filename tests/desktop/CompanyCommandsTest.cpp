#include <gtest/gtest.h>

#include <filesystem>

#include "desktop/CompanyCommands.h"
#include "platform/Cp874.h"

// One table for the Qt actions and the Win32 menu and keys.
TEST(CompanyCommands, OneTableInMenuOrderWithKeysAndEnabling) {
  using kv::desktop::CompanyCommand;
  using kv::desktop::CommandKey;
  const auto commands = kv::desktop::CompanyCommands();
  ASSERT_EQ(commands.size(), 10u);
  for (size_t i = 0; i < commands.size(); ++i) EXPECT_EQ(static_cast<size_t>(commands[i].command), i);
  const auto& select = kv::desktop::CompanyCommandOf(CompanyCommand::kSelect);
  EXPECT_EQ(select.keys[0], CommandKey::kEnter);
  EXPECT_EQ(select.keys[1], CommandKey::kF10);
  EXPECT_FALSE(kv::desktop::EnabledFor(select, false));
  EXPECT_TRUE(kv::desktop::EnabledFor(kv::desktop::CompanyCommandOf(CompanyCommand::kEdit), false));
  const auto& del = kv::desktop::CompanyCommandOf(CompanyCommand::kDelete);
  EXPECT_STREQ(kv::desktop::CaptionFor(del, false), "ลบ...");
  EXPECT_STREQ(kv::desktop::CaptionFor(del, true), "ลบ");
  EXPECT_STREQ(kv::desktop::KeyText(del.keys[0]), "Del");
  EXPECT_TRUE(kv::desktop::CompanyCommandOf(CompanyCommand::kTemplate).checkedForTemplate);

  // The report commands: their letter after the Thai text; offered only when the row's
  // directory has what they need, else the reason follows the caption.
  const auto& undo = kv::desktop::CompanyCommandOf(CompanyCommand::kUndoLast);
  const auto& open = kv::desktop::CompanyCommandOf(CompanyCommand::kOpenLastReport);
  EXPECT_EQ(kv::desktop::AccessLetterOf(undo), 'U');
  EXPECT_EQ(kv::desktop::AccessLetterOf(open), 'O');
  EXPECT_EQ(kv::desktop::AccessLetterOf(del), 0);
  // The check needs only a directory.
  const auto& check = kv::desktop::CompanyCommandOf(CompanyCommand::kCheck);
  EXPECT_EQ(kv::desktop::AccessLetterOf(check), 'K');
  EXPECT_FALSE(kv::desktop::EnabledFor(check, false));
  EXPECT_TRUE(kv::desktop::EnabledFor(check, true));
  kv::desktop::RowState row;
  row.hasDirectory = true;
  row.hasReport = true;
  row.undoWhyNot = "none";
  EXPECT_FALSE(kv::desktop::EnabledFor(undo, row));
  EXPECT_TRUE(kv::desktop::EnabledFor(open, row));
  EXPECT_EQ(kv::desktop::MenuCaption(undo, false, row), kv::platform::Th("ย้อนการแก้ไขครั้งล่าสุด... (&U) : none"));
  EXPECT_EQ(kv::desktop::MenuCaption(open, false, row), kv::platform::Th("เปิดรายงานล่าสุด... (&O)"));
  // A directory without any report: both disabled, each saying why.
  const std::string empty = testing::TempDir() + "kvdesk-noreports";
  std::filesystem::create_directories(empty);
  row = kv::desktop::RowStateOf(empty);
  EXPECT_FALSE(kv::desktop::EnabledFor(undo, row));
  EXPECT_FALSE(kv::desktop::EnabledFor(open, row));
  EXPECT_FALSE(row.undoWhyNot.empty());
  EXPECT_FALSE(row.reportWhyNot.empty());
  std::filesystem::remove_all(empty);
}
