// The partition manager joins the main dialog: kCmdPartitionManager in the command
// table once registered, offered in the first pop-up of menus 129 and 216.
#include <gtest/gtest.h>

#include "mainapp/partition/partition_manager_dialog.h"
#include "mainapp/shell/main_commands.h"
#include "platform/ui/menu.h"

namespace {

TEST(PartitionMainCommandTest, RegisteredAndOfferedInBothActionMenus) {
  RegisterPartitionCommands();
  const shell::MainCommand* entry = shell::FindMainCommand(shell::kCmdPartitionManager);
  ASSERT_NE(entry, nullptr);
  EXPECT_NE(entry->run, nullptr);
  for (UINT id : {129u, 216u}) {
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(id));
    CMenu* actions = menu.GetSubMenu(0);
    ASSERT_NE(actions, nullptr);
    CString text;
    EXPECT_GT(actions->GetMenuString(shell::kCmdPartitionManager, text, MF_BYCOMMAND), 0) << "menu " << id;
  }
}

}  // namespace
