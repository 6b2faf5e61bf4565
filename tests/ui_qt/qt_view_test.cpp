// The Qt view: input on real widgets reaches the model as the platform's
// messages, model changes reach the widgets, and pictures come from the
// widgets with what programs painted composed in.
#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextEdit>
#include <QGlyphRun>
#include <QRawFont>
#include <QTest>
#include <QTextLayout>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <future>
#include <thread>

#include "platform/core/clock.h"
#include "platform/core/text.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"
#include "platform/ui/headless_driver.h"
#include "platform/ui/menu.h"
#include "platform/ui/message_box.h"
#include "platform/ui/qt/qt_view.h"
#include "platform/ui/qt/widget_mirror.h"
#include "ui_qt/qt_test_support.h"
#include "platform/ui/render.h"
#include "platform/ui/resources.h"
#include "platform/ui/time_source.h"
#include "platform/ui/window.h"

namespace {

using platform::ui::Window;
using platform::ui::qt::MirrorMode;
using platform::ui::qt::WidgetMirror;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new qttest::WidgetApplication);
using qttest::Pump;

constexpr int IDD_EVERY = 900;
constexpr int IDD_PAINTED = 901;
constexpr int IDC_LABEL = 2001, IDC_PUSH = 2002, IDC_CHECK = 2003, IDC_ONE = 2004, IDC_TWO = 2005,
              IDC_GROUP = 2006, IDC_EDIT = 2007, IDC_MULTI = 2008, IDC_RICH = 2009, IDC_LIST = 2010,
              IDC_COMBO = 2011, IDC_REPORT = 2012, IDC_TREE = 2013, IDC_PROGRESS = 2014,
              IDC_SLIDER = 2015, IDC_PICTURE = 2016, IDC_OVER = 2017, IDC_OWNER = 2018,
              IDC_PLAIN = 2019;
constexpr UINT IDM_REFRESH = 3001;

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
const platform::ui::DialogItemTemplate kEveryItems[] = {
    {u"Static", u"Label", IDC_LABEL, 7, 7, 60, 10, kChild | SS_LEFT, 0, 0},
    {u"Button", u"Push", IDC_PUSH, 7, 20, 50, 14, kChild | WS_TABSTOP | BS_PUSHBUTTON, 0, 0},
    {u"Button", u"Check", IDC_CHECK, 60, 20, 45, 10, kChild | WS_TABSTOP | BS_AUTOCHECKBOX, 0, 0},
    {u"Button", u"One", IDC_ONE, 110, 20, 40, 10, kChild | WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON, 0, 0},
    {u"Button", u"Two", IDC_TWO, 150, 20, 40, 10, kChild | BS_AUTORADIOBUTTON, 0, 0},
    {u"Button", u"Group", IDC_GROUP, 200, 4, 110, 40, kChild | WS_GROUP | BS_GROUPBOX, 0, 0},
    {u"Edit", u"", IDC_EDIT, 7, 40, 80, 12, kChild | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, 0, 0},
    {u"Edit", u"", IDC_MULTI, 90, 40, 80, 30, kChild | WS_TABSTOP | ES_MULTILINE, 0, 0},
    {u"RichEdit20W", u"", IDC_RICH, 210, 50, 100, 20, kChild | ES_MULTILINE | ES_READONLY, 0, 0},
    {u"ListBox", u"", IDC_LIST, 7, 75, 60, 40, kChild | WS_TABSTOP | WS_BORDER, 0, 0},
    {u"ComboBox", u"", IDC_COMBO, 70, 75, 60, 60, kChild | WS_TABSTOP | CBS_DROPDOWNLIST, 0, 0},
    {u"SysListView32", u"", IDC_REPORT, 135, 75, 120, 60, kChild | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL, 0, 0},
    {u"SysTreeView32", u"", IDC_TREE, 7, 140, 120, 60,
     kChild | WS_TABSTOP | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_CHECKBOXES, 0, 0},
    {u"msctls_progress32", u"", IDC_PROGRESS, 135, 140, 100, 10, kChild, 0, 0},
    {u"msctls_trackbar32", u"", IDC_SLIDER, 135, 155, 100, 15, kChild | WS_TABSTOP, 0, 0},
    {u"Button", u"Cancel", IDCANCEL, 200, 200, 50, 14, kChild | WS_TABSTOP | BS_PUSHBUTTON, 0, 0},
    {u"Button", u"OK", IDOK, 260, 200, 50, 14, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0},
};
const platform::ui::DialogItemTemplate kPaintedItems[] = {
    {u"Static", u"", IDC_PICTURE, 120, 10, 20, 20, kChild | SS_BITMAP, 0, 0},
    {u"Static", u"Over", IDC_OVER, 4, 2, 30, 14, kChild | SS_LEFT, 0, 0},
    {u"Static", u"Plain", IDC_PLAIN, 40, 2, 25, 14, kChild | SS_LEFT, 0, 0},
    {u"Button", u"OK", IDOK, 100, 60, 50, 14, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0},
    {u"Button", u"", IDC_OWNER, 10, 40, 30, 14, kChild | BS_OWNERDRAW, 0, 0},
};
constexpr DWORD kDialogStyle = DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
const platform::ui::DialogTemplate kDialogs[] = {
    {IDD_EVERY, u"Every control", u"MS Shell Dlg", 8, 400, 0, 0, 0, 320, 220, kDialogStyle, 0, 0, kEveryItems,
     std::size(kEveryItems)},
    {IDD_PAINTED, u"Painted", u"MS Shell Dlg", 8, 400, 0, 0, 0, 160, 80, kDialogStyle, 0, 0, kPaintedItems,
     std::size(kPaintedItems)},
};
const platform::ui::ResourceTable kTable = {"ui_qt_tests", kDialogs, std::size(kDialogs), nullptr, 0, nullptr, 0};

struct Received {
  UINT message;
  int id;     // control id (commands, notifications) or scroll code
  UINT code;  // notification code, or the scroll position
  int item;   // list row for list-view notifications, else -1
  bool operator==(const Received&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Received& r) {
  return out << "{msg 0x" << std::hex << r.message << std::dec << " id " << r.id << " code " << static_cast<int>(r.code)
             << " item " << r.item << "}";
}

// Records the commands, notifications and scroll messages the dialog gets,
// and the mouse messages that reach the dialog itself.
class EveryControlPage : public CDialog {
 public:
  EveryControlPage() : CDialog(IDD_EVERY) {}
  std::vector<Received> received;
  struct Mouse {
    UINT message;
    int x, y;  // client coordinates
    bool operator==(const Mouse&) const = default;
  };
  std::vector<Mouse> mouse;
  bool recording = false;
  int ended = 0;

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    auto* list = static_cast<CListBox*>(GetDlgItem(IDC_LIST));
    list->AddString(u"alpha");
    list->AddString(u"beta");
    list->AddString(u"gamma");
    auto* combo = static_cast<CComboBox*>(GetDlgItem(IDC_COMBO));
    combo->AddString(u"FAT32");
    combo->AddString(u"NTFS");
    combo->AddString(u"exFAT");
    combo->SetCurSel(0);
    auto* report = static_cast<CListCtrl*>(GetDlgItem(IDC_REPORT));
    report->SetExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    report->InsertColumn(0, u"Disk", LVCFMT_LEFT, 70);
    report->InsertColumn(1, u"Size", LVCFMT_RIGHT, 50);
    report->InsertItem(0, u"Disk 0");
    report->SetItemText(0, 1, u"10 GB");
    report->InsertItem(1, u"Disk 1");
    report->SetItemText(1, 1, u"20 GB");
    auto* tree = static_cast<CTreeCtrl*>(GetDlgItem(IDC_TREE));
    HTREEITEM docs = tree->InsertItem(u"Documents");
    tree->InsertItem(u"Letters", docs);
    tree->InsertItem(u"Pictures");
    auto* slider = static_cast<CSliderCtrl*>(GetDlgItem(IDC_SLIDER));
    slider->SetRange(0, 10);
    slider->SetPos(3);
    auto* progress = static_cast<CProgressCtrl*>(GetDlgItem(IDC_PROGRESS));
    progress->SetRange32(0, 100);
    progress->SetPos(25);
    return TRUE;
  }
  LRESULT WindowProc(UINT message, WPARAM w, LPARAM l) override {
    // Owner-drawn menu items: an orange picture.
    if (message == WM_MEASUREITEM && reinterpret_cast<MEASUREITEMSTRUCT*>(l)->CtlType == ODT_MENU) {
      reinterpret_cast<MEASUREITEMSTRUCT*>(l)->itemWidth = 20;
      reinterpret_cast<MEASUREITEMSTRUCT*>(l)->itemHeight = 16;
      return TRUE;
    }
    if (message == WM_DRAWITEM && reinterpret_cast<DRAWITEMSTRUCT*>(l)->CtlType == ODT_MENU) {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(l);
      CDC::FromHandle(item->hDC)->FillSolidRect(&item->rcItem, RGB(255, 128, 0));
      return TRUE;
    }
    if (recording) {
      if (message == WM_COMMAND) {
        received.push_back({message, LOWORD(w), HIWORD(w), -1});
      } else if (message == WM_NOTIFY) {
        auto* h = reinterpret_cast<NMHDR*>(l);
        int item = -1;
        // Only the list view's notices carry a row; a tree's NM_CLICK is a bare NMHDR.
        bool from_list = h->idFrom == IDC_REPORT;
        if (from_list && (h->code == LVN_ITEMCHANGED || h->code == NM_CLICK))
          item = reinterpret_cast<NMLISTVIEW*>(l)->iItem;
        received.push_back({message, static_cast<int>(h->idFrom), h->code, item});
      } else if (message == WM_HSCROLL) {
        received.push_back({message, LOWORD(w), HIWORD(w), -1});
      } else if (message == WM_MOUSEMOVE || message == WM_LBUTTONDOWN || message == WM_LBUTTONUP) {
        mouse.push_back({message, static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))});
      }
    }
    return CDialog::WindowProc(message, w, l);
  }
  void OnOK() override {
    ended = IDOK;
    CDialog::OnOK();
  }
  void OnCancel() override {
    ended = IDCANCEL;
    CDialog::OnCancel();
  }
};

QImage Solid(QColor colour) {
  QImage image(16, 16, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}

QRgb IconColour(const QIcon& icon) { return icon.pixmap(16, 16).toImage().pixel(8, 8); }

class QtViewTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::ui::RegisterResourceTable(&kTable); }
  void TearDown() override { platform::ui::UnregisterResourceTable(&kTable); }
};

// The view on the screen with its Qt loop serving the modal loops of the
// test, removed after it.
class QtLoopTest : public QtViewTest {
 protected:
  void SetUp() override {
    QtViewTest::SetUp();
    backend_ = std::make_unique<platform::ui::qt::QtLoopBackend>(mirror, screenshot_folder());
    platform::ui::set_loop_backend(backend_.get());
  }
  void TearDown() override {
    platform::ui::set_loop_backend(nullptr);
    backend_.reset();
    QtViewTest::TearDown();
  }
  // Where a picture of each dialog shown is saved; none by default.
  virtual std::string screenshot_folder() { return ""; }
  platform::ui::qt::QtLoopBackend& backend() { return *backend_; }

  WidgetMirror mirror{MirrorMode::OnScreen};

 private:
  std::unique_ptr<platform::ui::qt::QtLoopBackend> backend_;
};

// The same, saving the pictures into a folder of the test's own.
class QtLoopPicturesTest : public QtLoopTest {
 protected:
  std::string screenshot_folder() override { return pictures.path().toStdString(); }
  QTemporaryDir pictures;
};

bool HasMessage(const std::vector<Received>& got, const Received& want) {
  return std::find(got.begin(), got.end(), want) != got.end();
}

TEST_F(QtViewTest, QtInputOnEveryControlReachesTheModelAsPlatformMessages) {
  EveryControlPage page;
  ASSERT_TRUE(page.Create(IDD_EVERY));
  page.ShowWindow(SW_SHOW);
  Pump();
  WidgetMirror mirror(MirrorMode::OnScreen);
  mirror.sync();
  QWidget* top = mirror.top_level_widget(page.m_hWnd);
  ASSERT_NE(top, nullptr);
  ASSERT_TRUE(top->isVisible());
  auto widget = [&](int id) { return mirror.widget_for(::GetDlgItem(page.m_hWnd, id)); };
  auto* list_model = platform::ui::ModelOf<platform::ui::ListViewModel>(::GetDlgItem(page.m_hWnd, IDC_REPORT));
  auto* tree_model = platform::ui::ModelOf<platform::ui::TreeViewModel>(::GetDlgItem(page.m_hWnd, IDC_TREE));
  ASSERT_NE(list_model, nullptr);
  ASSERT_NE(tree_model, nullptr);

  // The widget classes stand for the model's kinds.
  EXPECT_NE(dynamic_cast<QLabel*>(widget(IDC_LABEL)), nullptr);
  EXPECT_NE(dynamic_cast<QPushButton*>(widget(IDC_PUSH)), nullptr);
  EXPECT_NE(dynamic_cast<QCheckBox*>(widget(IDC_CHECK)), nullptr);
  EXPECT_NE(dynamic_cast<QRadioButton*>(widget(IDC_TWO)), nullptr);
  EXPECT_NE(dynamic_cast<QLineEdit*>(widget(IDC_EDIT)), nullptr);
  EXPECT_NE(dynamic_cast<QTextEdit*>(widget(IDC_MULTI)), nullptr);
  EXPECT_NE(dynamic_cast<QTextEdit*>(widget(IDC_RICH)), nullptr);
  auto* group = dynamic_cast<QGroupBox*>(widget(IDC_GROUP));
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->title(), "Group");
  EXPECT_NE(dynamic_cast<QListWidget*>(widget(IDC_LIST)), nullptr);
  EXPECT_NE(dynamic_cast<QComboBox*>(widget(IDC_COMBO)), nullptr);
  EXPECT_NE(dynamic_cast<QTreeWidget*>(widget(IDC_REPORT)), nullptr);
  EXPECT_NE(dynamic_cast<QTreeWidget*>(widget(IDC_TREE)), nullptr);
  EXPECT_NE(dynamic_cast<QProgressBar*>(widget(IDC_PROGRESS)), nullptr);
  EXPECT_NE(dynamic_cast<QSlider*>(widget(IDC_SLIDER)), nullptr);
  // Each at its pixel rectangle.
  Window* push_model = platform::ui::FindWindowModel(::GetDlgItem(page.m_hWnd, IDC_PUSH));
  EXPECT_EQ(widget(IDC_PUSH)->geometry(),
            QRect(push_model->rect.left, push_model->rect.top, push_model->rect.right - push_model->rect.left,
                  push_model->rect.bottom - push_model->rect.top));

  auto* report = dynamic_cast<QTreeWidget*>(widget(IDC_REPORT));
  auto* tree = dynamic_cast<QTreeWidget*>(widget(IDC_TREE));
  auto row_point = [](QTreeWidget* t, int row, bool on_check) {
    QRect r = t->visualItemRect(t->topLevelItem(row));
    return QPoint(on_check ? r.left() + 8 : r.left() + 40, r.center().y());
  };

  struct Step {
    const char* what;
    std::function<void()> act;
    std::vector<Received> expected;  // each must be among what the dialog got
    std::function<bool()> model_state;
  };
  const std::vector<Step> steps = {
      {"click the push button", [&] { QTest::mouseClick(widget(IDC_PUSH), Qt::LeftButton); },
       {{WM_COMMAND, IDC_PUSH, BN_CLICKED, -1}}, [] { return true; }},
      {"tick the check box", [&] { QTest::mouseClick(widget(IDC_CHECK), Qt::LeftButton); },
       {{WM_COMMAND, IDC_CHECK, BN_CLICKED, -1}}, [&] { return page.IsDlgButtonChecked(IDC_CHECK) == BST_CHECKED; }},
      {"pick the second radio button", [&] { QTest::mouseClick(widget(IDC_TWO), Qt::LeftButton); },
       {{WM_COMMAND, IDC_TWO, BN_CLICKED, -1}},
       [&] { return page.IsDlgButtonChecked(IDC_TWO) == BST_CHECKED && page.IsDlgButtonChecked(IDC_ONE) == 0; }},
      {"type into the edit",
       [&] {
         QTest::mouseClick(widget(IDC_EDIT), Qt::LeftButton);
         Pump();
         QTest::keyClicks(widget(IDC_EDIT), "ab1");
       },
       {{WM_COMMAND, IDC_EDIT, EN_CHANGE, -1}}, [&] { return page.GetDlgItemText(IDC_EDIT) == u"ab1"; }},
      {"backspace in the edit", [&] { QTest::keyClick(widget(IDC_EDIT), Qt::Key_Backspace); },
       {{WM_COMMAND, IDC_EDIT, EN_CHANGE, -1}}, [&] { return page.GetDlgItemText(IDC_EDIT) == u"ab"; }},
      {"tab to the next tab stop", [&] { QTest::keyClick(widget(IDC_EDIT), Qt::Key_Tab); }, {},
       [&] { return ::GetFocus() == ::GetDlgItem(page.m_hWnd, IDC_MULTI); }},
      {"shift+tab back", [&] { QTest::keyClick(widget(IDC_MULTI), Qt::Key_Backtab, Qt::ShiftModifier); }, {},
       [&] { return ::GetFocus() == ::GetDlgItem(page.m_hWnd, IDC_EDIT); }},
      {"pick a list box row",
       [&] {
         auto* l = dynamic_cast<QListWidget*>(widget(IDC_LIST));
         QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(2)).center());
       },
       {{WM_COMMAND, IDC_LIST, LBN_SELCHANGE, -1}},
       [&] { return static_cast<CListBox*>(page.GetDlgItem(IDC_LIST))->GetCurSel() == 2; }},
      {"pick a combo box entry with the keyboard", [&] { QTest::keyClick(widget(IDC_COMBO), Qt::Key_Down); },
       {{WM_COMMAND, IDC_COMBO, CBN_SELCHANGE, -1}},
       [&] { return static_cast<CComboBox*>(page.GetDlgItem(IDC_COMBO))->GetCurSel() == 1; }},
      {"select a list view row",
       [&] { QTest::mouseClick(report->viewport(), Qt::LeftButton, {}, row_point(report, 1, false)); },
       {{WM_NOTIFY, IDC_REPORT, LVN_ITEMCHANGED, 1}, {WM_NOTIFY, IDC_REPORT, NM_CLICK, 1}},
       [&] { return (list_model->rows[1].state & LVIS_SELECTED) != 0; }},
      {"tick a list view row",
       [&] { QTest::mouseClick(report->viewport(), Qt::LeftButton, {}, row_point(report, 0, true)); },
       {{WM_NOTIFY, IDC_REPORT, LVN_ITEMCHANGED, 0}},
       [&] { return static_cast<CListCtrl*>(page.GetDlgItem(IDC_REPORT))->GetCheck(0) == TRUE; }},
      {"select a tree item",
       [&] { QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, row_point(tree, 1, false)); },
       {{WM_NOTIFY, IDC_TREE, TVN_SELCHANGED, -1}},
       [&] { return tree_model->selected && tree_model->selected->text == u"Pictures"; }},
      {"tick a tree item",
       [&] { QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, row_point(tree, 0, true)); },
       {},
       [&] {
         auto* t = static_cast<CTreeCtrl*>(page.GetDlgItem(IDC_TREE));
         return t->GetCheck(t->GetRootItem()) == TRUE;
       }},
      {"expand a tree branch",
       [&] {
         QRect r = tree->visualItemRect(tree->topLevelItem(0));
         QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(r.left() - 6, r.center().y()));
       },
       {{WM_NOTIFY, IDC_TREE, TVN_ITEMEXPANDED, -1}},
       [&] { return (tree_model->root.children[0]->state & TVIS_EXPANDED) != 0; }},
      {"move the slider with the keyboard", [&] { QTest::keyClick(widget(IDC_SLIDER), Qt::Key_Right); },
       {{WM_HSCROLL, TB_THUMBPOSITION, 4, -1}, {WM_HSCROLL, TB_ENDTRACK, 0, -1}},
       [&] { return static_cast<CSliderCtrl*>(page.GetDlgItem(IDC_SLIDER))->GetPos() == 4; }},
      {"escape", [&] { QTest::keyClick(top, Qt::Key_Escape); }, {{WM_COMMAND, IDCANCEL, BN_CLICKED, -1}},
       [&] { return page.ended == IDCANCEL; }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    mirror.sync();
    page.received.clear();
    page.recording = true;
    step.act();
    Pump(&mirror);
    page.recording = false;
    for (const Received& want : step.expected) EXPECT_TRUE(HasMessage(page.received, want)) << want;
    EXPECT_TRUE(step.model_state());
  }

  // What the model now holds shows in the widgets.
  mirror.sync();
  EXPECT_TRUE(dynamic_cast<QCheckBox*>(widget(IDC_CHECK))->isChecked());
  EXPECT_TRUE(dynamic_cast<QRadioButton*>(widget(IDC_TWO))->isChecked());
  EXPECT_FALSE(dynamic_cast<QRadioButton*>(widget(IDC_ONE))->isChecked());
  EXPECT_EQ(dynamic_cast<QLineEdit*>(widget(IDC_EDIT))->text(), "ab");
  EXPECT_EQ(dynamic_cast<QListWidget*>(widget(IDC_LIST))->currentRow(), 2);
  EXPECT_EQ(dynamic_cast<QComboBox*>(widget(IDC_COMBO))->currentText(), "NTFS");
  EXPECT_EQ(report->topLevelItem(0)->checkState(0), Qt::Checked);
  EXPECT_EQ(report->topLevelItem(1)->checkState(0), Qt::Unchecked);
  EXPECT_EQ(report->topLevelItem(1)->text(1), "20 GB");
  EXPECT_EQ(tree->topLevelItem(0)->checkState(0), Qt::Checked);
  EXPECT_TRUE(tree->topLevelItem(0)->isExpanded());
  EXPECT_EQ(dynamic_cast<QSlider*>(widget(IDC_SLIDER))->value(), 4);
  page.DestroyWindow();
  mirror.sync();
  EXPECT_EQ(mirror.top_level_widget(page.m_hWnd), nullptr);
}

// One long walk over every control kind of one dialog: the kinds share the
// dialog and the mirror it builds, so the checks stay one test.
TEST_F(QtViewTest, ModelChangesUpdateTheWidgetsAndMouseMovesAreReported) {
  EveryControlPage page;
  ASSERT_TRUE(page.Create(IDD_EVERY));
  page.ShowWindow(SW_SHOW);
  Pump();
  WidgetMirror mirror(MirrorMode::OnScreen);
  mirror.sync();
  auto widget = [&](int id) { return mirror.widget_for(::GetDlgItem(page.m_hWnd, id)); };

  struct Change {
    const char* what;
    std::function<void()> change;
    std::function<bool()> shown;
  };
  const std::vector<Change> changes = {
      {"label text", [&] { page.SetDlgItemText(IDC_LABEL, u"日本語のラベル"); },
       [&] { return dynamic_cast<QLabel*>(widget(IDC_LABEL))->text() == QString::fromUtf8("日本語のラベル"); }},
      {"disabled button", [&] { page.GetDlgItem(IDC_PUSH)->EnableWindow(FALSE); },
       [&] { return !widget(IDC_PUSH)->isEnabled(); }},
      {"hidden check box", [&] { page.GetDlgItem(IDC_CHECK)->ShowWindow(SW_HIDE); },
       [&] { return widget(IDC_CHECK)->isHidden(); }},
      {"progress position", [&] { static_cast<CProgressCtrl*>(page.GetDlgItem(IDC_PROGRESS))->SetPos(60); },
       [&] { return dynamic_cast<QProgressBar*>(widget(IDC_PROGRESS))->value() == 60; }},
      {"moved button", [&] { page.GetDlgItem(IDC_PUSH)->MoveWindow(30, 40, 80, 25); },
       [&] { return widget(IDC_PUSH)->geometry() == QRect(30, 40, 80, 25); }},
      {"list view row added",
       [&] {
         auto* l = static_cast<CListCtrl*>(page.GetDlgItem(IDC_REPORT));
         l->SetItemText(l->InsertItem(2, u"Disk 2"), 1, u"30 GB");
       },
       [&] {
         auto* t = dynamic_cast<QTreeWidget*>(widget(IDC_REPORT));
         return t->topLevelItemCount() == 3 && t->topLevelItem(2)->text(1) == "30 GB";
       }},
      {"rich text runs",
       [&] {
         auto* rich = static_cast<CRichEditCtrl*>(page.GetDlgItem(IDC_RICH));
         rich->SetWindowText(u"Disk 0 failed");
         rich->SetSel(7, 13);
         CHARFORMAT2W f{};
         f.cbSize = sizeof f;
         f.dwMask = CFM_COLOR | CFM_BOLD;
         f.dwEffects = CFE_BOLD;
         f.crTextColor = RGB(200, 0, 0);
         rich->SetSelectionCharFormat(f);
       },
       [&] {
         auto* edit = dynamic_cast<QTextEdit*>(widget(IDC_RICH));
         if (edit->toPlainText() != "Disk 0 failed") return false;
         QTextCursor plain(edit->document());
         plain.setPosition(3);
         QTextCursor red(edit->document());
         red.setPosition(10);
         return red.charFormat().foreground().color() == QColor(200, 0, 0) &&
                red.charFormat().fontWeight() == QFont::Bold &&
                plain.charFormat().foreground().color() != QColor(200, 0, 0) &&
                plain.charFormat().fontWeight() != QFont::Bold;
       }},
      {"wait cursor", [&] { SetCursor(LoadCursorW(nullptr, IDC_WAIT)); },
       [&] { return mirror.top_level_widget(page.m_hWnd)->cursor().shape() == Qt::WaitCursor; }},
      {"window icon", [&] { page.SetIcon(platform::ui::MakeIcon(Solid(QColor(0, 128, 128))), FALSE); },
       [&] {
         QIcon icon = mirror.top_level_widget(page.m_hWnd)->windowIcon();
         return !icon.isNull() && IconColour(icon) == qRgb(0, 128, 128);
       }},
      {"caption", [&] { page.SetWindowText(u"Renamed"); },
       [&] { return mirror.top_level_widget(page.m_hWnd)->windowTitle() == "Renamed"; }},
  };
  for (const Change& c : changes) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(c.shown());
    c.change();
    Pump();
    mirror.sync();
    EXPECT_TRUE(c.shown());
  }

  // The Japanese label is set in a font that has its glyphs.
  {
    auto* label = dynamic_cast<QLabel*>(widget(IDC_LABEL));
    QTextLayout layout(label->text(), label->font());
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    const auto runs = layout.glyphRuns();
    ASSERT_FALSE(runs.isEmpty());
    for (const QGlyphRun& run : runs) {
      EXPECT_TRUE(run.rawFont().familyName().contains("IPA")) << run.rawFont().familyName().toStdString();
      for (quint32 glyph : run.glyphIndexes()) EXPECT_NE(glyph, 0u);  // 0 is the missing-glyph box
    }
  }

  // A menu bar: picking an item posts its command after the program could
  // update the pop-up.
  HMENU bar = CreateMenu();
  HMENU view = CreatePopupMenu();
  AppendMenuW(view, MF_STRING, IDM_REFRESH, u"&Refresh");
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(view), u"&View");
  ASSERT_TRUE(SetMenu(page.m_hWnd, bar));
  Pump();
  mirror.sync();
  QAction* refresh = nullptr;
  for (QAction* a : mirror.top_level_widget(page.m_hWnd)->findChildren<QAction*>())
    if (a->text() == "&Refresh") refresh = a;
  ASSERT_NE(refresh, nullptr);
  page.received.clear();
  page.recording = true;
  refresh->trigger();
  Pump();
  page.recording = false;
  EXPECT_TRUE(HasMessage(page.received, {WM_COMMAND, static_cast<int>(IDM_REFRESH), 0, -1}));
  // The client area keeps its place under the menu bar.
  EXPECT_EQ(widget(IDC_PUSH)->mapTo(mirror.top_level_widget(page.m_hWnd), QPoint(0, 0)).y(),
            platform::ui::MenuBarHeight() + 40);

  SetCursor(nullptr);
  // A mouse move over a control: the model's cursor lands on the screen
  // point under it. Over the disabled button the model gives the mouse to
  // the dialog beneath, and so does the view.
  struct Move {
    int id;
    QPoint at;
    bool to_dialog;
  };
  for (const Move& m : {Move{IDC_EDIT, QPoint(7, 9), false}, Move{IDC_PUSH, QPoint(3, 4), true},
                        Move{IDC_LIST, QPoint(11, 5), false}}) {
    SCOPED_TRACE(m.id);
    SetCursorPos(-1, -1);
    QWidget* target = widget(m.id);
    QWidget* source = target;
    if (auto* view = dynamic_cast<QAbstractItemView*>(target)) source = view->viewport();
    page.mouse.clear();
    page.recording = true;
    QTest::mouseMove(source, source->mapFrom(target, m.at));
    Pump();
    page.recording = false;
    POINT expected{m.at.x(), m.at.y()};
    ClientToScreen(::GetDlgItem(page.m_hWnd, m.id), &expected);
    POINT cursor{};
    GetCursorPos(&cursor);
    EXPECT_EQ(cursor.x, expected.x);
    EXPECT_EQ(cursor.y, expected.y);
    ScreenToClient(page.m_hWnd, &expected);
    using Mouse = EveryControlPage::Mouse;
    std::vector<Mouse> wanted;
    if (m.to_dialog) wanted.push_back({WM_MOUSEMOVE, static_cast<int>(expected.x), static_cast<int>(expected.y)});
    EXPECT_EQ(page.mouse, wanted);
  }
  // A click on the disabled button is the dialog's too; the button does
  // not take it.
  {
    page.mouse.clear();
    page.received.clear();
    page.recording = true;
    QTest::mouseClick(widget(IDC_PUSH), Qt::LeftButton, {}, QPoint(5, 6));
    Pump();
    page.recording = false;
    POINT at{5, 6};
    ClientToScreen(::GetDlgItem(page.m_hWnd, IDC_PUSH), &at);
    ScreenToClient(page.m_hWnd, &at);
    using Mouse = EveryControlPage::Mouse;
    EXPECT_EQ(page.mouse, (std::vector<Mouse>{{WM_LBUTTONDOWN, static_cast<int>(at.x), static_cast<int>(at.y)},
                                              {WM_LBUTTONUP, static_cast<int>(at.x), static_cast<int>(at.y)}}));
    EXPECT_FALSE(HasMessage(page.received, {WM_COMMAND, IDC_PUSH, BN_CLICKED, -1}));
  }

  // The close button is the system menu's Close.
  page.recording = true;
  mirror.top_level_widget(page.m_hWnd)->close();
  Pump();
  EXPECT_EQ(page.ended, IDCANCEL);
  page.DestroyWindow();
}

// Paints a red bar on its background; shows a blue bitmap, a transparent
// label with white text and a plain (filled) label over the bar.
class PaintedPage : public CDialog {
 public:
  PaintedPage() : CDialog(IDD_PAINTED) {}
  QImage bitmap{16, 12, QImage::Format_RGB32};
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    bitmap.fill(QColor(0, 0, 230));
    static_cast<CStatic*>(GetDlgItem(IDC_PICTURE))->SetBitmap(platform::ui::MakeBitmap(bitmap));
    return TRUE;
  }
  LRESULT WindowProc(UINT message, WPARAM w, LPARAM l) override {
    if (message == WM_PAINT) {
      CPaintDC dc(this);
      dc.FillSolidRect(0, 0, 100, 12, RGB(200, 0, 0));
      return 0;
    }
    if (message == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(l) == ::GetDlgItem(m_hWnd, IDC_OVER)) {
      SetBkMode(reinterpret_cast<HDC>(w), TRANSPARENT);
      SetTextColor(reinterpret_cast<HDC>(w), RGB(255, 255, 255));
      return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    }
    if (message == WM_DRAWITEM && w == IDC_OWNER) {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(l);
      CDC* dc = CDC::FromHandle(item->hDC);
      dc->FillSolidRect(&item->rcItem, RGB(0, 160, 0));
      return TRUE;
    }
    return CDialog::WindowProc(message, w, l);
  }
};

QRgb PixelOfChild(const QImage& picture, Window& dialog, int id, int dx, int dy) {
  Window* c = platform::ui::FindWindowModel(::GetDlgItem(dialog.handle, id));
  POINT off = dialog.client_offset();
  return picture.pixel(off.x + c->rect.left + dx, off.y + c->rect.top + dy);
}

TEST_F(QtViewTest, ScreenshotComposesPaintedLayersBitmapsAndWidgets) {
  PaintedPage page;
  ASSERT_TRUE(page.Create(IDD_PAINTED));
  page.ShowWindow(SW_SHOW);
  Pump();
  Window* w = platform::ui::FindWindowModel(page.m_hWnd);
  ASSERT_NE(w, nullptr);
  // The headless `screenshot` step, with the view installed for pictures.
  QTemporaryDir dir;
  platform::ui::RunOptions options;
  options.mode = platform::ui::UiMode::Headless;
  platform::ui::qt::InstallQtView(options);
  std::string path = dir.filePath("painted.png").toStdString();
  {
    platform::ui::Script script;
    script.expect_dialog(IDD_PAINTED).screenshot("painted.png").click(IDOK);
    std::ostringstream log;
    platform::ui::DriverOptions driver;
    driver.log = &log;
    driver.real_grace_ms = 0;
    driver.screenshots_dir = dir.path().toStdString();
    platform::ui::HeadlessSession session(std::move(script), driver);
    PaintedPage modal;
    EXPECT_EQ(modal.DoModal(), IDOK);
    EXPECT_TRUE(session.driver().finished()) << log.str();
  }
  platform::ui::set_window_renderer(nullptr);
  platform::ui::set_view_runner(nullptr);
  QImage picture(QString::fromStdString(path));
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(picture.size(), QSize(w->rect.right - w->rect.left, w->rect.bottom - w->rect.top));
  POINT off = w->client_offset();
  // The painted bar, where no label covers it and where the transparent
  // label sits over it (its right end holds no text); the plain label
  // covers it with the dialog face.
  EXPECT_EQ(picture.pixel(off.x + 99, off.y + 1), qRgb(200, 0, 0));
  Window* over = platform::ui::FindWindowModel(::GetDlgItem(page.m_hWnd, IDC_OVER));
  int over_width = over->rect.right - over->rect.left, over_height = over->rect.bottom - over->rect.top;
  EXPECT_EQ(PixelOfChild(picture, *w, IDC_OVER, over_width - 1, 1), qRgb(200, 0, 0));
  Window* plain = platform::ui::FindWindowModel(::GetDlgItem(page.m_hWnd, IDC_PLAIN));
  EXPECT_EQ(PixelOfChild(picture, *w, IDC_PLAIN, plain->rect.right - plain->rect.left - 1, 1),
            platform::ui::ToQRgb(GetSysColor(COLOR_BTNFACE)));
  // The transparent label's text is in the colour its parent chose.
  int white = 0;
  for (int y = 0; y < over_height; ++y)
    for (int x = 0; x < over_width; ++x) white += PixelOfChild(picture, *w, IDC_OVER, x, y) == qRgb(255, 255, 255);
  EXPECT_GT(white, 5);
  // Below the bar: the dialog face.
  EXPECT_EQ(picture.pixel(off.x + 99, off.y + 14), platform::ui::ToQRgb(GetSysColor(COLOR_BTNFACE)));
  // The bitmap, at the static's origin and at its far corner.
  EXPECT_EQ(PixelOfChild(picture, *w, IDC_PICTURE, 0, 0), qRgb(0, 0, 230));
  EXPECT_EQ(PixelOfChild(picture, *w, IDC_PICTURE, 15, 11), qRgb(0, 0, 230));
  // The OK button comes from a real push button, not from the model's own
  // simple drawing of it.
  Window* ok = platform::ui::FindWindowModel(::GetDlgItem(page.m_hWnd, IDOK));
  QRect ok_rect(off.x + ok->rect.left, off.y + ok->rect.top, ok->rect.right - ok->rect.left,
                ok->rect.bottom - ok->rect.top);
  QImage model_drawing = platform::ui::RenderWindow(*w).convertToFormat(QImage::Format_RGB32);
  EXPECT_NE(picture.convertToFormat(QImage::Format_RGB32).copy(ok_rect), model_drawing.copy(ok_rect));
  // The owner-drawn button as its parent drew it.
  EXPECT_EQ(PixelOfChild(picture, *w, IDC_OWNER, 3, 3), qRgb(0, 160, 0));
  // The caption as the model draws it: white.
  EXPECT_EQ(picture.pixel(picture.width() / 2, 2), qRgb(255, 255, 255));
  page.DestroyWindow();
}

TEST_F(QtLoopPicturesTest, ModalLoopWaitsOnQtEventsAndSavesEachDialogOnce) {
  PaintedPage page;
  // The user clicks OK once the dialog is on the screen.
  bool clicked = false;
  std::function<void()> click_ok = [&] {
    QWidget* ok = page.m_hWnd ? mirror.widget_for(::GetDlgItem(page.m_hWnd, IDOK)) : nullptr;
    if (!ok || !ok->isVisible()) {
      QTimer::singleShot(1, click_ok);
      return;
    }
    clicked = true;
    QTest::mouseClick(ok, Qt::LeftButton);
  };
  QTimer::singleShot(0, click_ok);
  INT_PTR result = page.DoModal();
  EXPECT_TRUE(clicked);
  EXPECT_EQ(result, IDOK);
  ASSERT_EQ(backend().screenshots().size(), 1u) << backend().screenshot_error();
  EXPECT_EQ(std::filesystem::path(backend().screenshots()[0]).filename(), "001-dialog-901.png");
  QImage picture(QString::fromStdString(backend().screenshots()[0]));
  ASSERT_FALSE(picture.isNull());
  // Saved once painted: the bar is in it.
  EXPECT_EQ(picture.pixel(8 + 50, platform::ui::CaptionHeight() + 4), qRgb(200, 0, 0));
}

TEST_F(QtLoopTest, PopupMenuPickedWithTheMouseEndsTheTrackingLoop) {
  EveryControlPage page;
  ASSERT_TRUE(page.Create(IDD_EVERY));
  page.ShowWindow(SW_SHOW);
  HMENU popup = CreatePopupMenu();
  AppendMenuW(popup, MF_STRING, 3101, u"First");
  AppendMenuW(popup, MF_STRING | MF_GRAYED, 3102, u"Grayed");
  AppendMenuW(popup, MF_STRING, 3103, u"Third");
  AppendMenuW(popup, MF_OWNERDRAW, 3104, nullptr);

  struct Case {
    const char* pick;  // null: the user closes the menu; "": the owner-drawn item
    UINT expected;
  };
  for (const Case& c : {Case{"Third", 3103u}, Case{nullptr, 0u}, Case{"First", 3101u}, Case{"", 3104u}}) {
    SCOPED_TRACE(c.pick ? c.pick : "closed");
    // The user acts once the menu is on the screen.
    std::function<void()> act = [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (!menu) {
        QTimer::singleShot(1, act);
        return;
      }
      if (!c.pick) {
        QTest::keyClick(menu, Qt::Key_Escape);
        return;
      }
      for (QAction* a : menu->actions()) {
        if (a->isSeparator() || a->text() != c.pick) continue;
        // The owner drew its item's picture.
        if (a->text().isEmpty()) {
          EXPECT_EQ(IconColour(a->icon()), qRgb(255, 128, 0));
        }
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
      }
    };
    QTimer::singleShot(0, act);
    BOOL chosen = TrackPopupMenu(popup, TPM_RETURNCMD, 40, 50, 0, page.m_hWnd, nullptr);
    EXPECT_EQ(static_cast<UINT>(chosen), c.expected);
  }
  DestroyMenu(popup);
  page.DestroyWindow();
}

// Clicks a push button of a shown Qt window, found by title and button text
// as a user would, once it is on the screen.
void ClickWhenShown(const QString& title, const QString& button, bool* done) {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (!top->isVisible() || top->windowTitle() != title) continue;
    for (QPushButton* b : top->findChildren<QPushButton*>()) {
      if (b->text().remove('&') != button || !b->isVisible()) continue;
      QTest::mouseClick(b, Qt::LeftButton);
      *done = true;
      return;
    }
  }
  QTimer::singleShot(1, [=] { ClickWhenShown(title, button, done); });
}

// A program whose first dialog is followed by a question.
class TwoStepApp : public CWinApp {
 public:
  int dialog_result = 0;
  BOOL InitInstance() override {
    PaintedPage page;
    dialog_result = static_cast<int>(page.DoModal());
    exit_code_ = MessageBoxW(nullptr, u"Copy the disk?", u"Question", MB_YESNO);
    return FALSE;
  }
};

TEST_F(QtViewTest, ViewRunnerRunsTheProgramOnRealWindowsAndSavesEveryDialog) {
  QTemporaryDir dir;
  platform::ui::RunOptions options;
  options.mode = platform::ui::UiMode::View;
  options.screenshots_dir = dir.path().toStdString() + "/pictures";
  bool clicked_ok = false, clicked_no = false;
  QTimer::singleShot(0, [&] { ClickWhenShown("Painted", "OK", &clicked_ok); });
  QTimer::singleShot(0, [&] { ClickWhenShown("Question", "No", &clicked_no); });
  TwoStepApp app;
  int code = platform::ui::qt::RunQtView(app, options);
  platform::Clock::instance().set_mode(platform::Clock::Mode::Virtual);
  EXPECT_TRUE(clicked_ok);
  EXPECT_TRUE(clicked_no);
  EXPECT_EQ(app.dialog_result, IDOK);
  EXPECT_EQ(code, IDNO);
  QStringList pictures = QDir(QString::fromStdString(options.screenshots_dir)).entryList(QDir::Files, QDir::Name);
  EXPECT_EQ(pictures, QStringList({"001-dialog-901.png", "002-message-box.png"}));
}

std::vector<std::string> FileLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A program started with --ui qt --log FILE, as every program's main starts
// it: the file holds the trace of its dialog and its question as the user
// answered them in real windows, line for line what a headless run of the
// same answers logs besides its script's own steps.
TEST_F(QtViewTest, ViewWritesTheDialogTraceToTheLogFile) {
  QTemporaryDir dir;
  auto start = [](std::vector<const char*> argv) {
    argv.insert(argv.begin(), "drum");
    auto parsed = platform::ui::ParseRunOptions(static_cast<int>(argv.size()), argv.data());
    EXPECT_TRUE(parsed.ok) << parsed.error;
    platform::ui::qt::InstallQtView(parsed.options);
    return parsed.options;
  };
  auto uninstall = [] {
    platform::Clock::instance().set_mode(platform::Clock::Mode::Virtual);
    platform::ui::set_view_runner(nullptr);
    platform::ui::set_window_renderer(nullptr);
    platform::ui::set_text_fit_check(nullptr);
  };
  struct Case {
    const char* button;  // the question's button the user clicks
    int code;
  };
  for (const Case& c : {Case{"No", IDNO}, Case{"Yes", IDYES}}) {
    SCOPED_TRACE(c.button);
    const std::string view_log = dir.filePath(QString("view-%1.log").arg(c.button)).toStdString();
    bool clicked_ok = false, clicked_answer = false;
    QTimer::singleShot(0, [&] { ClickWhenShown("Painted", "OK", &clicked_ok); });
    QTimer::singleShot(0, [&] { ClickWhenShown("Question", c.button, &clicked_answer); });
    TwoStepApp app;
    int code = platform::ui::RunWithOptions(app, start({"--ui", "qt", "--log", view_log.c_str()}));
    uninstall();
    EXPECT_TRUE(clicked_ok && clicked_answer);
    EXPECT_EQ(code, c.code);
    const std::vector<std::string> trace = {
        "dialog 901 \"Painted\" opened",
        "dialog 901 \"Painted\" closed with 1",
        "message box \"Question\": \"Copy the disk?\" [yes,no]",
        "message box answered " + std::to_string(c.code),
    };
    EXPECT_EQ(FileLines(view_log), trace);

    const std::string script = dir.filePath("answer.script").toStdString();
    const std::string headless_log = dir.filePath(QString("headless-%1.log").arg(c.button)).toStdString();
    std::ofstream(script) << "expect dialog 901\nclick 1\nanswer " << QString(c.button).toLower().toStdString()
                          << "\n";
    TwoStepApp scripted;
    EXPECT_EQ(platform::ui::RunWithOptions(
                  scripted, start({"--ui", "headless", "--script", script.c_str(), "--log", headless_log.c_str()})),
              c.code);
    uninstall();
    std::vector<std::string> traced;
    for (const std::string& line : FileLines(headless_log))
      if (line.rfind("answer ", 0) != 0) traced.push_back(line);
    EXPECT_EQ(traced, trace);
  }
  // A log that cannot be written stops the run before any window opens.
  TwoStepApp app;
  const std::string unwritable = dir.filePath("missing/folder/view.log").toStdString();
  EXPECT_EQ(platform::ui::RunWithOptions(app, start({"--ui", "qt", "--log", unwritable.c_str()})),
            platform::ui::kExitBadScript);
  uninstall();
  EXPECT_EQ(app.dialog_result, 0);
}


TEST_F(QtLoopTest, FilePickerTakesATypedPathAndCancel) {
  struct Case {
    const char* typed;  // null: the user cancels
    INT_PTR result;
    std::u16string path;
  };
  const Case cases[] = {
      {"report", IDOK, u"C:\\Logs\\report.txt"},  // a bare name lands in the initial folder, with the extension
      {nullptr, IDCANCEL, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed ? c.typed : "cancel");
    CFileDialog save(FALSE, u"txt", nullptr, OFN_OVERWRITEPROMPT);
    save.m_ofn.lpstrInitialDir = u"C:\\Logs";
    std::function<void()> act = [&] {
      QLineEdit* field = nullptr;
      QPushButton* button = nullptr;
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible() || top->windowTitle() != "Save As") continue;
        field = top->findChild<QLineEdit*>();
        for (QPushButton* b : top->findChildren<QPushButton*>())
          if (b->text() == (c.typed ? "OK" : "Cancel")) button = b;
      }
      if (!field || !button) {
        QTimer::singleShot(1, act);
        return;
      }
      if (c.typed) {
        field->clear();
        QTest::keyClicks(field, c.typed);
      }
      QTest::mouseClick(button, Qt::LeftButton);
    };
    QTimer::singleShot(0, act);
    EXPECT_EQ(save.DoModal(), c.result);
    if (c.result == IDOK) {
      EXPECT_EQ(std::u16string(save.GetPathName().GetString()), c.path);
    }
  }
}

// Asks a question when the list selection changes, then ends.
class AskingPage : public EveryControlPage {
 public:
  int answer = 0;
  LRESULT WindowProc(UINT message, WPARAM w, LPARAM l) override {
    if (message == WM_COMMAND && LOWORD(w) == IDC_LIST && HIWORD(w) == LBN_SELCHANGE) {
      answer = MessageBoxW(m_hWnd, u"Use this one?", u"Check", MB_YESNO);
      EndDialog(IDOK);
      return 0;
    }
    return EveryControlPage::WindowProc(message, w, l);
  }
};

TEST_F(QtLoopTest, HandlerOpeningADialogFromQtInputRunsItsLoopOutsideQt) {
  AskingPage page;
  std::function<void()> pick_row = [&] {
    QListWidget* list = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->isVisible() && top->windowTitle() == "Every control") list = top->findChild<QListWidget*>();
    if (!list || list->count() < 2) {
      QTimer::singleShot(1, pick_row);
      return;
    }
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
  };
  bool answered = false;
  QTimer::singleShot(0, pick_row);
  QTimer::singleShot(0, [&] { ClickWhenShown("Check", "Yes", &answered); });
  EXPECT_EQ(page.DoModal(), IDOK);
  EXPECT_TRUE(answered);
  EXPECT_EQ(page.answer, IDYES);
}

// Colours one list row through custom drawing; the row is the program's choice.
class ColourPage : public EveryControlPage {
 public:
  int red_row = 0;
  LRESULT WindowProc(UINT message, WPARAM w, LPARAM l) override {
    auto* h = reinterpret_cast<NMHDR*>(l);
    if (message == WM_NOTIFY && h->idFrom == IDC_REPORT && h->code == NM_CUSTOMDRAW) {
      auto* cd = reinterpret_cast<NMLVCUSTOMDRAW*>(l);
      if (cd->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
      if (cd->nmcd.dwDrawStage == CDDS_ITEMPREPAINT && static_cast<int>(cd->nmcd.dwItemSpec) == red_row) {
        cd->clrText = RGB(255, 255, 255);
        cd->clrTextBk = RGB(200, 0, 0);
      }
      return CDRF_DODEFAULT;
    }
    return EveryControlPage::WindowProc(message, w, l);
  }
};

TEST_F(QtViewTest, ListRowsTakeCustomColoursAndImagesTreesTakeStateImages) {
  ColourPage page;
  ASSERT_TRUE(page.Create(IDD_EVERY));
  page.ShowWindow(SW_SHOW);
  auto* list = static_cast<CListCtrl*>(page.GetDlgItem(IDC_REPORT));
  CImageList small;
  small.Create(16, 16, ILC_COLOR32, 2, 0);
  small.Add(platform::ui::MakeIcon(Solid(QColor(0, 0, 255))));
  small.Add(platform::ui::MakeIcon(Solid(QColor(0, 200, 0))));
  list->SetImageList(&small, LVSIL_SMALL);
  LVITEMW item{};
  item.mask = LVIF_IMAGE;
  item.iItem = 1;
  item.iImage = 1;
  list->SetItem(&item);
  auto* tree = static_cast<CTreeCtrl*>(page.GetDlgItem(IDC_TREE));
  CImageList states;
  states.Create(16, 16, ILC_COLOR32, 3, 0);
  states.Add(platform::ui::MakeIcon(Solid(QColor(0, 0, 0))));
  states.Add(platform::ui::MakeIcon(Solid(QColor(255, 255, 0))));   // 1: unticked
  states.Add(platform::ui::MakeIcon(Solid(QColor(255, 0, 255))));   // 2: ticked
  tree->SetImageList(&states, TVSIL_STATE);
  HTREEITEM second = tree->GetNextSiblingItem(tree->GetRootItem());
  tree->SetItemState(tree->GetRootItem(), INDEXTOSTATEIMAGEMASK(1), TVIS_STATEIMAGEMASK);
  tree->SetItemState(second, INDEXTOSTATEIMAGEMASK(2), TVIS_STATEIMAGEMASK);
  Pump();
  WidgetMirror mirror(MirrorMode::OnScreen);
  mirror.sync();
  auto* report = dynamic_cast<QTreeWidget*>(mirror.widget_for(list->m_hWnd));
  auto* tree_widget = dynamic_cast<QTreeWidget*>(mirror.widget_for(tree->m_hWnd));
  ASSERT_TRUE(report && tree_widget);

  struct Row {
    int red_row;
    int row;
    QColor back;  // invalid: no colour of its own
  };
  for (const Row& r : {Row{0, 0, QColor(200, 0, 0)}, Row{0, 1, QColor()}, Row{1, 1, QColor(200, 0, 0)},
                       Row{1, 0, QColor()}}) {
    SCOPED_TRACE(testing::Message() << "red row " << r.red_row << ", row " << r.row);
    page.red_row = r.red_row;
    list->RedrawItems(0, 1);
    Pump();
    mirror.sync();
    QBrush back = report->topLevelItem(r.row)->background(0);
    if (r.back.isValid()) {
      EXPECT_EQ(back.color(), r.back);
      EXPECT_EQ(report->topLevelItem(r.row)->foreground(0).color(), QColor(255, 255, 255));
    } else {
      EXPECT_NE(back.color(), QColor(200, 0, 0));
    }
  }
  EXPECT_EQ(IconColour(report->topLevelItem(0)->icon(0)), qRgb(0, 0, 255));
  EXPECT_EQ(IconColour(report->topLevelItem(1)->icon(0)), qRgb(0, 200, 0));
  EXPECT_EQ(IconColour(tree_widget->topLevelItem(0)->icon(0)), qRgb(255, 255, 0));
  EXPECT_EQ(IconColour(tree_widget->topLevelItem(1)->icon(0)), qRgb(255, 0, 255));
  page.DestroyWindow();
}

TEST_F(QtViewTest, ReportListShowsItsColumnHeaderUnlessItsStyleHidesIt) {
  EveryControlPage page;
  ASSERT_TRUE(page.Create(IDD_EVERY));
  page.ShowWindow(SW_SHOW);
  auto* list = static_cast<CListCtrl*>(page.GetDlgItem(IDC_REPORT));
  WidgetMirror mirror(MirrorMode::OnScreen);
  for (bool hidden : {false, true}) {
    SCOPED_TRACE(hidden ? "without header" : "with header");
    if (hidden) {
      list->ModifyStyle(0, LVS_NOCOLUMNHEADER);
      list->InsertColumn(2, u"Model", LVCFMT_LEFT, 60);  // the view takes the list anew
    }
    Pump();
    mirror.sync();
    auto* report = dynamic_cast<QTreeWidget*>(mirror.widget_for(list->m_hWnd));
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->isHeaderHidden(), hidden);
  }
  page.DestroyWindow();
}

// A progress bar whose range is empty shows no progress at all, as an
// empty range of the platform's control does; Qt's own 0..0 bar would
// animate a busy indicator instead.
TEST_F(QtViewTest, ProgressBarWithAnEmptyRangeDrawsEmpty) {
  EveryControlPage page;
  ASSERT_TRUE(page.Create(IDD_EVERY));
  page.ShowWindow(SW_SHOW);
  Pump();
  WidgetMirror mirror(MirrorMode::Invisible);
  auto* progress = static_cast<CProgressCtrl*>(page.GetDlgItem(IDC_PROGRESS));
  auto picture = [&](int low, int high, int pos) {
    progress->SetRange32(low, high);
    progress->SetPos(pos);
    Pump();
    mirror.sync();
    QWidget* bar = mirror.widget_for(::GetDlgItem(page.m_hWnd, IDC_PROGRESS));
    return bar ? bar->grab().toImage().convertToFormat(QImage::Format_RGB32) : QImage();
  };
  const QImage empty = picture(0, 100, 0);
  ASSERT_FALSE(empty.isNull());
  EXPECT_NE(picture(0, 100, 100), empty) << "a full bar must look different, or the comparison proves nothing";
  struct Case {
    int low, high, pos;
  };
  for (const Case& c : {Case{0, 0, 0}, Case{0, 0, 5}, Case{50, 50, 50}, Case{10, 3, 7}}) {
    SCOPED_TRACE(std::to_string(c.low) + ".." + std::to_string(c.high) + " at " + std::to_string(c.pos));
    EXPECT_EQ(picture(c.low, c.high, c.pos), empty);
  }
  page.DestroyWindow();
}

TEST_F(QtViewTest, TextsThatDoNotFitTheirControlsAreFound) {
  EveryControlPage page;
  ASSERT_TRUE(page.Create(IDD_EVERY));
  page.ShowWindow(SW_SHOW);
  Pump();
  WidgetMirror mirror(MirrorMode::Invisible);
  mirror.sync();
  // The test dialog's own English texts fit.
  for (const auto& c : mirror.clipped_texts(page.m_hWnd)) ADD_FAILURE() << "control " << c.id << " is cut off";

  struct Case {
    int id;
    const char16_t* text;
    bool fits;
  };
  const Case cases[] = {
      {IDC_PUSH, u"パーティションを移動します", false},
      {IDC_PUSH, u"移動", true},
      {IDC_CHECK, u"すべてのディスクを確認する", false},
      {IDC_TWO, u"二", true},
      {IDC_LABEL, u"ディスク 0 の上のパーティションを移動してから、空いた場所を新しいパーティションに使います", false},
      {IDC_LABEL, u"ラベル", true},
      // A multi-line rich edit wraps: it runs out of height, not width.
      {IDC_RICH, u"ディスク 0 の上のパーティションを移動してから、空いた場所を新しいパーティションに使います", false},
      {IDC_RICH, u"Disk 0 failed", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::to_utf8(c.text));
    page.SetDlgItemText(c.id, c.text);
    Pump();
    mirror.sync();
    auto clipped = mirror.clipped_texts(page.m_hWnd);
    bool found = std::any_of(clipped.begin(), clipped.end(), [&](const platform::ui::qt::ClippedText& t) {
      return t.id == c.id && t.needed > t.available;
    });
    EXPECT_EQ(found, !c.fits);
  }
  page.DestroyWindow();
}

TEST_F(QtLoopTest, OtherThreadsKeepTheirOwnWaitingAndWindows) {
  HWND made = nullptr;
  UINT got = 0;
  std::thread worker([&] {
    platform::ui::CreateParams p;
    p.class_name = u"Static";
    p.text = u"worker";
    p.style = WS_POPUP | WS_VISIBLE;
    p.rect = {0, 0, 50, 20};
    Window* w = platform::ui::CreateWindowModel(p);
    made = w->handle;
    SetTimer(made, 7, 50, nullptr);
    MSG msg;
    // Its first paint, then the timer that needs the loop to wait.
    for (int i = 0; i < 8 && got != WM_TIMER && GetMessageW(&msg, nullptr, 0, 0); ++i) {
      got = msg.message;
      DispatchMessageW(&msg);
    }
    KillTimer(made, 7);
    platform::ui::DestroyWindowModel(w);
  });
  worker.join();
  mirror.sync();
  EXPECT_EQ(got, WM_TIMER);
  EXPECT_EQ(mirror.widget_for(made), nullptr);
}

TEST_F(QtLoopTest, PostFromAnotherThreadWakesTheWaitingView) {
  PaintedPage page;
  std::promise<HWND> shown;
  std::thread worker([&] {
    // Waits for the dialog, then ends it from outside the view's thread
    // while the view sleeps in Qt's event processing.
    HWND dialog = shown.get_future().get();
    if (dialog) PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  });
  // Told just before the view thread blocks in Qt's event processing, so the
  // post lands while it sleeps.
  // The first block after showing may end at once (Qt's own window events),
  // so the post waits for the second.
  bool told = false;
  int blocks = 0;
  auto connection = QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, [&] {
    if (told || !page.m_hWnd || !mirror.top_level_widget(page.m_hWnd) || ++blocks < 2) return;
    told = true;
    shown.set_value(page.m_hWnd);
  });
  // Guards the test only: without the wake it would wait for ever.
  bool timed_out = false;
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] {
    timed_out = true;
    if (page.m_hWnd) PostMessageW(page.m_hWnd, WM_COMMAND, IDCANCEL, 0);
  });
  guard.start(20000);
  // The watcher's wake is the Qt event it posts to the application.
  struct WakeCounter : QObject {
    int wakes = 0;
    bool eventFilter(QObject* o, QEvent* e) override {
      if (o == QCoreApplication::instance() && e->type() == QEvent::User) ++wakes;
      return false;
    }
  } counter;
  qApp->installEventFilter(&counter);
  INT_PTR result = page.DoModal();
  qApp->removeEventFilter(&counter);
  EXPECT_GE(counter.wakes, 1);
  QObject::disconnect(connection);
  if (!told) shown.set_value(nullptr);
  worker.join();
  EXPECT_TRUE(told);
  EXPECT_FALSE(timed_out);
  EXPECT_EQ(result, IDOK);
}

// Ends itself when its timer fires.
class TimedPage : public PaintedPage {
 public:
  uint64_t fired_at = 0;
  BOOL OnInitDialog() override {
    PaintedPage::OnInitDialog();
    ::SetTimer(m_hWnd, 1, 5000, nullptr);
    return TRUE;
  }
  LRESULT WindowProc(UINT message, WPARAM w, LPARAM l) override {
    if (message == WM_TIMER && w == 1) {
      ::KillTimer(m_hWnd, 1);
      fired_at = platform::ui::time_source().now_ms();
      EndDialog(IDOK);
      return 0;
    }
    return PaintedPage::WindowProc(message, w, l);
  }
};

TEST_F(QtLoopTest, TimersFireThroughTheViewOnTheClock) {
  // Virtual here: the wait jumps to the timer instead of sleeping.
  ASSERT_TRUE(platform::ui::time_source().is_virtual());
  uint64_t start = platform::ui::time_source().now_ms();
  TimedPage page;
  EXPECT_EQ(page.DoModal(), IDOK);
  EXPECT_GE(page.fired_at, start + 5000);
  EXPECT_LT(page.fired_at, start + 5000 + 100);
}

}  // namespace
