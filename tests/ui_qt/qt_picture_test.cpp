// Pictures of windows as the view shows them, taken in a headless run (a
// mirror whose windows never reach a screen) and on the screen: a closed
// drop-down combo box is one line high and leaves what lies below it in
// view, a read-only edit sits on the dialog's face colour, a list longer
// than its box shows its scroll bar in both, and so does a list whose
// columns are wider than its box, with no rows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QScrollBar>
#include <QTreeWidget>
#include <QImage>
#include <algorithm>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"
#include "platform/ui/qt/widget_mirror.h"
#include "platform/ui/resources.h"
#include "platform/ui/window.h"
#include "ui_qt/qt_test_support.h"

namespace {

namespace ui = platform::ui;
using qttest::Pump;
using ui::Window;
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new qttest::WidgetApplication);

constexpr int IDD_PICTURES = 970;
constexpr int IDC_FILE_SYSTEM = 3201, IDC_BELOW = 3202, IDC_SECTOR = 3203, IDC_TYPED = 3204, IDC_ROWS = 3205,
              IDC_WIDE = 3206;
// The wide list's columns, in pixels: the first three leave less room in
// its box than the last one needs.
constexpr int kWideColumns[] = {140, 160, 120, 90};
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
const ui::DialogItemTemplate kItems[] = {
    // The combo's rectangle holds its dropped list, which covers the button.
    {u"ComboBox", u"", IDC_FILE_SYSTEM, 7, 7, 100, 64, kChild | WS_TABSTOP | CBS_DROPDOWNLIST, 0, 0},
    {u"Button", u"Format", IDC_BELOW, 7, 30, 60, 14, kChild | WS_TABSTOP | BS_PUSHBUTTON, 0, 0},
    {u"Edit", u"12345", IDC_SECTOR, 120, 7, 80, 12, kChild | WS_BORDER | ES_READONLY, 0, 0},
    {u"Edit", u"12345", IDC_TYPED, 120, 24, 80, 12, kChild | WS_BORDER | WS_TABSTOP, 0, 0},
    {u"SysListView32", u"", IDC_ROWS, 7, 80, 200, 60, kChild | WS_BORDER | LVS_REPORT, 0, 0},
    {u"SysListView32", u"", IDC_WIDE, 7, 146, 288, 104, kChild | WS_BORDER | LVS_REPORT, 0, 0},
};
const ui::DialogTemplate kDialogs[] = {
    {IDD_PICTURES, u"Pictures", u"MS Shell Dlg", 8, 400, 0, 0, 0, 302, 256,
     DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, kItems, std::size(kItems)},
};
const ui::ResourceTable kTable = {"ui_qt_picture_tests", kDialogs, std::size(kDialogs), nullptr, 0, nullptr, 0};

class PicturesPage : public CDialog {
 public:
  PicturesPage() : CDialog(IDD_PICTURES) {}
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    auto* combo = static_cast<CComboBox*>(GetDlgItem(IDC_FILE_SYSTEM));
    for (const char16_t* name : {u"NTFS", u"FAT32", u"exFAT"}) combo->AddString(name);
    combo->SetCurSel(0);
    auto* list = static_cast<CListCtrl*>(GetDlgItem(IDC_ROWS));
    list->InsertColumn(0, u"Sector", LVCFMT_LEFT, 120);
    for (int i = 0; i < 30; ++i) list->InsertItem(i, (u"Row " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26))).c_str());
    auto* wide = static_cast<CListCtrl*>(GetDlgItem(IDC_WIDE));
    wide->SetExtendedStyle(LVS_EX_GRIDLINES);
    const char16_t* headings[] = {u"Property", u"Value", u"Range", u"Remarks"};
    for (int c = 0; c < 4; ++c) wide->InsertColumn(c, headings[c], LVCFMT_LEFT, kWideColumns[c]);
    return TRUE;
  }
};

class QtPictureTest : public qttest::PageTest<PicturesPage> {
 protected:
  QtPictureTest() : PageTest(kTable, IDD_PICTURES) {}
  // The picture's pixel at a point of a control's client area.
  static QRgb At(const QImage& picture, const Window& top, const Window& control, int x, int y) {
    POINT off = top.client_offset();
    return picture.pixel(off.x + control.rect.left + x, off.y + control.rect.top + y) & 0xFFFFFF;
  }
  Window& Control(int id) { return *ui::FindWindowModel(item(id)); }
  Window& Top() { return *ui::FindWindowModel(page.m_hWnd); }
};

TEST_F(QtPictureTest, ClosedComboIsOneLineAndLeavesTheButtonBelowInView) {
  auto* combo = dynamic_cast<QComboBox*>(mirror.widget_for(item(IDC_FILE_SYSTEM)));
  ASSERT_NE(combo, nullptr);
  const Window& model = Control(IDC_FILE_SYSTEM);
  EXPECT_GT(model.rect.bottom - model.rect.top, 80) << "the model keeps the dropped height";
  EXPECT_LE(combo->height(), 30) << "one line";
  // The button below the closed combo shows: its face, not the combo's.
  ui::qt::WidgetMirror pictures(ui::qt::MirrorMode::Invisible);
  for (ui::qt::WidgetMirror* m : {&mirror, &pictures}) {
    const QImage picture = m->grab(Top());
    const Window& button = Control(IDC_BELOW);
    const QRgb inside_button = At(picture, Top(), button, 4, (button.rect.bottom - button.rect.top) / 2);
    EXPECT_NE(inside_button, 0xFFFFFFu) << "the button's face, not a white list box over it";
  }
  EXPECT_TRUE(mirror.clipped_texts(page.m_hWnd).empty());
}

TEST_F(QtPictureTest, ReadOnlyEditIsGreyAndAnEditableOneWhite) {
  ui::qt::WidgetMirror pictures(ui::qt::MirrorMode::Invisible);
  for (ui::qt::WidgetMirror* m : {&mirror, &pictures}) {
    const QImage picture = m->grab(Top());
    const Window& read_only = Control(IDC_SECTOR);
    const Window& typed = Control(IDC_TYPED);
    const int right = read_only.rect.right - read_only.rect.left - 5;
    EXPECT_EQ(At(picture, Top(), read_only, right, 4), ui::ToQRgb(GetSysColor(COLOR_BTNFACE)) & 0xFFFFFF);
    EXPECT_EQ(At(picture, Top(), typed, right, 4), ui::ToQRgb(GetSysColor(COLOR_WINDOW)) & 0xFFFFFF);
  }
}

// Thirty rows in a box for a few: the headless picture shows the vertical
// scroll bar the screen shows, at the same pixels.
TEST_F(QtPictureTest, LongListShowsItsScrollBarInHeadlessPicturesToo) {
  const Window& list = Control(IDC_ROWS);
  const int width = list.rect.right - list.rect.left, height = list.rect.bottom - list.rect.top;
  auto scroll_bar_column = [&](const QImage& picture) {
    std::vector<QRgb> column;
    for (int y = 4; y < height - 4; ++y) column.push_back(At(picture, Top(), list, width - 8, y));
    return column;
  };
  ui::qt::WidgetMirror pictures(ui::qt::MirrorMode::Invisible);
  const auto headless = scroll_bar_column(pictures.grab(Top()));
  Pump(&mirror);
  const auto on_screen = scroll_bar_column(mirror.grab(Top()));
  EXPECT_EQ(headless, on_screen);
  // Not the list's white: a bar is there.
  const int white = static_cast<int>(std::count(headless.begin(), headless.end(), 0xFFFFFFu));
  EXPECT_LT(white, static_cast<int>(headless.size()) / 2);
}

// An empty list whose columns together are wider than it, the last one
// starting inside it: every column, the last one too, keeps its width with
// its whole heading, and a horizontal scroll bar reaches the rest, on the
// screen and in pictures.
TEST_F(QtPictureTest, EmptyListWiderColumnsKeepTheirWidthsAndScrollSideways) {
  const Window& list = Control(IDC_WIDE);
  const int width = list.rect.right - list.rect.left, height = list.rect.bottom - list.rect.top;
  ASSERT_LT(kWideColumns[0] + kWideColumns[1] + kWideColumns[2], width);
  ASSERT_GT(kWideColumns[0] + kWideColumns[1] + kWideColumns[2] + kWideColumns[3], width);
  ui::qt::WidgetMirror pictures(ui::qt::MirrorMode::Invisible);
  for (ui::qt::WidgetMirror* m : {&mirror, &pictures}) {
    SCOPED_TRACE(m == &mirror ? "on the screen" : "headless picture");
    const QImage picture = m->grab(Top());
    auto* tree = dynamic_cast<QTreeWidget*>(m->widget_for(item(IDC_WIDE)));
    ASSERT_NE(tree, nullptr);
    for (int c = 0; c < 4; ++c) {
      EXPECT_EQ(tree->header()->sectionSize(c), kWideColumns[c]) << "column " << c;
      const int needed = tree->header()->fontMetrics().horizontalAdvance(tree->headerItem()->text(c));
      EXPECT_LT(needed, tree->header()->sectionSize(c)) << "column " << c;
    }
    EXPECT_GT(tree->horizontalScrollBar()->maximum(), 0);
    // The bar along the list's bottom edge: not the list's white.
    std::vector<QRgb> row;
    for (int x = 20; x < width - 20; ++x) row.push_back(At(picture, Top(), list, x, height - 8));
    const int white = static_cast<int>(std::count(row.begin(), row.end(), 0xFFFFFFu));
    EXPECT_LT(white, static_cast<int>(row.size()) / 2) << "a horizontal scroll bar";
  }
}

}  // namespace
