// The shell tree as the restore program's folder chooser builds it (its
// variant) beside the migration's own folder mode, on one simulated PC: only
// folders listed, every folder expandable; the variant shows a folder with
// nothing below it as empty (state image 8, counters 0) and keeps the
// parsing name as every item's path; clicks change no box in either. The
// name tables take their localized partners from the program's own lookup.
#include <gtest/gtest.h>

#include "clone/clone_fixture.h"
#include "fixture_migrate_pc.h"
#include "mainapp/migrate/backup_files_page.h"
#include "mainapp/migrate/file_tree_ctrl.h"
#include "mainapp/migrate/migration_state.h"
#include "mainapp/migrate/shell_folder_names.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"

namespace {

using clone_fixture::PutFile;
using migrate_fixture::MigratePc;

std::string Utf8(const CString& s) { return platform::to_utf8(s.GetString()); }

class FolderChooserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char16_t* folder : {u"C:\\Data", u"C:\\Data\\Sub", u"C:\\Leaf"})
      ASSERT_TRUE(CreateDirectoryW(folder, nullptr));
    PutFile(u"C:\\Data\\a.txt", "a");
    MigrationEntryFlag = true;
    ASSERT_TRUE(page.Create(CBackupFiles::IDD));
  }
  void TearDown() override {
    page.DestroyWindow();
    MigrationEntryFlag = false;
    FileTreeGlobals.showFilesMode = 1;
  }
  // Fills the tree afresh as `variant` says, in folder mode, and lists C:.
  void Fill(bool variant) {
    page.tree.restoreVariant = variant;
    FileTreeGlobals.showFilesMode = 0;
    ASSERT_TRUE(page.tree.PopulateTree()) << Utf8(page.tree.lastError);
    computer = Child(page.tree.rootItem, u"Computer");
    ASSERT_NE(computer, nullptr);
    page.tree.Expand(computer, TVE_EXPAND);
    drive = Child(computer, u"SOURCE (C:)");
    ASSERT_NE(drive, nullptr);
    page.tree.Expand(drive, TVE_EXPAND);
  }
  HTREEITEM Child(HTREEITEM parent, const std::u16string& text) {
    for (HTREEITEM c = page.tree.GetChildItem(parent); c; c = page.tree.GetNextSiblingItem(c))
      if (page.tree.GetItemText(c).str() == text) return c;
    return nullptr;
  }
  MigratePc w;
  CBackupFiles page;
  HTREEITEM computer = nullptr, drive = nullptr;
};

TEST_F(FolderChooserTest, VariantMarksFoldersWithNothingBelowAndKeepsParsingNames) {
  struct Case {
    bool variant;
    int leafState;        // state of the folder with nothing in it
    int32_t leafCounter;  // its counters
    bool computerPathIsParsingName;
  } cases[] = {{false, kUnticked, -1, false}, {true, kEmpty, 0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.variant ? "restore variant" : "folder mode");
    Fill(c.variant);
    EXPECT_EQ(FileTreeGlobals.showFilesMode, 0);
    ASSERT_NE(Child(drive, u"Data"), nullptr);
    EXPECT_EQ(Child(Child(drive, u"Data"), u"a.txt"), nullptr) << "files are not listed";
    const HTREEITEM leaf = Child(drive, u"Leaf");
    ASSERT_NE(leaf, nullptr);
    ShellItemRecord* rec = nullptr;
    EXPECT_EQ(page.tree.GetItemState(leaf, &rec), c.leafState);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->fileCount, c.leafCounter);
    EXPECT_EQ(rec->subfolderCount, c.leafCounter);
    TVITEMW item{};
    item.mask = TVIF_CHILDREN;
    item.hItem = leaf;
    ASSERT_TRUE(page.tree.GetItem(&item));
    EXPECT_EQ(item.cChildren, 1) << "every folder shows an expand button";
    ShellItemRecord* data = nullptr;
    EXPECT_EQ(page.tree.GetItemState(Child(drive, u"Data"), &data), kUnticked);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(Utf8(CString(data->path)), "C:\\Data");

    ShellItemRecord* computerRec = nullptr;
    page.tree.GetItemState(computer, &computerRec);
    ASSERT_NE(computerRec, nullptr);
    const std::string path = Utf8(CString(computerRec->path));
    if (c.computerPathIsParsingName)
      EXPECT_NE(path, "Computer") << "the parsing name, not the display name";
    else
      EXPECT_EQ(path, "Computer");

    // A click on a box changes nothing in folder mode.
    EXPECT_TRUE(page.tree.ToggleItemCheck(Child(drive, u"Data")));
    EXPECT_EQ(page.tree.GetItemState(Child(drive, u"Data"), nullptr), kUnticked);
    EXPECT_EQ(FileTreeGlobals.tickCount, 0);
  }
}

TEST(FolderChooserNames, PartnersComeFromTheProgramsOwnLookup) {
  LoadShellFolderNames([](const char16_t* key) {
    return std::u16string(key) == u"IDS_RecycleBin" ? CString(u"Papierkorb")
           : std::u16string(key) == u"IDS_Computer" ? CString(u"Arbeitsplatz")
                                                    : CString();
  });
  EXPECT_TRUE(HasExcludedFolderPrefix(u"Papierkorb (2)"));
  EXPECT_TRUE(HasExcludedFolderPrefix(u"Recycle Bin"));
  EXPECT_TRUE(IsExcludedFolderName(u"ARBEITSPLATZ"));
  EXPECT_FALSE(IsExcludedFolderName(u"Arbeitsplatz 2"));
  EXPECT_FALSE(HasExcludedFolderPrefix(u"Projects")) << "an empty partner matches nothing";
  LoadShellFolderNames([](const char16_t*) { return CString(); });
}

}  // namespace
