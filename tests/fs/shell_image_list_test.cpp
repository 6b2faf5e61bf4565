// With the UI library in the program, SHGetFileInfoW hands out its system image list.
#include <gtest/gtest.h>

#include "fs/volume_fixture.h"
#include "platform/fs/shell_namespace.h"
#include "platform/ui/gdi.h"

namespace {

TEST(ShellImageList, SystemIconIndexGivesTheUiSystemImageList) {
  fstest::SimulatedDisk disk({{u'C', 40ull << 20, "NTFS", ""}});
  SHFILEINFOW info;
  DWORD_PTR list = SHGetFileInfoW(u"C:\\", 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
  ASSERT_NE(list, 0u);
  EXPECT_EQ(list, reinterpret_cast<DWORD_PTR>(platform::ui::SystemImageList()));
  EXPECT_EQ(info.iIcon, platform::fs::kIconFixedDrive);
}

}  // namespace
