// The migration tree's tri-state check boxes on a simulated PC, driven by
// clicks on the boxes (plain and with Shift) and expansions, as a table of
// steps. After every step each listed folder's state must be what its
// children give (recounted here from the items, independently of the tree's
// own counters), what is ticked must be in the tick lists, and the owner's
// buttons must follow whether anything is ticked.
#include <gtest/gtest.h>

#include <map>

#include "clone/clone_fixture.h"
#include "fixture_migrate_pc.h"
#include "mainapp/migrate/backup_files_page.h"
#include "mainapp/migrate/file_tree_ctrl.h"
#include "mainapp/migrate/migration_state.h"
#include "mainapp/migrate/shell_folder_names.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/ui/controls.h"
#include "platform/ui/window.h"

namespace {

using clone_fixture::PutFile;
using migrate_fixture::MigratePc;

std::string Utf8(const CString& s) { return platform::to_utf8(s.GetString()); }

class TickRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char16_t* folder : {u"C:\\Data", u"C:\\Data\\Sub", u"C:\\Data\\Sub\\Deep", u"C:\\Data\\Empty",
                                   u"C:\\Data\\Other"})
      ASSERT_TRUE(CreateDirectoryW(folder, nullptr));
    PutFile(u"C:\\Data\\a.txt", "a");
    PutFile(u"C:\\Data\\B.txt", "b");
    PutFile(u"C:\\Data\\Sub\\c.txt", "c");
    PutFile(u"C:\\Data\\Sub\\Deep\\d.txt", "d");
    PutFile(u"C:\\Data\\Other\\e.txt", "e");
    MigrationEntryFlag = true;
    FileTreeGlobals.tickCount = 0;
    FileTreeGlobals.destinationChosen = 0;
    ASSERT_TRUE(page.Create(CBackupFiles::IDD));
    // The drives are listed once their computer item is expanded.
    for (HTREEITEM c = page.tree.GetChildItem(page.tree.rootItem); c && !drive; c = page.tree.GetNextSiblingItem(c)) {
      page.tree.Expand(c, TVE_EXPAND);
      drive = Find(c, u"(C:)");
    }
    std::string shown;
    for (HTREEITEM c = page.tree.GetChildItem(page.tree.rootItem); c; c = page.tree.GetNextSiblingItem(c))
      shown += Utf8(page.tree.GetItemText(c)) + "; ";
    ASSERT_NE(drive, nullptr) << "the C: drive under Computer; root " << (page.tree.rootItem ? "present" : "absent")
                              << " with " << shown << " error " << Utf8(page.tree.lastError);
    page.tree.Expand(drive, TVE_EXPAND);
  }
  void TearDown() override {
    page.DestroyWindow();
    MigrationEntryFlag = false;
  }

  // The item whose label ends with `tail`, searched below `from` (listed items only).
  HTREEITEM Find(HTREEITEM from, const std::u16string& tail) {
    CTreeCtrl& t = page.tree;
    for (HTREEITEM c = t.GetChildItem(from); c; c = t.GetNextSiblingItem(c)) {
      const std::u16string text = t.GetItemText(c).str();
      if (text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0) return c;
      if (HTREEITEM deeper = Find(c, tail)) return deeper;
    }
    return nullptr;
  }
  // "Data/Sub" below the drive.
  HTREEITEM Item(const std::string& path) {
    HTREEITEM at = drive;
    size_t from = 0;
    while (at && from <= path.size()) {
      const size_t slash = path.find('/', from);
      const std::u16string part = platform::to_utf16(path.substr(from, slash - from));
      HTREEITEM next = nullptr;
      for (HTREEITEM c = page.tree.GetChildItem(at); c; c = page.tree.GetNextSiblingItem(c))
        if (page.tree.GetItemText(c).str() == part) next = c;
      at = next;
      if (slash == std::string::npos) break;
      from = slash + 1;
    }
    return at;
  }
  int State(HTREEITEM item) { return page.tree.GetItemState(item, nullptr); }

  void Click(HTREEITEM item, bool shift) {
    auto* model = platform::ui::ModelOf<platform::ui::TreeViewModel>(page.tree.m_hWnd);
    auto* w = platform::ui::FindWindowModel(page.tree.m_hWnd);
    ASSERT_TRUE(model && w);
    const RECT r = model->state_icon_rect(*w, model->node(item));
    ASSERT_NE(r.right, 0) << "the item is shown";
    const LPARAM at = MAKELONG(static_cast<WORD>((r.left + r.right) / 2), static_cast<WORD>((r.top + r.bottom) / 2));
    SendMessageW(page.tree.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON | (shift ? MK_SHIFT : 0), at);
    SendMessageW(page.tree.m_hWnd, WM_LBUTTONUP, shift ? MK_SHIFT : 0, at);
  }

  // Every listed folder's state against its children; the tick count and
  // the browse button against the items.
  void CheckInvariant(const std::string& step) {
    int ticked = 0;
    std::vector<HTREEITEM> stack{drive};
    while (!stack.empty()) {
      const HTREEITEM item = stack.back();
      stack.pop_back();
      ShellItemRecord* rec = nullptr;
      const int state = page.tree.GetItemState(item, &rec);
      if (state != kUnticked && state != kEmpty && state != kNoBox) ++ticked;
      int files = 0, tickedFiles = 0, folders = 0, full = 0, partial = 0;
      for (HTREEITEM c = page.tree.GetChildItem(item); c; c = page.tree.GetNextSiblingItem(c)) {
        stack.push_back(c);
        ShellItemRecord* crec = nullptr;
        const int cs = page.tree.GetItemState(c, &crec);
        if (!crec || cs == kEmpty) continue;
        if (crec->isFolder) {
          ++folders;
          const bool isFull = cs == kAllTicked || (cs == kAllFiles && crec->subfolderCount == 0);
          full += isFull;
          partial += !isFull && cs != kUnticked;
        } else {
          ++files;
          tickedFiles += cs == kFileTicked;
        }
      }
      if (!rec || !rec->isFolder || rec->fileCount == -1) continue;
      int expected = kEmpty;
      if (files || folders) {
        expected = files ? (tickedFiles == files ? 3 : tickedFiles ? 2 : 0) : (full == folders ? 3 : 0);
        if (full || partial) expected |= full == folders ? 12 : 4;
      }
      EXPECT_EQ(state, expected) << step << ": " << Utf8(page.tree.GetItemText(item));
    }
    EXPECT_EQ(FileTreeGlobals.tickCount > 0, ticked > 0) << step;
    EXPECT_EQ(page.GetDlgItem(CBackupFiles::kBrowse)->IsWindowEnabled() != FALSE, ticked > 0) << step;
  }

  std::vector<std::string> Lists() {
    std::vector<CString> files, folders;
    page.tree.GetCheckedFilePaths(files);
    page.tree.GetCheckedFolderPaths(folders);
    std::vector<std::string> out;
    for (const CString& f : folders) out.push_back(Utf8(f));
    for (const CString& f : files) out.push_back(Utf8(f));
    return out;
  }

  MigratePc w;
  CBackupFiles page;
  HTREEITEM drive = nullptr;
};

enum class Act { Click, Shift, Expand };
struct Step {
  Act act;
  const char* item;
  std::map<std::string, int> states;  // item -> state image meaning
  std::vector<std::string> lists;     // folder values first, then files (sorted)
};

TEST_F(TickRulesTest, TableOfClicksShiftClicksAndExpansions) {
  const std::vector<Step> steps = {
      // An unlisted folder ticks whole and is one "A" entry.
      {Act::Click, "Data", {{"Data", 15}}, {"AC:\\Data"}},
      // Expanding it hands the tick down: files 5, subfolders 15.
      {Act::Expand, "Data", {{"Data", 15}, {"Data/a.txt", 5}, {"Data/B.txt", 5}, {"Data/Sub", 15}, {"Data/Other", 15}},
       {"AC:\\Data\\Empty", "AC:\\Data\\Other", "AC:\\Data\\Sub", "C:\\Data\\a.txt", "C:\\Data\\B.txt"}},
      // A ticked file clicked is unticked: some files, all folders.
      {Act::Click, "Data/a.txt", {{"Data/a.txt", 0}, {"Data", 14}},
       {"AC:\\Data\\Empty", "AC:\\Data\\Other", "AC:\\Data\\Sub", "C:\\Data\\B.txt"}},
      // Shift-click on a fully ticked unlisted folder clears it.
      {Act::Shift, "Data/Sub", {{"Data/Sub", 0}, {"Data", 6}}, {"AC:\\Data\\Empty", "AC:\\Data\\Other", "C:\\Data\\B.txt"}},
      {Act::Expand, "Data/Sub", {{"Data/Sub", 0}, {"Data/Sub/c.txt", 0}, {"Data/Sub/Deep", 0}, {"Data", 6}},
       {"AC:\\Data\\Empty", "AC:\\Data\\Other", "C:\\Data\\B.txt"}},
      // Shift-click on a folder with counted subfolders: the subfolders only.
      {Act::Shift, "Data/Sub", {{"Data/Sub", 12}, {"Data/Sub/c.txt", 0}, {"Data/Sub/Deep", 15}, {"Data", 6}},
       {"AC:\\Data\\Empty", "AC:\\Data\\Other", "AC:\\Data\\Sub\\Deep", "C:\\Data\\B.txt"}},
      // A second Shift-click: everything.
      {Act::Shift, "Data/Sub", {{"Data/Sub", 15}, {"Data/Sub/c.txt", 5}, {"Data/Sub/Deep", 15}, {"Data", 14}},
       {"AC:\\Data\\Empty", "AC:\\Data\\Other", "AC:\\Data\\Sub\\Deep", "C:\\Data\\B.txt", "C:\\Data\\Sub\\c.txt"}},
      // A third: nothing.
      {Act::Shift, "Data/Sub", {{"Data/Sub", 0}, {"Data/Sub/c.txt", 0}, {"Data/Sub/Deep", 0}, {"Data", 6}},
       {"AC:\\Data\\Empty", "AC:\\Data\\Other", "C:\\Data\\B.txt"}},
      // A click on a partly ticked listed folder ticks all of it.
      {Act::Click, "Data", {{"Data", 15}, {"Data/a.txt", 5}, {"Data/Sub", 15}, {"Data/Sub/c.txt", 5}},
       {"AC:\\Data\\Empty", "AC:\\Data\\Other", "AC:\\Data\\Sub\\Deep", "C:\\Data\\a.txt", "C:\\Data\\B.txt",
        "C:\\Data\\Sub\\c.txt"}},
      // And a click on the fully ticked folder clears everything below it.
      {Act::Click, "Data", {{"Data", 0}, {"Data/a.txt", 0}, {"Data/Sub/Deep", 0}, {"Data/Other", 0}}, {}},
      // A folder found empty when expanded turns grey and cannot be ticked.
      {Act::Expand, "Data/Empty", {{"Data/Empty", 8}}, {}},
      {Act::Click, "Data/Empty", {{"Data/Empty", 8}, {"Data", 0}}, {}},
      // Ticking the only file of a folder ticks the folder's files.
      {Act::Expand, "Data/Other", {{"Data/Other", 0}}, {}},
      {Act::Click, "Data/Other/e.txt", {{"Data/Other", 3}, {"Data", 4}}, {"C:\\Data\\Other\\e.txt"}},
  };
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    const std::string name = "step " + std::to_string(i) + " (" + s.item + ")";
    HTREEITEM item = Item(s.item);
    ASSERT_NE(item, nullptr) << name;
    if (s.act == Act::Expand)
      page.tree.Expand(item, TVE_EXPAND);
    else
      Click(item, s.act == Act::Shift);
    for (const auto& [path, want] : s.states) {
      HTREEITEM at = Item(path);
      ASSERT_NE(at, nullptr) << name << ": " << path;
      EXPECT_EQ(State(at), want) << name << ": " << path;
    }
    EXPECT_EQ(Lists(), s.lists) << name;
    CheckInvariant(name);
  }
}

TEST_F(TickRulesTest, DesktopHasNoBoxAndFollowsNeitherClicksNorCollapse) {
  const HTREEITEM root = page.tree.rootItem;
  EXPECT_EQ(State(root), kNoBox);
  page.tree.SelectItem(root);
  SendMessageW(page.tree.m_hWnd, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_EQ(State(root), kNoBox);
  // A click on the Desktop's button would collapse it; the tree refuses.
  const LPARAM button = MAKELONG(9, 9);
  SendMessageW(page.tree.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, button);
  SendMessageW(page.tree.m_hWnd, WM_LBUTTONUP, 0, button);
  EXPECT_TRUE(page.tree.CTreeCtrl::GetItemState(root, TVIS_EXPANDED) & TVIS_EXPANDED) << "the Desktop cannot be collapsed";
  // Neither a double click nor a right click on a box does anything.
  HTREEITEM data = Item("Data");
  auto* model = platform::ui::ModelOf<platform::ui::TreeViewModel>(page.tree.m_hWnd);
  const RECT box = model->state_icon_rect(*platform::ui::FindWindowModel(page.tree.m_hWnd), model->node(data));
  const LPARAM at = MAKELONG(static_cast<WORD>((box.left + box.right) / 2), static_cast<WORD>((box.top + box.bottom) / 2));
  SendMessageW(page.tree.m_hWnd, WM_RBUTTONDOWN, MK_RBUTTON, at);
  MSG dbl{page.tree.m_hWnd, WM_LBUTTONDBLCLK, MK_LBUTTON, at, 0, {}};
  page.tree.PreTranslateMessage(&dbl);
  EXPECT_EQ(dbl.message, static_cast<UINT>(WM_NULL)) << "a double click is dropped before it is dispatched";
  EXPECT_EQ(State(data), kUnticked);
  // Virtual places are not on disk and cannot be ticked.
  HTREEITEM computer = page.tree.GetParentItem(drive);
  ASSERT_NE(computer, nullptr);
  Click(computer, false);
  EXPECT_EQ(State(computer), kUnticked);
  // The Next button waits for a destination; the browse button does not.
  Click(Item("Data"), false);
  EXPECT_TRUE(page.GetDlgItem(CBackupFiles::kBrowse)->IsWindowEnabled());
  EXPECT_FALSE(page.GetDlgItem(CBackupFiles::kNext)->IsWindowEnabled());
  FileTreeGlobals.destinationChosen = 1;
  Click(Item("Data"), false);
  Click(Item("Data"), false);
  EXPECT_TRUE(page.GetDlgItem(CBackupFiles::kNext)->IsWindowEnabled());
  Click(Item("Data"), false);
  EXPECT_EQ(FileTreeGlobals.tickCount, 0);
  EXPECT_FALSE(page.GetDlgItem(CBackupFiles::kNext)->IsWindowEnabled());
  EXPECT_FALSE(page.GetDlgItem(CBackupFiles::kBrowse)->IsWindowEnabled());
}

TEST(ShellFolderNames, EmptyPartnersMatchNothingAndWholeNamesCompareWithoutCase) {
  for (ShellNamePair& pair : PrefixExclusions) pair.localized.Empty();
  EXPECT_FALSE(HasExcludedFolderPrefix(u"Data")) << "an empty partner is no prefix of everything";
  EXPECT_TRUE(HasExcludedFolderPrefix(u"Recycle Bin (full)"));
  EXPECT_TRUE(HasExcludedFolderPrefix(u"control panel"));
  PrefixExclusions[2].localized = u"Papierkorb";
  EXPECT_TRUE(HasExcludedFolderPrefix(u"PAPIERKORB 2"));
  EXPECT_TRUE(IsExcludedFolderName(u"my documents"));
  EXPECT_TRUE(IsExcludedFolderName(u"Computer"));
  EXPECT_FALSE(IsExcludedFolderName(u"Computers"));
  EXPECT_FALSE(IsExcludedFolderName(u""));
}

TEST(NetworkPlaces, LinesOfTheNetHoodFolder) {
  struct Case {
    const char16_t* line;
    const char16_t* expected;
  } cases[] = {
      {u"Folder:C:\\Users\\Ann\\NetHood\\docs on server\r\n", u"Folder:\\\\server\\docs\r\n"},
      {u"Folder:C:\\Users\\Ann\\NetHood\\docs (server)\r\n", u"Folder:\\\\server\\docs\r\n"},
      {u"Folder:C:\\Users\\Ann\\NetHood\\docs on server more\r\n", u"Folder:\\\\server\\docs\r\n"},
      // Names without the words stay as they are rather than being cut at -1.
      {u"Folder:C:\\Users\\Ann\\NetHood\\docs\r\n", u"Folder:C:\\Users\\Ann\\NetHood\\docs\r\n"},
      {u"Folder:C:\\Users\\Ann\\NetHood\\docs on\r\n", u"Folder:C:\\Users\\Ann\\NetHood\\docs on\r\n"},
      {u"Folder:C:\\Data\r\n", u"Folder:C:\\Data\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(NetworkPlaceLine(c.line), CString(c.expected)) << Utf8(c.line);
}

}  // namespace
