// The Qt view of the model: mouse input on the widgets lands where the
// platform puts it, colours and custom drawing are asked when a window
// repaints (not on every pass), and transparent rich edits let the picture
// beneath them show in the view's screenshots.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTest>
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

}  // namespace
