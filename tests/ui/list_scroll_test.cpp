// A list view with more rows than its client area shows: a script's select,
// tick and right click on a row below the fold scroll the list to it first,
// as a user does, so the click lands on that row and not on what lies under
// the list; rows scrolled away above take no clicks under the header.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/resource.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/window.h"
#include "ui_test_support.h"

using platform::ui::Script;

namespace {

constexpr int kRows = 12;

class LongListPage : public CDialog {
 public:
  LongListPage() : CDialog(IDD_CONTROLS) {}
  CListCtrl list;
  std::vector<std::string> seen;
  struct Look {
    int top;
    int selected;
    bool in_client;  // the selected row's rectangle lies in the client area
  };
  std::vector<Look> looks;
  int rows_shown = 0;
  std::vector<bool> checks;
  int hit_under_header = -2;

  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, IDC_LIST, list); }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    list.SetExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    list.InsertColumn(0, u"Row", LVCFMT_LEFT, 120);
    for (int i = 0; i < kRows; ++i) list.InsertItem(i, (u"row " + std::u16string(1, u'a' + i)).c_str());
    CRect client;
    list.GetClientRect(&client);
    CRect first;
    list.GetItemRect(0, &first, 0);
    rows_shown = (client.bottom - first.top) / first.Height();
    return TRUE;
  }
  void OnCancel() override {
    for (int i = 0; i < list.GetItemCount(); ++i) checks.push_back(list.GetCheck(i) != FALSE);
    CRect first;
    list.GetItemRect(list.GetTopIndex(), &first, 0);
    // Just above the first row in view: the header, not a scrolled-away row.
    hit_under_header = list.HitTest(CPoint(60, first.top - 5));
    CDialog::OnCancel();
  }

 protected:
  void OnChanged(NMHDR* h, LRESULT*) {
    auto* nm = reinterpret_cast<NMLISTVIEW*>(h);
    if (!(nm->uNewState & LVIS_SELECTED)) return;
    CRect client;
    list.GetClientRect(&client);
    CRect row;
    list.GetItemRect(nm->iItem, &row, 0);
    looks.push_back({list.GetTopIndex(), nm->iItem, row.top >= 0 && row.bottom <= client.bottom});
  }
  void OnRightClick(NMHDR* h, LRESULT*) {
    seen.push_back("rclick row " + std::to_string(reinterpret_cast<NMITEMACTIVATE*>(h)->iItem));
  }
  // A click that missed the list lands on the dialog.
  void OnLButtonDown(UINT, CPoint) { seen.push_back("click on the dialog"); }
  void OnRButtonDown(UINT, CPoint) { seen.push_back("right click on the dialog"); }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(LongListPage, CDialog)
  ON_NOTIFY(LVN_ITEMCHANGED, IDC_LIST, &LongListPage::OnChanged)
  ON_NOTIFY(NM_RCLICK, IDC_LIST, &LongListPage::OnRightClick)
  ON_WM_LBUTTONDOWN()
  ON_WM_RBUTTONDOWN()
END_MESSAGE_MAP()

TEST(ListViewScrolling, RowsBelowTheFoldAreScrolledToAndClicked) {
  LongListPage page;
  Script s;
  s.expect_dialog(IDD_CONTROLS)
      .tick(IDC_LIST, 0)
      .select(IDC_LIST, 10)
      .tick(IDC_LIST, 11)
      .rclick(IDC_LIST, 9)
      .select_text(IDC_LIST, "row b")  // back up: scrolled up just far enough
      .expect_checked(IDC_LIST, 11)
      .key("escape");
  auto run = ui_test::RunScripted(s, [&] { page.DoModal(); });
  ASSERT_EQ(run.failure, "");
  ASSERT_GT(page.rows_shown, 2);
  ASSERT_LT(page.rows_shown, 10) << "the fixture's list must be shorter than its rows";
  ASSERT_EQ(page.looks.size(), 2u);
  EXPECT_EQ(page.looks[0].selected, 10);
  EXPECT_EQ(page.looks[0].top, 10 - page.rows_shown + 1) << "scrolled just far enough";
  EXPECT_TRUE(page.looks[0].in_client);
  EXPECT_EQ(page.looks[1].selected, 1);
  EXPECT_EQ(page.looks[1].top, 1);
  EXPECT_TRUE(page.looks[1].in_client);
  EXPECT_EQ(page.seen, (std::vector<std::string>{"rclick row 9"}));
  std::vector<bool> want(kRows, false);
  want[0] = want[11] = true;
  EXPECT_EQ(page.checks, want);
  EXPECT_EQ(page.hit_under_header, -1);
}

}  // namespace
