// Controls with their state and notifications, menus, and the window functions.
#include <gtest/gtest.h>

#include <algorithm>

#include "fixtures/resource.h"
#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"
#include "ui_test_support.h"

using platform::ui::Script;

namespace {

// Rows: disk, partition, disk. Ticking a partition row is refused, and so is
// any change without a check-box state (rows are never selected).
class TickPage : public CDialog {
 public:
  TickPage() : CDialog(IDD_CONTROLS) {}
  CListCtrl list;
  struct Change {
    int row;
    UINT new_state;
    bool refused;
  };
  std::vector<Change> changes;
  std::vector<int> changed_rows;
  std::vector<bool> final_checks;
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, IDC_LIST, list); }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    list.SetExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    list.InsertColumn(0, u"Disk", LVCFMT_LEFT, 130);
    list.InsertColumn(1, u"Size", LVCFMT_RIGHT, 80);
    list.InsertItem(0, u"Disk 1");
    list.SetItemText(0, 1, u"10 GB");
    list.InsertItem(1, u"  Partition");
    list.InsertItem(2, u"Disk 2");
    ready = true;
    return TRUE;
  }
  void OnCancel() override {
    for (int i = 0; i < list.GetItemCount(); ++i) final_checks.push_back(list.GetCheck(i));
    CDialog::OnCancel();
  }
  bool ready = false;

 protected:
  void OnChanging(NMHDR* h, LRESULT* result) {
    auto* nm = reinterpret_cast<NMLISTVIEW*>(h);
    bool refuse = nm->uNewState < 0x1000 || (nm->uNewState == 0x2000 && nm->iItem == 1);
    if (ready) changes.push_back({nm->iItem, nm->uNewState, refuse});
    *result = refuse ? 1 : 0;
  }
  void OnChanged(NMHDR* h, LRESULT*) { changed_rows.push_back(reinterpret_cast<NMLISTVIEW*>(h)->iItem); }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(TickPage, CDialog)
  ON_NOTIFY(LVN_ITEMCHANGING, IDC_LIST, &TickPage::OnChanging)
  ON_NOTIFY(LVN_ITEMCHANGED, IDC_LIST, &TickPage::OnChanged)
END_MESSAGE_MAP()

TEST(ListView, TickRefusalThroughItemChanging) {
  TickPage page;
  Script s;
  s.expect_dialog(IDD_CONTROLS)
      .tick(IDC_LIST, 1)    // partition row: refused
      .tick(IDC_LIST, 0)    // disk row: allowed
      .expect_checked(IDC_LIST, 0)
      .select(IDC_LIST, 2)  // selection: refused
      .untick(IDC_LIST, 0)
      .key("escape");
  auto run = ui_test::RunScripted(s, [&] { page.DoModal(); });
  ASSERT_EQ(run.failure, "");
  ASSERT_EQ(page.changes.size(), 4u);
  EXPECT_EQ(page.changes[0].row, 1);
  EXPECT_EQ(page.changes[0].new_state, 0x2000u);
  EXPECT_TRUE(page.changes[0].refused);
  EXPECT_EQ(page.changes[1].row, 0);
  EXPECT_FALSE(page.changes[1].refused);
  EXPECT_EQ(page.changes[2].new_state, static_cast<UINT>(LVIS_SELECTED | LVIS_FOCUSED));
  EXPECT_TRUE(page.changes[2].refused);
  EXPECT_EQ(page.changes[3].new_state, 0x1000u);
  // Only the allowed changes were applied and reported as changed.
  EXPECT_EQ(page.changed_rows, (std::vector<int>{0, 0}));
  EXPECT_EQ(page.final_checks, (std::vector<bool>{false, false, false}));
}

// A drop-down combo picked by the script: the parent hears CBN_SELCHANGE
// while the field still holds the old text, and the field shows the pick after.
class PickPage : public CDialog {
 public:
  PickPage() : CDialog(IDD_CONTROLS) {}
  CComboBox combo;
  std::vector<std::u16string> texts_at_change;
  std::u16string text_at_end;
  void OnCancel() override {
    CString text;
    combo.GetWindowText(text);
    text_at_end = text.GetString();
    CDialog::OnCancel();
  }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    combo.Create(u"ComboBox", u"", CBS_DROPDOWN | WS_CHILD | WS_VISIBLE | WS_VSCROLL, CRect(150, 5, 260, 120), this,
                 4321);
    combo.AddString(u"alpha");
    combo.AddString(u"beta");
    combo.SetWindowText(u"typed");
    return TRUE;
  }

 protected:
  void OnSelChange() {
    CString text;
    combo.GetWindowText(text);
    texts_at_change.push_back(text.GetString());
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(PickPage, CDialog)
  ON_CBN_SELCHANGE(4321, &PickPage::OnSelChange)
END_MESSAGE_MAP()

TEST(ComboBox, ScriptedPickShowsInTheDropDownField) {
  PickPage page;
  Script s;
  s.expect_dialog(IDD_CONTROLS).select(4321, 1).key("escape");
  auto run = ui_test::RunScripted(s, [&] { page.DoModal(); });
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(page.texts_at_change, (std::vector<std::u16string>{u"typed"}));
  EXPECT_EQ(page.text_at_end, u"beta");
}

class ColourPage : public CDialog {
 public:
  ColourPage() : CDialog(IDD_CONTROLS) {}
  CListCtrl list;
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, IDC_LIST, list); }

 protected:
  void OnCustomDraw(NMHDR* h, LRESULT* result) {
    auto* cd = reinterpret_cast<NMLVCUSTOMDRAW*>(h);
    if (cd->nmcd.dwDrawStage == CDDS_PREPAINT) {
      *result = CDRF_NOTIFYITEMDRAW;
    } else if (cd->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
      if (cd->nmcd.dwItemSpec == 1) cd->clrTextBk = RGB(255, 0, 0);
      *result = CDRF_DODEFAULT;
    }
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(ColourPage, CDialog)
  ON_NOTIFY(NM_CUSTOMDRAW, IDC_LIST, &ColourPage::OnCustomDraw)
END_MESSAGE_MAP()

TEST(ListView, CustomDrawColoursRows) {
  ColourPage page;
  ASSERT_TRUE(page.Create(IDD_CONTROLS));
  page.list.InsertColumn(0, u"Name", LVCFMT_LEFT, 100);
  page.list.InsertItem(0, u"plain");
  page.list.InsertItem(1, u"red");
  auto* w = platform::ui::FindWindowModel(page.list.m_hWnd);
  auto* model = platform::ui::ModelOf<platform::ui::ListViewModel>(page.list.m_hWnd);
  ASSERT_TRUE(w && model);
  model->custom_draw(*w);
  EXPECT_EQ(model->rows[0].drawn_back, GetSysColor(COLOR_WINDOW));
  EXPECT_EQ(model->rows[1].drawn_back, RGB(255, 0, 0));
  page.DestroyWindow();
}

// A tree with tri-state check boxes through a state image list, filled
// once on first expansion, ticked by clicks on the state icon.
class TreePage : public CDialog {
 public:
  TreePage() : CDialog(IDD_CONTROLS) {}
  CTreeCtrl tree;
  CImageList states;
  int expanding = 0;
  int clicks_on_state = 0;
  HTREEITEM drive = nullptr;
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, IDC_TREE, tree); }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    states.Create(16, 16, ILC_COLOR32, 4, 0);
    for (int i = 0; i < 4; ++i) {
      CBitmap b;
      CDC dc;
      dc.CreateCompatibleDC(nullptr);
      b.CreateCompatibleBitmap(&dc, 16, 16);
      states.Add(&b, static_cast<CBitmap*>(nullptr));
    }
    tree.SetImageList(&states, TVSIL_STATE);
    TVINSERTSTRUCTW in{};
    in.hParent = TVI_ROOT;
    in.hInsertAfter = TVI_LAST;
    in.item.mask = TVIF_TEXT | TVIF_CHILDREN | TVIF_STATE;
    in.item.pszText = const_cast<LPWSTR>(u"C:");
    in.item.cChildren = 1;
    in.item.state = INDEXTOSTATEIMAGEMASK(1);
    in.item.stateMask = TVIS_STATEIMAGEMASK;
    drive = tree.InsertItem(&in);
    return TRUE;
  }

 protected:
  void OnExpanding(NMHDR* h, LRESULT* result) {
    auto* nm = reinterpret_cast<NMTREEVIEW*>(h);
    ++expanding;
    if (nm->action == TVE_EXPAND && !tree.GetChildItem(nm->itemNew.hItem)) {
      for (const char16_t* name : {u"Users", u"Windows"}) {
        HTREEITEM child = tree.InsertItem(name, nm->itemNew.hItem);
        tree.SetItemState(child, INDEXTOSTATEIMAGEMASK(1), TVIS_STATEIMAGEMASK);
      }
    }
    *result = 0;
  }
  void OnClick(NMHDR*, LRESULT*) {
    POINT p;
    GetCursorPos(&p);
    tree.ScreenToClient(&p);
    UINT flags = 0;
    HTREEITEM item = tree.HitTest(CPoint(p), &flags);
    if (item && (flags & TVHT_ONITEMSTATEICON)) {
      ++clicks_on_state;
      UINT image = tree.GetItemState(item, TVIS_STATEIMAGEMASK) >> 12;
      tree.SetItemState(item, INDEXTOSTATEIMAGEMASK(image == 2 ? 1 : 2), TVIS_STATEIMAGEMASK);
      // The parent shows "partly ticked" (3) when its children differ.
      HTREEITEM parent = tree.GetParentItem(item);
      if (parent) {
        int ticked = 0, all = 0;
        for (HTREEITEM c = tree.GetChildItem(parent); c; c = tree.GetNextSiblingItem(c), ++all)
          ticked += (tree.GetItemState(c, TVIS_STATEIMAGEMASK) >> 12) == 2;
        tree.SetItemState(parent, INDEXTOSTATEIMAGEMASK(ticked == 0 ? 1 : ticked == all ? 2 : 3), TVIS_STATEIMAGEMASK);
      }
    }
  }
  void OnCancel() override {
    // A program's Expand of an item expanded once before does not notify.
    int before = expanding;
    tree.Expand(drive, TVE_COLLAPSE);
    tree.Expand(drive, TVE_EXPAND);
    expand_once_quiet = expanding == before;
    CDialog::OnCancel();
  }

 public:
  bool expand_once_quiet = false;
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(TreePage, CDialog)
  ON_NOTIFY(TVN_ITEMEXPANDING, IDC_TREE, &TreePage::OnExpanding)
  ON_NOTIFY(NM_CLICK, IDC_TREE, &TreePage::OnClick)
END_MESSAGE_MAP()

TEST(TreeView, StateImagesExpandOnceAndStateIconHits) {
  TreePage page;
  Script s;
  s.expect_dialog(IDD_CONTROLS)
      .expand(IDC_TREE, "C:")
      .tick_path(IDC_TREE, "C:/Windows")
      .key("escape");
  auto run = ui_test::RunScripted(s, [&] { page.DoModal(); });
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(page.expanding, 1);
  EXPECT_EQ(page.clicks_on_state, 1);
  EXPECT_TRUE(page.expand_once_quiet);
}

TEST(TreeView, ModelStatesAfterClicks) {
  TreePage page;
  ASSERT_TRUE(page.Create(IDD_CONTROLS));
  auto* model = platform::ui::ModelOf<platform::ui::TreeViewModel>(page.tree.m_hWnd);
  auto* w = platform::ui::FindWindowModel(page.tree.m_hWnd);
  ASSERT_TRUE(model && w);
  page.tree.Expand(page.drive, TVE_EXPAND);
  HTREEITEM users = page.tree.GetChildItem(page.drive);
  HTREEITEM windows = page.tree.GetNextSiblingItem(users);
  ASSERT_TRUE(users && windows);
  // Click the state icon of "Windows": ticked, and the drive shows partly ticked.
  RECT r = model->state_icon_rect(*w, model->node(windows));
  LPARAM at = MAKELONG(static_cast<WORD>((r.left + r.right) / 2), static_cast<WORD>((r.top + r.bottom) / 2));
  SendMessageW(page.tree.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
  EXPECT_EQ(page.tree.GetItemState(windows, TVIS_STATEIMAGEMASK) >> 12, 2u);
  EXPECT_EQ(page.tree.GetItemState(page.drive, TVIS_STATEIMAGEMASK) >> 12, 3u);
  // A click on the label selects instead of ticking.
  TVHITTESTINFO hit{{r.right + 6, (r.top + r.bottom) / 2}, 0, nullptr};
  EXPECT_EQ(page.tree.HitTest(&hit), windows);
  EXPECT_EQ(hit.flags, TVHT_ONITEMLABEL);
  EXPECT_EQ(page.clicks_on_state, 1);
  // Deleting the drive deletes its children; stale handles are refused.
  EXPECT_TRUE(page.tree.DeleteItem(page.drive));
  EXPECT_EQ(page.tree.GetCount(), 0u);
  EXPECT_FALSE(page.tree.SetItemText(windows, u"gone"));
  page.DestroyWindow();
}

// A tree with its own state images, whose box goes through several partly
// ticked looks before it shows a tick (1 -> 4 -> 7 -> 15 -> 1), and one that
// never does: the script's tick and untick click until the declared image.
class CyclingTreePage : public CDialog {
 public:
  CyclingTreePage() : CDialog(IDD_CONTROLS) {}
  CTreeCtrl tree;
  CImageList states;
  HTREEITEM item = nullptr, stuck = nullptr;
  int clicks = 0;
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, IDC_TREE, tree); }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    states.Create(16, 16, ILC_COLOR32, 16, 0);
    for (int i = 0; i < 16; ++i) {
      CBitmap b;
      CDC dc;
      dc.CreateCompatibleDC(nullptr);
      b.CreateCompatibleBitmap(&dc, 16, 16);
      states.Add(&b, static_cast<CBitmap*>(nullptr));
    }
    tree.SetImageList(&states, TVSIL_STATE);
    platform::ui::SetTreeTickImages(tree.m_hWnd, {15}, {1});
    item = tree.InsertItem(u"Folder");
    stuck = tree.InsertItem(u"Stuck");
    tree.SetItemState(item, INDEXTOSTATEIMAGEMASK(1), TVIS_STATEIMAGEMASK);
    tree.SetItemState(stuck, INDEXTOSTATEIMAGEMASK(2), TVIS_STATEIMAGEMASK);
    return TRUE;
  }
  void OnClick(NMHDR*, LRESULT*) {
    POINT p;
    GetCursorPos(&p);
    tree.ScreenToClient(&p);
    UINT flags = 0;
    HTREEITEM hit = tree.HitTest(CPoint(p), &flags);
    if (hit != item || !(flags & TVHT_ONITEMSTATEICON)) return;
    ++clicks;
    const UINT image = tree.GetItemState(item, TVIS_STATEIMAGEMASK) >> 12;
    const UINT next = image == 1 ? 4 : image == 4 ? 7 : image == 7 ? 15 : 1;
    tree.SetItemState(item, INDEXTOSTATEIMAGEMASK(next), TVIS_STATEIMAGEMASK);
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CyclingTreePage, CDialog)
  ON_NOTIFY(NM_CLICK, IDC_TREE, &CyclingTreePage::OnClick)
END_MESSAGE_MAP()

TEST(TreeView, TickAndUntickFollowTheDeclaredImagesAndStatesReadBack) {
  CyclingTreePage page;
  Script s;
  s.expect_dialog(IDD_CONTROLS).expect_state(IDC_TREE, "Folder", 1);
  s.tick_path(IDC_TREE, "Folder").expect_state(IDC_TREE, "Folder", 4);
  s.tick_path(IDC_TREE, "Folder").expect_state(IDC_TREE, "Folder", 7);
  s.tick_path(IDC_TREE, "Folder").expect_state(IDC_TREE, "Folder", 15);
  s.tick_path(IDC_TREE, "Folder").expect_state(IDC_TREE, "Folder", 15);
  s.untick_path(IDC_TREE, "Folder").expect_state(IDC_TREE, "Folder", 1).key("escape");
  auto run = ui_test::RunScripted(s, [&] { page.DoModal(); });
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(page.clicks, 4) << "three clicks to the tick, none for a ticked box, one to untick";
  // An expectation of a state names the one shown.
  CyclingTreePage third;
  Script u;
  u.expect_dialog(IDD_CONTROLS).expect_state(IDC_TREE, "Folder", 7);
  auto wrong = ui_test::RunScripted(u, [&] { third.DoModal(); });
  EXPECT_NE(wrong.failure.find("its state image is 1"), std::string::npos) << wrong.failure;
}

int CompareByData(LPARAM a, LPARAM b, LPARAM descending) {
  return descending ? static_cast<int>(b - a) : static_cast<int>(a - b);
}
// Answers at random: the order is unspecified, but no item is lost or doubled.
int CompareInconsistently(LPARAM a, LPARAM b, LPARAM) { return static_cast<int>((a * 7 + b * 13) % 3) - 1; }

TEST(TreeView, SortChildrenByCallbackMovesOneLevelOnly) {
  TreePage page;
  ASSERT_TRUE(page.Create(IDD_CONTROLS));
  CTreeCtrl& t = page.tree;
  t.DeleteAllItems();
  HTREEITEM top = t.InsertItem(u"top");
  const int order[] = {3, 1, 4, 1, 5, 9, 2, 6};
  for (int v : order) {
    HTREEITEM c = t.InsertItem(platform::to_utf16(std::to_string(v)).c_str(), top);
    t.SetItemData(c, static_cast<DWORD_PTR>(v));
    HTREEITEM g = t.InsertItem(u"z", c);
    t.SetItemData(g, 100);
    t.InsertItem(u"a", c);
  }
  auto texts = [&](HTREEITEM parent) {
    std::string out;
    for (HTREEITEM c = t.GetChildItem(parent); c; c = t.GetNextSiblingItem(c)) out += platform::to_utf8(t.GetItemText(c).str());
    return out;
  };
  TVSORTCB sort{top, &CompareByData, 0};
  ASSERT_TRUE(t.SortChildrenCB(&sort));
  EXPECT_EQ(texts(top), "11234569");
  EXPECT_EQ(texts(t.GetChildItem(top)), "za") << "the grandchildren keep their order";
  sort.lParam = 1;
  ASSERT_TRUE(t.SortChildrenCB(&sort));
  EXPECT_EQ(texts(top), "96543211");
  sort.lpfnCompare = &CompareInconsistently;
  ASSERT_TRUE(t.SortChildrenCB(&sort));
  std::string shuffled = texts(top);
  std::sort(shuffled.begin(), shuffled.end());
  EXPECT_EQ(shuffled, "11234569");
  TVSORTCB none{top, nullptr, 0};
  EXPECT_FALSE(t.SortChildrenCB(&none));
  TVSORTCB stale{reinterpret_cast<HTREEITEM>(0x1234), &CompareByData, 0};
  EXPECT_FALSE(t.SortChildrenCB(&stale));
  page.DestroyWindow();
}

TEST(Menus, RelabelEnableCheckByCommandAndPosition) {
  CMenu menu;
  ASSERT_TRUE(menu.LoadMenu(IDR_MENU));
  std::u16string text;
  EXPECT_EQ(menu.GetMenuItemCount(), 2);
  CMenu* file = menu.GetSubMenu(0);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->GetMenuItemCount(), 3);
  EXPECT_EQ(file->GetMenuItemID(1), 0u);  // the separator
  // By command, searching sub-menus from the bar.
  EXPECT_TRUE(menu.ModifyMenu(ID_FILE_OPEN, MF_BYCOMMAND | MF_STRING, ID_FILE_OPEN, u"&Load..."));
  menu.GetMenuString(ID_FILE_OPEN, text, MF_BYCOMMAND);
  EXPECT_EQ(text, u"&Load...");
  // By position.
  EXPECT_TRUE(file->ModifyMenu(2, MF_BYPOSITION | MF_STRING, ID_FILE_EXIT, u"&Quit"));
  file->GetMenuString(2, text, MF_BYPOSITION);
  EXPECT_EQ(text, u"&Quit");
  // The template said GRAYED; relabelling replaced the flags.
  EXPECT_EQ(menu.GetMenuState(ID_FILE_EXIT, MF_BYCOMMAND) & MF_GRAYED, 0u);
  EXPECT_EQ(menu.EnableMenuItem(ID_FILE_EXIT, MF_BYCOMMAND | MF_GRAYED), 0u);
  EXPECT_EQ(menu.EnableMenuItem(ID_FILE_EXIT, MF_BYCOMMAND | MF_ENABLED), MF_GRAYED);
  EXPECT_EQ(menu.CheckMenuItem(ID_HELP_ABOUT, MF_BYCOMMAND | MF_UNCHECKED), MF_CHECKED);
  EXPECT_EQ(menu.GetMenuState(ID_HELP_ABOUT, MF_BYCOMMAND) & MF_CHECKED, 0u);
  EXPECT_FALSE(menu.ModifyMenu(9999, MF_BYCOMMAND, 9999, u"none"));
  EXPECT_TRUE(menu.DeleteMenu(ID_FILE_OPEN, MF_BYCOMMAND));
  EXPECT_EQ(file->GetMenuItemCount(), 2);
}

TEST(Menus, ExtendedMenuFromTemplate) {
  CMenu menu;
  ASSERT_TRUE(menu.LoadMenu(IDR_MENUEX));
  CMenu* tools = menu.GetSubMenu(0);
  ASSERT_NE(tools, nullptr);
  EXPECT_EQ(tools->GetMenuItemCount(), 3);
  EXPECT_EQ(tools->GetMenuState(ID_FILE_OPEN, MF_BYCOMMAND) & MF_GRAYED, MF_GRAYED);
  EXPECT_EQ(tools->GetMenuState(1, MF_BYPOSITION) & MF_SEPARATOR, MF_SEPARATOR);
}

// TrackPopupMenu with TPM_RETURNCMD, answered by the script; owner-drawn
// items are measured and drawn as the menu opens.
class MenuPage : public CDialog {
 public:
  MenuPage() : CDialog(IDD_PAGE1) {}
  UINT picked = 0;
  int measured = 0, drawn = 0, init_popup = 0;
  std::vector<UINT> system_commands;

 protected:
  void OnNext() {
    CMenu popup;
    popup.CreatePopupMenu();
    popup.AppendMenu(MF_STRING, 501, u"Copy");
    popup.AppendMenu(MF_OWNERDRAW, 502, reinterpret_cast<LPCWSTR>(static_cast<UINT_PTR>(77)));
    popup.AppendMenu(MF_STRING | MF_GRAYED, 503, u"Gone");
    picked = static_cast<UINT>(popup.TrackPopupMenu(TPM_RETURNCMD | TPM_LEFTALIGN, 10, 10, this));
  }
  void OnBack() {
    CMenu* sys = GetSystemMenu(FALSE);
    sys->AppendMenu(MF_SEPARATOR);
    sys->AppendMenu(MF_STRING, 0x0110, u"About...");
  }
  void OnMeasureItem(int, LPMEASUREITEMSTRUCT mi) {
    if (mi->itemData == 77) ++measured;
    mi->itemWidth = 100;
    mi->itemHeight = 20;
  }
  void OnDrawItem(int, LPDRAWITEMSTRUCT di) {
    if (di->itemData == 77 && di->hDC) ++drawn;
  }
  void OnInitMenuPopup(CMenu*, UINT, BOOL) { ++init_popup; }
  void OnSysCommand(UINT id, LPARAM l) {
    system_commands.push_back(id);
    if (id == SC_CLOSE) CWnd::OnSysCommand(id, l);
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(MenuPage, CDialog)
  ON_BN_CLICKED(IDC_NEXT, &MenuPage::OnNext)
  ON_BN_CLICKED(IDC_BACK, &MenuPage::OnBack)
  ON_WM_MEASUREITEM()
  ON_WM_DRAWITEM()
  ON_WM_INITMENUPOPUP()
  ON_WM_SYSCOMMAND()
END_MESSAGE_MAP()

TEST(Menus, PopupReturnsCommandAndSystemMenuCommands) {
  MenuPage page;
  Script s;
  s.expect_dialog(IDD_PAGE1).click(IDC_NEXT).menu(501).click(IDC_BACK).menu(0x0110).menu(SC_CLOSE);
  INT_PTR result = 0;
  auto run = ui_test::RunScripted(s, [&] { result = page.DoModal(); });
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(page.picked, 501u);
  EXPECT_EQ(page.measured, 1);
  EXPECT_EQ(page.drawn, 1);
  EXPECT_GE(page.init_popup, 1);
  EXPECT_EQ(page.system_commands, (std::vector<UINT>{0x0110, SC_CLOSE}));
  EXPECT_EQ(result, IDCANCEL);  // closing from the system menu is Cancel
}

TEST(Menus, GrayedPopupItemFailsTheScript) {
  MenuPage page;
  Script s;
  s.expect_dialog(IDD_PAGE1).click(IDC_NEXT).menu(503);
  auto run = ui_test::RunScripted(s, [&] { page.DoModal(); });
  EXPECT_NE(run.failure.find("menu item 503 is disabled"), std::string::npos) << run.failure;
}

TEST(Controls, ComboListBoxProgressEditAndButtons) {
  CDialog page(IDD_CONTROLS);
  ASSERT_TRUE(page.Create(IDD_CONTROLS));
  // Objects for controls without one of their own are of the control's class.
  auto* combo = dynamic_cast<CComboBox*>(page.GetDlgItem(IDC_COMBO));
  ASSERT_NE(combo, nullptr);
  EXPECT_NE(dynamic_cast<CButton*>(page.GetDlgItem(IDC_CHECK)), nullptr);
  EXPECT_NE(dynamic_cast<CListCtrl*>(page.GetDlgItem(IDC_LIST)), nullptr);
  EXPECT_EQ(dynamic_cast<CEdit*>(page.GetDlgItem(IDC_LIST)), nullptr);
  // Sorted: insertion places items in order; FindString is a prefix match
  // ignoring case and starts after the given index, wrapping.
  combo->AddString(u"NTFS");
  combo->AddString(u"FAT32");
  combo->AddString(u"exFAT");
  std::u16string text;
  combo->GetLBText(0, text);
  EXPECT_EQ(text, u"exFAT");
  EXPECT_EQ(combo->FindString(-1, u"fat"), 1);
  EXPECT_EQ(combo->FindString(1, u"fat"), 1);  // wraps back around to itself
  EXPECT_EQ(combo->FindStringExact(-1, u"fat"), CB_ERR);
  EXPECT_EQ(combo->FindStringExact(-1, u"ntfs"), 2);
  EXPECT_EQ(combo->SetCurSel(7), CB_ERR);
  EXPECT_EQ(combo->GetCurSel(), -1);

  EXPECT_EQ(page.GetDlgItem(IDC_PROGRESS), nullptr);  // no progress bar on this page
  CProgressCtrl bar;
  ASSERT_TRUE(bar.Create(u"msctls_progress32", u"", WS_CHILD | WS_VISIBLE, CRect(0, 0, 100, 10), &page, 999));
  bar.SetRange32(0, 2000000000);  // a range past 16 bits
  EXPECT_EQ(bar.SetPos(1500000000), 0);
  EXPECT_EQ(bar.GetPos(), 1500000000);
  bar.SetRange32(0, 10);
  bar.SetStep(4);
  bar.SetPos(8);
  EXPECT_EQ(bar.StepIt(), 8);
  EXPECT_EQ(bar.GetPos(), 2);  // past the end wraps to the start

  // Radio groups and check boxes clicked by the user.
  SendMessageW(::GetDlgItem(page.m_hWnd, IDC_RADIO2), BM_CLICK, 0, 0);
  EXPECT_EQ(page.IsDlgButtonChecked(IDC_RADIO2), 1u);
  SendMessageW(::GetDlgItem(page.m_hWnd, IDC_RADIO1), BM_CLICK, 0, 0);
  EXPECT_EQ(page.IsDlgButtonChecked(IDC_RADIO1), 1u);
  EXPECT_EQ(page.IsDlgButtonChecked(IDC_RADIO2), 0u);
  SendMessageW(::GetDlgItem(page.m_hWnd, 1063), BM_CLICK, 0, 0);  // a plain check box stays
  EXPECT_EQ(page.IsDlgButtonChecked(1063), 0u);

  // Digits-only edit: typed letters are refused, digits taken.
  HWND edit = ::GetDlgItem(page.m_hWnd, IDC_NUMBER);
  for (char16_t c : std::u16string(u"4a2")) SendMessageW(edit, WM_CHAR, c, 0);
  EXPECT_EQ(page.GetDlgItemText(IDC_NUMBER), u"42");
  BOOL ok = FALSE;
  EXPECT_EQ(page.GetDlgItemInt(IDC_NUMBER, &ok), 42u);
  EXPECT_TRUE(ok);
  page.SetDlgItemText(IDC_NUMBER, u"99999999999999");
  page.GetDlgItemInt(IDC_NUMBER, &ok);
  EXPECT_FALSE(ok);  // too large is not a number, not a wrapped one
  page.DestroyWindow();
}

TEST(Controls, RichEditRunsTakeCharacterFormats) {
  CDialog page(IDD_CONTROLS);
  ASSERT_TRUE(page.Create(IDD_CONTROLS));
  auto* rich = dynamic_cast<CRichEditCtrl*>(page.GetDlgItem(IDC_RICH));
  ASSERT_NE(rich, nullptr);
  rich->SetWindowText(u"Title and more");
  rich->SetSel(0, 5);
  CHARFORMAT2W cf{};
  cf.cbSize = sizeof(cf);
  cf.dwMask = CFM_COLOR | CFM_BOLD;
  cf.dwEffects = CFE_BOLD;
  cf.crTextColor = RGB(255, 255, 255);
  EXPECT_TRUE(rich->SetSelectionCharFormat(cf));
  rich->SetSel(-1, -1);
  auto* model = platform::ui::ModelOf<platform::ui::RichEditModel>(rich->m_hWnd);
  auto* w = platform::ui::FindWindowModel(rich->m_hWnd);
  auto runs = model->runs(*w);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].length, 5);
  EXPECT_TRUE(runs[0].format.bold);
  EXPECT_FALSE(runs[0].format.auto_color);
  EXPECT_EQ(runs[0].format.color, RGB(255, 255, 255));
  EXPECT_FALSE(runs[1].format.bold);
  page.DestroyWindow();
}

TEST(WindowFunctions, ChildFromPointZOrderAndFind) {
  CDialog page(IDD_CONTROLS);
  ASSERT_TRUE(page.Create(IDD_CONTROLS));
  page.SetWindowText(u"Finder");
  // Hidden and disabled children are found too.
  CRect hidden, disabled;
  page.GetDlgItem(1091)->GetWindowRect(&hidden);
  page.ScreenToClient(&hidden);
  page.GetDlgItem(1092)->GetWindowRect(&disabled);
  page.ScreenToClient(&disabled);
  EXPECT_EQ(page.ChildWindowFromPoint(hidden.CenterPoint())->GetDlgCtrlID(), 1091);
  EXPECT_EQ(page.ChildWindowFromPoint(disabled.CenterPoint())->GetDlgCtrlID(), 1092);
  CRect client;
  page.GetClientRect(&client);
  EXPECT_EQ(page.ChildWindowFromPoint(CPoint(client.right - 1, 2))->m_hWnd, page.m_hWnd);
  EXPECT_EQ(page.ChildWindowFromPoint(CPoint(client.right + 5, 2)), nullptr);

  // Two top-level windows with the same title: FindWindowW walks the z-order.
  CDialog other(IDD_PAGE3);
  ASSERT_TRUE(other.Create(IDD_PAGE3));
  other.SetWindowText(u"Finder");
  EXPECT_EQ(FindWindowW(nullptr, u"Finder"), other.m_hWnd);
  page.SetWindowPos(nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);  // HWND_TOP
  EXPECT_EQ(FindWindowW(nullptr, u"Finder"), page.m_hWnd);
  EXPECT_EQ(FindWindowW(u"#32770", u"Finder"), page.m_hWnd);
  EXPECT_EQ(FindWindowW(nullptr, u"Nobody"), nullptr);
  // A topmost window stays above ordinary ones brought to the top.
  ::SetWindowPos(other.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  page.BringWindowToTop();
  EXPECT_EQ(FindWindowW(nullptr, u"Finder"), other.m_hWnd);
  // Moving and centring keep the size.
  page.MoveWindow(10, 20, 300, 200);
  CRect r;
  page.GetWindowRect(&r);
  EXPECT_EQ(r, CRect(10, 20, 310, 220));
  page.CenterWindow();
  page.GetWindowRect(&r);
  EXPECT_EQ(r, CRect((1024 - 300) / 2, (768 - 200) / 2, (1024 - 300) / 2 + 300, (768 - 200) / 2 + 200));
  other.DestroyWindow();
  page.DestroyWindow();
  EXPECT_FALSE(IsWindow(page.m_hWnd));
  EXPECT_FALSE(SetWindowTextW(reinterpret_cast<HWND>(0x1234), u"x"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

}  // namespace

namespace {

// Picture buttons are notify statics: a double click runs the tool; a right
// click on a list row reports the row.
class ClickPage : public CDialog {
 public:
  ClickPage() : CDialog(IDD_CONTROLS) {}
  std::vector<std::string> seen;
  CListCtrl list;
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, IDC_LIST, list); }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    list.InsertColumn(0, u"Name", LVCFMT_LEFT, 100);
    for (const char16_t* row : {u"zero", u"one", u"two"}) list.InsertItem(list.GetItemCount(), row);
    // A notify static made at run time, as picture buttons are. It goes to
    // the bottom of the z-order, so it sits where no template control
    // covers it (the mouse would reach the one on top).
    picture.Create(u"Static", u"", WS_CHILD | WS_VISIBLE | SS_NOTIFY, CRect(250, 148, 290, 170), this, 1500);
    return TRUE;
  }
  CStatic picture;

 protected:
  void OnPictureDoubleClick() { seen.push_back("dblclick picture"); }
  void OnPictureClick() { seen.push_back("click picture"); }
  void OnRightClick(NMHDR* h, LRESULT*) {
    seen.push_back("rclick row " + std::to_string(reinterpret_cast<NMITEMACTIVATE*>(h)->iItem));
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(ClickPage, CDialog)
  ON_STN_DBLCLK(1500, &ClickPage::OnPictureDoubleClick)
  ON_STN_CLICKED(1500, &ClickPage::OnPictureClick)
  ON_NOTIFY(NM_RCLICK, IDC_LIST, &ClickPage::OnRightClick)
END_MESSAGE_MAP()

TEST(Clicks, DoubleAndRightClicks) {
  ClickPage page;
  Script s;
  s.expect_dialog(IDD_CONTROLS).dblclick(1500).click(1500).rclick(IDC_LIST, 2).key("escape");
  auto run = ui_test::RunScripted(s, [&] { page.DoModal(); });
  ASSERT_EQ(run.failure, "");
  std::vector<std::string> want = {"dblclick picture", "click picture", "rclick row 2"};
  EXPECT_EQ(page.seen, want);
}

// A click at a point of a hidden control lands on the dialog beneath it, at
// that point in the dialog's client coordinates (a drawn bar marked by a
// hidden frame is clicked so).
class PointPage : public CDialog {
 public:
  PointPage() : CDialog(IDD_CONTROLS) {}
  std::vector<std::string> seen;
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    frame.Create(u"Static", u"", WS_CHILD, CRect(250, 148, 290, 170), this, 1501);
    return TRUE;
  }
  CStatic frame;

 protected:
  void OnLButtonDown(UINT, CPoint p) { seen.push_back("left " + std::to_string(p.x) + "," + std::to_string(p.y)); }
  void OnRButtonDown(UINT, CPoint p) { seen.push_back("right " + std::to_string(p.x) + "," + std::to_string(p.y)); }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(PointPage, CDialog)
  ON_WM_LBUTTONDOWN()
  ON_WM_RBUTTONDOWN()
END_MESSAGE_MAP()

TEST(Clicks, AtAPointOfAHiddenControl) {
  PointPage page;
  Script s;
  s.expect_dialog(IDD_CONTROLS).click_at(1501, 5, 6).rclick_at(1501, 30, 2).key("escape");
  auto run = ui_test::RunScripted(s, [&] { page.DoModal(); });
  ASSERT_EQ(run.failure, "");
  std::vector<std::string> want = {"left 255,154", "right 280,150"};
  EXPECT_EQ(page.seen, want);
}

}  // namespace
