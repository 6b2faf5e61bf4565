// The keyboard in the Qt view, as a person drives a dialog: Qt key events
// go to the widget Qt has focused (as a display sends them), and the test
// checks the model's focus, Qt's focus, what the dialog was told and what the
// window shows. Tab and Shift+Tab follow the tab order and land on a
// group's checked radio button; arrows move within a group; Enter presses the
// focused push button or else the default one; Space presses the focused
// button; Escape cancels; Alt+letter and, where no field takes typing, the
// letter alone press a control's mnemonic, also in message boxes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/dialog_keys.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/qt/qt_view.h"
#include "platform/ui/qt/widget_mirror.h"
#include "platform/ui/resources.h"
#include "platform/ui/window.h"
#include "ui_qt/qt_test_support.h"

namespace {

namespace ui = platform::ui;
using ui::Window;
using qttest::Pump;
using Mirror = ui::qt::WidgetMirror;
constexpr auto kOnScreen = ui::qt::MirrorMode::OnScreen;
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new qttest::WidgetApplication);

constexpr int IDD_KEYS = 960;
constexpr int IDC_NAME_LABEL = 3101, IDC_NAME = 3102, IDC_OPTIONS = 3103, IDC_FAST = 3104, IDC_THOROUGH = 3105,
              IDC_VERIFY = 3106, IDC_BACK = 3107, IDC_NEXT = 3108;
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
const platform::ui::DialogItemTemplate kKeyItems[] = {
    {u"Static", u"Na&me:", IDC_NAME_LABEL, 7, 9, 30, 8, kChild | SS_LEFT, 0, 0},
    {u"Edit", u"", IDC_NAME, 40, 7, 100, 12, kChild | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, 0, 0},
    {u"Button", u"&Options", IDC_OPTIONS, 7, 24, 140, 40, kChild | WS_GROUP | BS_GROUPBOX, 0, 0},
    {u"Button", u"&Fast", IDC_FAST, 14, 36, 60, 10, kChild | WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON, 0, 0},
    {u"Button", u"&Thorough", IDC_THOROUGH, 14, 48, 60, 10, kChild | BS_AUTORADIOBUTTON, 0, 0},
    {u"Button", u"&Verify", IDC_VERIFY, 80, 36, 60, 10, kChild | WS_GROUP | WS_TABSTOP | BS_AUTOCHECKBOX, 0, 0},
    {u"Button", u"< &Back", IDC_BACK, 40, 72, 50, 14, kChild | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON, 0, 0},
    {u"Button", u"&Next >", IDC_NEXT, 92, 72, 50, 14, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0},
    {u"Button", u"Cancel", IDCANCEL, 150, 72, 50, 14, kChild | WS_TABSTOP | BS_PUSHBUTTON, 0, 0},
};
const platform::ui::DialogTemplate kDialogs[] = {
    {IDD_KEYS, u"Keys", u"MS Shell Dlg", 8, 400, 0, 0, 0, 210, 92,
     DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, kKeyItems, std::size(kKeyItems)},
};
const platform::ui::ResourceTable kTable = {"ui_qt_keyboard_tests", kDialogs, std::size(kDialogs), nullptr, 0, nullptr, 0};

// Records the buttons pressed (commands of push buttons and of the dialog's
// own OK and Cancel), and stays open so every step can be seen.
class KeysPage : public CDialog {
 public:
  KeysPage() : CDialog(IDD_KEYS) {}
  std::vector<int> pressed;
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    CheckDlgButton(IDC_FAST, BST_CHECKED);
    return TRUE;
  }
  BOOL OnCommand(WPARAM w, LPARAM l) override {
    int id = LOWORD(w);
    if (HIWORD(w) == BN_CLICKED && (id == IDC_BACK || id == IDC_NEXT || id == IDCANCEL || id == IDOK)) {
      pressed.push_back(id);
      return TRUE;
    }
    return CDialog::OnCommand(w, l);
  }
};

class QtKeyboardTest : public qttest::PageTest<KeysPage> {
 protected:
  QtKeyboardTest() : PageTest(kTable, IDD_KEYS) {}
  void SetUp() override {
    PageTest::SetUp();
    ASSERT_FALSE(HasFatalFailure());
    ::SetFocus(item(IDC_NAME));
    Pump();
    mirror.sync();
    top = mirror.top_level_widget(page.m_hWnd);
    ASSERT_NE(top, nullptr);
    top->activateWindow();
    QApplication::setActiveWindow(top);
    Pump(&mirror);
    mirror.sync();
  }
  QWidget* widget(int id) { return mirror.widget_for(item(id)); }
  // A key as a display delivers it: to the widget Qt has focused.
  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* to = QApplication::focusWidget();
    QTest::keyClick(to ? to : top, key, modifiers);
    Pump(&mirror);
    mirror.sync();
  }
  int Focused() {
    Window* f = platform::ui::FindWindowModel(::GetFocus());
    return f ? f->id : 0;
  }
  // Qt's focus is on the widget of the model's focus (a field inside it counts).
  bool QtFollowsModel() {
    QWidget* want = widget(Focused());
    QWidget* have = QApplication::focusWidget();
    return want && have && (have == want || want->isAncestorOf(have));
  }
  QImage Picture() { return mirror.grab(*platform::ui::FindWindowModel(page.m_hWnd)); }
  // The part of a picture that control `id` covers.
  QImage Part(const QImage& picture, int id) {
    Window* c = platform::ui::FindWindowModel(item(id));
    POINT off = platform::ui::FindWindowModel(page.m_hWnd)->client_offset();
    return picture.copy(off.x + c->rect.left, off.y + c->rect.top, c->rect.right - c->rect.left,
                        c->rect.bottom - c->rect.top);
  }

  QWidget* top = nullptr;
};

// True when a row of `part` holds the dotted focus mark: ten or more
// pixels in a row, one on (dark) and one off, which no letter draws.
bool HasDottedLine(const QImage& part) {
  auto dark = [&](int x, int y) { return qGray(part.pixel(x, y)) < 100; };
  for (int y = 0; y < part.height(); ++y) {
    int run = 0;
    for (int x = 0; x + 1 < part.width(); x += 2) {
      bool dot = dark(x, y) && !dark(x + 1, y);
      // Either phase: the line may begin on an odd column.
      if (!dot && x + 2 < part.width()) dot = !dark(x, y) && dark(x + 1, y) && !dark(x + 2, y);
      run = dot ? run + 1 : 0;
      if (run >= 10) return true;
    }
  }
  return false;
}

TEST_F(QtKeyboardTest, TabAndShiftTabFollowTheTabOrderWithQtFocusAndAVisibleMark) {
  ASSERT_EQ(Focused(), IDC_NAME);
  ASSERT_TRUE(QtFollowsModel());
  // The group's stop is its checked radio button: Thorough once it is chosen.
  const std::vector<int> forward = {IDC_FAST, IDC_VERIFY, IDC_BACK, IDC_NEXT, IDCANCEL, IDC_NAME};
  QImage before = Picture();
  for (int want : forward) {
    Key(Qt::Key_Tab);
    EXPECT_EQ(Focused(), want);
    EXPECT_TRUE(QtFollowsModel()) << "Qt focus on " << want;
    QImage now = Picture();
    // The control that took the focus shows it: its own pixels changed,
    // and a button, check box or radio button has the dotted mark.
    EXPECT_NE(Part(now, want), Part(before, want)) << "the focus mark moved to " << want;
    if (want != IDC_NAME) {
      EXPECT_TRUE(HasDottedLine(Part(now, want))) << "dotted mark on " << want;
      EXPECT_FALSE(HasDottedLine(Part(before, want))) << "no dotted mark on " << want << " before";
    }
    before = now;
  }
  page.CheckRadioButton(IDC_FAST, IDC_THOROUGH, IDC_THOROUGH);
  const std::vector<int> backward = {IDCANCEL, IDC_NEXT, IDC_BACK, IDC_VERIFY, IDC_THOROUGH, IDC_NAME};
  for (int want : backward) {
    Key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(Focused(), want);
    EXPECT_TRUE(QtFollowsModel()) << "Qt focus on " << want;
  }
  EXPECT_TRUE(page.pressed.empty()) << "moving the focus presses nothing";
}

TEST_F(QtKeyboardTest, EnterEscapeSpaceAndArrowsActAsInADialog) {
  struct Step {
    const char* what;
    int focus_before;           // 0: leave it
    Qt::Key key;
    std::vector<int> pressed;   // buttons pressed by the key
    int focus_after;
    std::function<bool()> state;
  };
  auto checked = [&](int id) { return page.IsDlgButtonChecked(id) == BST_CHECKED; };
  const Step steps[] = {
      {"enter in the field presses the default button", IDC_NAME, Qt::Key_Return, {IDC_NEXT}, IDC_NAME, nullptr},
      {"enter on a focused push button presses it", IDC_BACK, Qt::Key_Return, {IDC_BACK}, IDC_BACK, nullptr},
      {"space presses the focused push button", IDC_BACK, Qt::Key_Space, {IDC_BACK}, IDC_BACK, nullptr},
      {"arrow right moves to the next button of the group", IDC_BACK, Qt::Key_Right, {}, IDC_NEXT, nullptr},
      {"arrow left wraps back within the group", IDC_BACK, Qt::Key_Left, {}, IDCANCEL, nullptr},
      {"arrow down chooses the next radio button", IDC_FAST, Qt::Key_Down, {}, IDC_THOROUGH,
       [&] { return checked(IDC_THOROUGH) && !checked(IDC_FAST); }},
      {"arrow up chooses the first again", 0, Qt::Key_Up, {}, IDC_FAST,
       [&] { return checked(IDC_FAST) && !checked(IDC_THOROUGH); }},
      {"space ticks the focused check box", IDC_VERIFY, Qt::Key_Space, {}, IDC_VERIFY, [&] { return checked(IDC_VERIFY); }},
      {"escape cancels", IDC_NAME, Qt::Key_Escape, {IDCANCEL}, IDC_NAME, nullptr},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    if (step.focus_before) {
      ::SetFocus(item(step.focus_before));
      Pump(&mirror);
      mirror.sync();
    }
    ASSERT_TRUE(QtFollowsModel());
    page.pressed.clear();
    Key(step.key);
    EXPECT_EQ(page.pressed, step.pressed);
    EXPECT_EQ(Focused(), step.focus_after);
    EXPECT_TRUE(QtFollowsModel());
    if (step.state) EXPECT_TRUE(step.state());
  }
}

TEST_F(QtKeyboardTest, MnemonicsPressButtonsAndMoveTheFocus) {
  auto checked = [&](int id) { return page.IsDlgButtonChecked(id) == BST_CHECKED; };
  struct Step {
    const char* what;
    int focus_before;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    std::vector<int> pressed;
    int focus_after;
    std::function<bool()> state;
  };
  const Step steps[] = {
      {"alt+b presses < &Back from the field", IDC_NAME, Qt::Key_B, Qt::AltModifier, {IDC_BACK}, IDC_NAME, nullptr},
      {"alt+n presses &Next >", IDC_NAME, Qt::Key_N, Qt::AltModifier, {IDC_NEXT}, IDC_NAME, nullptr},
      {"alt+v focuses and ticks &Verify", IDC_NAME, Qt::Key_V, Qt::AltModifier, {}, IDC_VERIFY,
       [&] { return checked(IDC_VERIFY); }},
      {"alt+t chooses &Thorough", IDC_NAME, Qt::Key_T, Qt::AltModifier, {}, IDC_THOROUGH,
       [&] { return checked(IDC_THOROUGH) && !checked(IDC_FAST); }},
      {"a label's mnemonic focuses the field after it", IDC_BACK, Qt::Key_M, Qt::AltModifier, {}, IDC_NAME, nullptr},
      {"a group box's mnemonic focuses its checked radio", IDC_NAME, Qt::Key_O, Qt::AltModifier, {}, IDC_THOROUGH, nullptr},
      {"a letter alone on a button is its mnemonic", IDC_VERIFY, Qt::Key_B, Qt::NoModifier, {IDC_BACK}, IDC_VERIFY, nullptr},
      {"a letter without a control does nothing", IDC_BACK, Qt::Key_Q, Qt::NoModifier, {}, IDC_BACK, nullptr},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    ::SetFocus(item(step.focus_before));
    Pump(&mirror);
    mirror.sync();
    page.pressed.clear();
    Key(step.key, step.modifiers);
    EXPECT_EQ(page.pressed, step.pressed);
    EXPECT_EQ(Focused(), step.focus_after);
    EXPECT_TRUE(QtFollowsModel());
    if (step.state) EXPECT_TRUE(step.state());
  }
  // In the field a letter is text, never a mnemonic.
  ::SetFocus(item(IDC_NAME));
  Pump(&mirror);
  mirror.sync();
  page.pressed.clear();
  Key(Qt::Key_B);
  EXPECT_TRUE(page.pressed.empty());
  EXPECT_EQ(page.GetDlgItemText(IDC_NAME), u"b");
}

// When the model's focus moves to another window, the window it left keeps
// no Qt focus either (its field would go on showing a caret).
TEST_F(QtKeyboardTest, QtFocusLeavesAWindowWhoseFocusMovedAway) {
  ASSERT_EQ(top->focusWidget(), widget(IDC_NAME));
  KeysPage other;
  ASSERT_TRUE(other.Create(IDD_KEYS));
  other.ShowWindow(SW_SHOW);
  ::SetFocus(::GetDlgItem(other.m_hWnd, IDC_NAME));
  Pump(&mirror);
  mirror.sync();
  QWidget* other_top = mirror.top_level_widget(other.m_hWnd);
  ASSERT_NE(other_top, nullptr);
  EXPECT_EQ(other_top->focusWidget(), mirror.widget_for(::GetDlgItem(other.m_hWnd, IDC_NAME)));
  EXPECT_EQ(top->focusWidget(), nullptr) << "the first window's field kept Qt's focus";
  other.DestroyWindow();
  mirror.sync();
}

// The focused push button carries the dotted focus mark, and while it has
// the focus it alone looks like the default button.
TEST_F(QtKeyboardTest, FocusMarkIsDrawnInsideTheFocusedButton) {
  auto dark_inside = [&](int id) {
    QImage picture = Picture();
    Window* b = platform::ui::FindWindowModel(item(id));
    Window* d = platform::ui::FindWindowModel(page.m_hWnd);
    POINT off = d->client_offset();
    // The mark runs a few pixels inside the frame: count dark pixels on the
    // row through the button's middle third, away from its text.
    int y = off.y + b->rect.top + 4;
    int dark = 0;
    for (int x = off.x + b->rect.left + 4; x < off.x + b->rect.right - 4; ++x)
      if (qGray(picture.pixel(x, y)) < 80) ++dark;
    return dark;
  };
  ::SetFocus(item(IDC_NAME));
  Pump(&mirror);
  mirror.sync();
  const int unfocused = dark_inside(IDC_BACK);
  const QImage next_as_default = Part(Picture(), IDC_NEXT);
  ::SetFocus(item(IDC_BACK));
  Pump(&mirror);
  mirror.sync();
  const int focused = dark_inside(IDC_BACK);
  if (const char* dir = std::getenv("DRUM_SCREENSHOT_DIR")) Picture().save(QString(dir) + "/focus-mark.png");
  EXPECT_GT(focused, unfocused + 10) << "a dotted line along the inside of the button";
  // The default button gives up its look while another push button has the focus.
  EXPECT_NE(Part(Picture(), IDC_NEXT), next_as_default) << "Next still looks like the default button";

  // The same mark in a picture of a window never put on a screen.
  Mirror pictures(ui::qt::MirrorMode::Invisible);
  Window* d = platform::ui::FindWindowModel(page.m_hWnd);
  QImage off_screen = pictures.grab(*d);
  QImage on_screen = Picture();
  EXPECT_EQ(off_screen, on_screen);
}

// A message box runs its own modal loop in the view: its buttons' letters
// answer it, alone or with Alt.
TEST(QtMessageBoxKeys, LettersAnswerTheBox) {
  struct Case {
    const char* what;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int expected;
  };
  const Case cases[] = {
      {"y", Qt::Key_Y, Qt::NoModifier, IDYES},
      {"alt+n", Qt::Key_N, Qt::AltModifier, IDNO},
      {"escape in a yes/no/cancel box", Qt::Key_Escape, Qt::NoModifier, IDCANCEL},
      {"enter presses the default (second) button", Qt::Key_Return, Qt::NoModifier, IDNO},
  };
  Mirror mirror{kOnScreen};
  ui::qt::QtLoopBackend backend(mirror, "");
  platform::ui::set_loop_backend(&backend);
  // The box on the screen, or null.
  auto shown_box = [] {
    QWidget* shown = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && w->findChild<QPushButton*>()) shown = w;
    return shown;
  };
  // A box the keys did not answer is closed with a button other than the
  // one expected, so the case fails instead of waiting for ever.
  auto close_unanswered = [&](int expected) {
    QWidget* box = shown_box();
    if (!box) return;
    const QString expected_text = expected == IDYES ? "Yes" : expected == IDNO ? "No" : "Cancel";
    for (QPushButton* b : box->findChildren<QPushButton*>())
      if (b->text().remove('&') != expected_text) {
        QTest::mouseClick(b, Qt::LeftButton);
        return;
      }
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bool acted = false;
    auto answered = std::make_shared<bool>(false);
    int tries = 0;
    std::function<void()> act = [&] {
      QWidget* shown = shown_box();
      // The view makes the box the active window once it shows (the
      // platform delivers the activation as an event of its own).
      if (!shown || QApplication::activeWindow() != shown) {
        if (++tries < 3000) {
          QTimer::singleShot(1, act);
        } else {
          ADD_FAILURE() << "the box never became the active window";
          close_unanswered(c.expected);
        }
        return;
      }
      acted = true;
      // Its default button has Qt's focus, as it has the model's.
      QWidget* to = QApplication::focusWidget();
      EXPECT_TRUE(to && shown->isAncestorOf(to)) << "a button of the box has Qt's focus";
      QTest::keyClick(to ? to : shown, c.key, c.modifiers);
      QTimer::singleShot(2000, [&, answered, expected = c.expected] {
        if (*answered) return;
        ADD_FAILURE() << "the key left the box open";
        close_unanswered(expected);
      });
    };
    QTimer::singleShot(0, act);
    int answer = MessageBoxW(nullptr, u"Overwrite the disk?", u"Question", MB_YESNOCANCEL | MB_DEFBUTTON2);
    *answered = true;
    EXPECT_TRUE(acted);
    EXPECT_EQ(answer, c.expected);
  }
  platform::ui::set_loop_backend(nullptr);
}

}  // namespace
