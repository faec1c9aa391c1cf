#include <gtest/gtest.h>

#include "desktop/CompanyCommands.h"

// One table for the Qt actions and the Win32 menu and keys.
TEST(CompanyCommands, OneTableInMenuOrderWithKeysAndEnabling) {
  using kv::desktop::CompanyCommand;
  using kv::desktop::CommandKey;
  const auto commands = kv::desktop::CompanyCommands();
  ASSERT_EQ(commands.size(), 7u);
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
}
