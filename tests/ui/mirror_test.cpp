// The Qt view of the model: mouse input on the widgets lands where the
// platform puts it, colours and custom drawing are asked when a window
// repaints (not on every pass), and transparent rich edits let the picture
// beneath them show in the view's screenshots.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QScrollBar>
#include <QTreeWidget>
#include <map>
#include <string>
#include <vector>

#include "fixtures/resource.h"
#include "heading_dialog.h"
#include "mouse_dialog.h"
#include "platform/ui/controls.h"
#include "platform/ui/qt/qt_view.h"
#include "platform/ui/qt/widget_mirror.h"
#include "platform/ui/window.h"
#include "ui_test_support.h"

namespace {

using platform::ui::qt::MirrorMode;
using platform::ui::qt::WidgetMirror;

// A dialog shown modeless with a view of it: widgets by control id, and a
// pump that runs what Qt input asked for and then the model's messages.
class MirrorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    ASSERT_TRUE(platform::ui::qt::EnsureWidgetApplication(platform::ui::UiMode::Headless, &error)) << error;
  }
  void TearDown() override { Close(); }

  // Destroys the dialog and its view (each case of a table opens its own).
  void Close() {
    if (shown_ && ::IsWindow(shown_)) ::DestroyWindow(shown_);
    shown_ = nullptr;
    mirror_.reset();
  }

  void Open(CDialog& dialog, UINT id) {
    ASSERT_TRUE(dialog.Create(id));
    ::ShowWindow(dialog.m_hWnd, SW_SHOW);
    shown_ = dialog.m_hWnd;
    mirror_ = std::make_unique<WidgetMirror>(MirrorMode::OnScreen);
    Pump();
  }
  QWidget* Widget(int id) const { return mirror_->widget_for(::GetDlgItem(shown_, id)); }
  platform::ui::Window& Model() const { return *platform::ui::FindWindowModel(shown_); }
  void Pump() {
    for (int round = 0; round < 3; ++round) {
      QCoreApplication::processEvents();
      mirror_->run_deferred();
      ui_test::PumpMessages();
      mirror_->sync();
    }
  }

  std::unique_ptr<WidgetMirror> mirror_;
  HWND shown_ = nullptr;
};

TEST_F(MirrorTest, MouseOnTheWidgetsLandsWhereThePlatformPutsIt) {
  struct Case {
    const char* what;
    int id;
    bool move;  // a move instead of a click
    const char* want;  // what the dialog sees ("@": the control's centre), or ""
  } cases[] = {
      {"click on a text static", IDC_PLAIN, false, "down @"},
      {"click on a picture", IDC_BANNER, false, "down @"},
      {"move over a text static", IDC_PLAIN, true, "move @"},
      {"click on a notify static", IDC_LABEL, false, "clicked 1101"},
      {"move over a notify static", IDC_LABEL, true, ""},
      {"click on a static over a button", IDC_COVER, false, "clicked 1114"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ui_test::MouseDialog dialog;
    Open(dialog, IDD_MOUSE);
    QWidget* widget = Widget(c.id);
    ASSERT_NE(widget, nullptr);
    dialog.seen.clear();
    QPoint centre(widget->width() / 2, widget->height() / 2);  // as the model rounds
    if (c.move)
      QTest::mouseMove(widget, centre);
    else
      QTest::mouseClick(widget, Qt::LeftButton, {}, centre);
    Pump();
    // Qt may add moves of its own around a click: only the kind asked for counts.
    std::vector<std::string> seen;
    for (const auto& s : dialog.seen)
      if ((s.rfind("move", 0) == 0) == c.move && (seen.empty() || seen.back() != s)) seen.push_back(s);
    std::string want = c.want;
    if (auto at = want.find('@'); at != std::string::npos)
      want.replace(at, 1, ui_test::CentreInDialog(dialog.m_hWnd, c.id));
    EXPECT_EQ(seen, want.empty() ? std::vector<std::string>{} : std::vector<std::string>{want});
    // The window the mouse reached chose the cursor, and the view shows it:
    // the dialog's hand over its own surface, the arrow over a control.
    bool over_dialog = std::string(c.want).find('@') != std::string::npos;
    if (c.move) {
      EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, over_dialog ? IDC_HAND : IDC_ARROW));
      EXPECT_EQ(mirror_->top_level_widget(dialog.m_hWnd)->cursor().shape(),
                over_dialog ? Qt::PointingHandCursor : Qt::ArrowCursor);
    }
    Close();
  }
}

// Counts what painting asks of the dialog: label colours and list rows.
class AskingPage : public CDialog {
 public:
  AskingPage() : CDialog(IDD_CONTROLS) {}
  std::map<int, int> colour_asks;  // by control id
  int row_asks = 0;                // custom-draw passes of the list
  COLORREF label_colour = RGB(0, 0, 0);

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    auto* list = static_cast<CListCtrl*>(GetDlgItem(IDC_LIST));
    list->InsertColumn(0, u"Name", LVCFMT_LEFT, 100);
    list->InsertItem(0, u"first");
    list->InsertItem(1, u"second");
    return TRUE;
  }
  LRESULT WindowProc(UINT message, WPARAM w, LPARAM l) override {
    if (message == WM_CTLCOLORSTATIC) {
      ++colour_asks[::GetDlgCtrlID(reinterpret_cast<HWND>(l))];
      LRESULT brush = CDialog::WindowProc(message, w, l);
      ::SetTextColor(reinterpret_cast<HDC>(w), label_colour);
      return brush;
    } else if (message == WM_NOTIFY && reinterpret_cast<NMHDR*>(l)->code == NM_CUSTOMDRAW &&
               reinterpret_cast<NMCUSTOMDRAW*>(l)->dwDrawStage == CDDS_PREPAINT) {
      ++row_asks;
    }
    return CDialog::WindowProc(message, w, l);
  }
};

TEST_F(MirrorTest, ColoursAndRowsAreAskedWhenAWindowRepaintsNotOnEveryPass) {
  AskingPage page;
  Open(page, IDD_CONTROLS);
  constexpr int kRight = 1066;  // the right-aligned label
  ASSERT_GE(page.colour_asks[kRight], 1);
  ASSERT_GE(page.row_asks, 1);
  QImage before = mirror_->grab(Model());
  std::map<int, int> asks = page.colour_asks;
  int rows = page.row_asks;

  // Idle passes ask nothing and show the same pixels.
  for (int i = 0; i < 3; ++i) mirror_->sync();
  EXPECT_EQ(page.colour_asks, asks);
  EXPECT_EQ(page.row_asks, rows);
  EXPECT_EQ(mirror_->grab(Model()), before);

  // A label marked for repainting asks once more and shows the new colour.
  page.label_colour = RGB(255, 0, 0);
  ::InvalidateRect(::GetDlgItem(page.m_hWnd, kRight), nullptr, TRUE);
  mirror_->sync();
  EXPECT_EQ(page.colour_asks[kRight], asks[kRight] + 1);
  EXPECT_EQ(page.row_asks, rows);
  auto* label = dynamic_cast<QLabel*>(Widget(kRight));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(255, 0, 0));

  // The list marked for repainting asks for its rows again.
  ::InvalidateRect(::GetDlgItem(page.m_hWnd, IDC_LIST), nullptr, TRUE);
  mirror_->sync();
  EXPECT_EQ(page.row_asks, rows + 1);
}

TEST_F(MirrorTest, TransparentRichEditsShowThePictureAndBackgroundBeneath) {
  ui_test::HeadingDialog dialog;
  Open(dialog, IDD_HEADING);
  ui_test::ExpectHeadingsOverWhatLiesBeneath(mirror_->grab(Model()), dialog);
}

// A list view longer than its box: a row the user scrolled the view to and
// clicked is the row the program sees selected, and the rows a list the
// program scrolls shows are shown in the view too.
constexpr int kLongListRows = 12;

class LongList : public CDialog {
 public:
  LongList() : CDialog(IDD_CONTROLS) {}
  CListCtrl list;
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, IDC_LIST, list); }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    list.InsertColumn(0, u"Row", LVCFMT_LEFT, 120);
    for (int i = 0; i < kLongListRows; ++i) list.InsertItem(i, (u"row " + std::u16string(1, u'a' + i)).c_str());
    return TRUE;
  }
};

// The view of the long list: its tree widget, the first row it shows, and
// whether it shows a row whole (the view's rows need not be as tall as the
// model's: it may show more of them).
struct LongListView {
  QTreeWidget* tree;
  int FirstRowInView() const { return tree->indexAt(QPoint(1, 1)).row(); }
  bool ShowsWhole(int row) const {
    QTreeWidgetItem* item = tree->topLevelItem(row);
    return item && tree->viewport()->rect().contains(tree->visualItemRect(item));
  }
};

TEST_F(MirrorTest, ARowTheUserScrolledToInALongListIsTheRowClicked) {
  LongList page;
  Open(page, IDD_CONTROLS);
  LongListView view{dynamic_cast<QTreeWidget*>(Widget(IDC_LIST))};
  ASSERT_NE(view.tree, nullptr);
  QTreeWidget* tree = view.tree;
  tree->verticalScrollBar()->setValue(tree->verticalScrollBar()->maximum());
  QCoreApplication::processEvents();
  const int first = view.FirstRowInView();
  ASSERT_GT(first, 0) << "the view must be shorter than its rows";
  QTreeWidgetItem* item = tree->topLevelItem(kLongListRows - 2);
  ASSERT_NE(item, nullptr);
  const QRect at = tree->visualItemRect(item);
  ASSERT_TRUE(tree->viewport()->rect().contains(at.center()));
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at.center());
  Pump();
  EXPECT_EQ(page.list.GetNextItem(-1, LVNI_SELECTED), kLongListRows - 2);
  EXPECT_GE(page.list.GetTopIndex(), first) << "the model scrolled as the view was";
  EXPECT_EQ(view.FirstRowInView(), first) << "the view stayed where the user left it";
}

TEST_F(MirrorTest, TheRowsTheProgramScrolledALongListToAreInTheView) {
  LongList page;
  Open(page, IDD_CONTROLS);
  LongListView view{dynamic_cast<QTreeWidget*>(Widget(IDC_LIST))};
  ASSERT_NE(view.tree, nullptr);
  ASSERT_EQ(view.FirstRowInView(), 0);
  ASSERT_TRUE(page.list.EnsureVisible(kLongListRows - 1, FALSE));
  const int top = page.list.GetTopIndex();
  ASSERT_GT(top, 0);
  Pump();
  EXPECT_GT(view.FirstRowInView(), 0);
  for (int row = top; row < kLongListRows; ++row) EXPECT_TRUE(view.ShowsWhole(row)) << row;
  ASSERT_TRUE(page.list.EnsureVisible(0, FALSE));
  Pump();
  EXPECT_EQ(page.list.GetTopIndex(), 0);
  EXPECT_EQ(view.FirstRowInView(), 0);
}

}  // namespace
