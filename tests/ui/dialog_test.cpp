// Modal pages, message pumps, timers and message ordering on the window model.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "fixtures/resource.h"
#include "platform/core/clock.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/message_box.h"
#include "platform/ui/time_source.h"
#include "platform/ui/window.h"
#include "ui_test_support.h"

using platform::ui::Script;

namespace {

std::vector<std::string> events;
HWND main_hwnd = nullptr;

size_t loop_depth() { return platform::ui::CurrentUiThread().loops.size(); }

class Page3 : public CDialog {
 public:
  Page3() : CDialog(IDD_PAGE3) {}
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    events.push_back("init3 depth " + std::to_string(loop_depth()));
    // A page with no parent disables the main window while it runs.
    EXPECT_FALSE(::IsWindowEnabled(main_hwnd));
    return TRUE;
  }
  void OnOK() override {
    events.push_back("finish");
    CDialog::OnOK();
  }
};

class Page2 : public CDialog {
 public:
  Page2() : CDialog(IDD_PAGE2) {}

 protected:
  void OnNext() {
    events.push_back("next2");
    EndDialog(IDOK);
    EXPECT_FALSE(IsWindowVisible());  // EndDialog hides the page at once
    Page3 page;
    INT_PTR r = page.DoModal();
    events.push_back("page3 returned " + std::to_string(r) + " depth " + std::to_string(loop_depth()));
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(Page2, CDialog)
  ON_BN_CLICKED(IDC_NEXT, &Page2::OnNext)
END_MESSAGE_MAP()

class Page1 : public CDialog {
 public:
  Page1() : CDialog(IDD_PAGE1) {}

 protected:
  void OnNext() {
    events.push_back("next1");
    EndDialog(IDOK);
    Page2 page;
    INT_PTR r = page.DoModal();
    events.push_back("page2 returned " + std::to_string(r));
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(Page1, CDialog)
  ON_BN_CLICKED(IDC_NEXT, &Page1::OnNext)
END_MESSAGE_MAP()

class MainDialog : public CDialog {
 public:
  MainDialog() : CDialog(IDD_MAIN) {}
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    main_hwnd = m_hWnd;
    return TRUE;
  }

 protected:
  void OnNext() {
    Page1 page;
    INT_PTR r = page.DoModal();
    events.push_back("page1 returned " + std::to_string(r) + " main enabled " +
                     std::to_string(::IsWindowEnabled(main_hwnd)));
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(MainDialog, CDialog)
  ON_BN_CLICKED(IDC_NEXT, &MainDialog::OnNext)
END_MESSAGE_MAP()

class TestApp : public CWinApp {
 public:
  TestApp() : CWinApp(u"Tests") {}
  INT_PTR result = 0;
  BOOL InitInstance() override {
    MainDialog dlg;
    m_pMainWnd = &dlg;
    result = dlg.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
  }
};

TEST(ModalPages, ThreeDeepThenUnwind) {
  events.clear();
  Script s;
  s.expect_dialog(IDD_MAIN)
      .click(IDC_NEXT)
      .expect_dialog(IDD_PAGE1)
      .click(IDC_NEXT)
      .expect_dialog(IDD_PAGE2)
      .click(IDC_NEXT)
      .expect_dialog(IDD_PAGE3)
      .key("enter")  // the default button of page three is Finish (IDOK)
      .expect_dialog(IDD_MAIN)
      .key("escape");
  TestApp app;
  auto run = ui_test::RunScripted(s, [&] { platform::ui::RunApplication(app); });
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(app.result, IDCANCEL);
  std::vector<std::string> want = {"next1",          "next2",           "init3 depth 3", "finish",
                                   "page3 returned 1 depth 3", "page2 returned 1", "page1 returned 1 main enabled 1"};
  EXPECT_EQ(events, want);
  // Every page opened and closed in the log, innermost first on the way out.
  std::vector<std::string> closes;
  for (const auto& l : run.log)
    if (l.find("closed") != std::string::npos) closes.push_back(l);
  ASSERT_EQ(closes.size(), 4u);
  EXPECT_NE(closes[0].find("dialog 103"), std::string::npos);
  EXPECT_NE(closes[1].find("dialog 102"), std::string::npos);
  EXPECT_NE(closes[2].find("dialog 101"), std::string::npos);
  EXPECT_NE(closes[3].find("dialog 100"), std::string::npos);
  EXPECT_TRUE(platform::ui::TopLevelWindows().empty());
}

// A long operation on the UI thread pumps messages; a Cancel click lands
// inside the loop and the handler sees the flag.
class CopyPage : public CDialog {
 public:
  CopyPage() : CDialog(IDD_PAGE2) {}
  bool cancelled = false;
  bool in_loop = false;
  bool cancel_ran_inside_loop = false;
  int steps = 0;
  CProgressCtrl progress;
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, IDC_PROGRESS, progress); }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    progress.SetRange32(0, 1000);
    progress.SetStep(1);
    return TRUE;
  }
  void OnCancel() override {
    if (in_loop) {
      cancel_ran_inside_loop = true;
      cancelled = true;
      return;
    }
    CDialog::OnCancel();
  }

 protected:
  void OnStart() {
    in_loop = true;
    for (steps = 0; steps < 1000 && !cancelled; ++steps) {
      progress.StepIt();
      ui_test::PumpMessages();
    }
    in_loop = false;
    EndDialog(cancelled ? IDCANCEL : IDOK);
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CopyPage, CDialog)
  ON_BN_CLICKED(IDC_NEXT, &CopyPage::OnStart)
END_MESSAGE_MAP()

TEST(MessagePump, CancelClickRunsInsideTheLoop) {
  CopyPage page;
  INT_PTR result = 0;
  Script s;
  s.expect_dialog(IDD_PAGE2).click(IDC_NEXT).click(IDCANCEL);
  auto run = ui_test::RunScripted(s, [&] { result = page.DoModal(); });
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_TRUE(page.cancel_ran_inside_loop);
  EXPECT_GT(page.steps, 0);
  EXPECT_LT(page.steps, 10);
}

// Timers: a 1 ms one-shot set in OnInitDialog fires once the page is shown
// and idle, after the posted message and the paint.
class TimerPage : public CDialog {
 public:
  TimerPage() : CDialog(IDD_PAGE3) {}
  std::vector<std::string> seen;
  uint64_t fired_at = 0;
  int ticks = 0;
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    start = platform::ui::time_source().now_ms();
    SetTimer(1, 1, nullptr);
    SetTimer(2, 200, nullptr);
    PostMessage(WM_APP, 0, 0);
    return TRUE;
  }
  uint64_t start = 0;

 protected:
  void OnTimer(UINT_PTR id) {
    if (id == 1) {
      KillTimer(1);
      seen.push_back(IsWindowVisible() ? "timer shown" : "timer hidden");
      fired_at = platform::ui::time_source().now_ms() - start;
    } else if (++ticks == 5) {
      KillTimer(2);
      EndDialog(IDOK);
    }
  }
  void OnPaint() {
    seen.push_back("paint");
    Default();
  }
  LRESULT OnApp(WPARAM, LPARAM) {
    seen.push_back("posted");
    return 0;
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(TimerPage, CDialog)
  ON_WM_TIMER()
  ON_WM_PAINT()
  ON_MESSAGE(WM_APP, &TimerPage::OnApp)
END_MESSAGE_MAP()

TEST(Timers, OneShotFiresAfterShowAndPaintThenPeriodicTicks) {
  TimerPage page;
  INT_PTR result = 0;
  uint64_t before = 0, after = 0;
  Script s;
  s.expect_dialog(IDD_PAGE3);
  auto run = ui_test::RunScripted(s, [&] {
    before = platform::ui::time_source().now_ms();
    result = page.DoModal();
    after = platform::ui::time_source().now_ms();
  });
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(result, IDOK);
  ASSERT_GE(page.seen.size(), 3u);
  EXPECT_EQ(page.seen[0], "posted");
  EXPECT_EQ(page.seen[1], "paint");
  EXPECT_EQ(page.seen[2], "timer shown");
  EXPECT_EQ(std::count(page.seen.begin(), page.seen.end(), "timer shown"), 1);
  EXPECT_EQ(page.fired_at, 1u);
  // Five 200 ms ticks cost 1 s of virtual time and no real waiting.
  EXPECT_EQ(after - before, 1000u);
}

// Retrieval order: sent (from another thread), posted, input, paint, timer.
TEST(MessageQueue, RetrievalOrder) {
  platform::ui::VirtualTimeSource clock;
  platform::ui::set_time_source(&clock);
  std::vector<UINT> order;
  struct Recorder : CWnd {
    std::vector<UINT>* order;
    LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
      if (m == WM_APP + 1) order->push_back(m);
      return CWnd::WindowProc(m, w, l);
    }
  } wnd;
  wnd.order = &order;
  ASSERT_TRUE(wnd.CreateEx(0, u"", u"probe", WS_POPUP | WS_VISIBLE, CRect(0, 0, 50, 50), nullptr, 0));
  ui_test::PumpMessages();  // the first paint
  SetTimer(wnd.m_hWnd, 7, 5, nullptr);
  clock.advance_to(10);
  wnd.Invalidate();
  platform::ui::PostInputMessage(wnd.m_hWnd, WM_KEYDOWN, 'A', 0);
  wnd.PostMessage(WM_APP, 0, 0);
  std::thread other([&] { SendMessageW(wnd.m_hWnd, WM_APP + 1, 0, 0); });
  // Wait until the other thread's send is queued.
  for (;;) {
    auto& t = platform::ui::CurrentUiThread();
    std::lock_guard lock(t.mutex);
    if (!t.cross_sent.empty()) break;
  }
  MSG m;
  for (int i = 0; i < 4 && PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE); ++i) {
    order.push_back(m.message);
    DispatchMessageW(&m);
  }
  other.join();
  std::vector<UINT> want = {WM_APP + 1, WM_APP, WM_KEYDOWN, WM_PAINT, WM_TIMER};
  EXPECT_EQ(order, want);
  wnd.DestroyWindow();
  platform::ui::set_time_source(nullptr);
}

// Dialog keys: Enter runs the default button, Escape runs IDCANCEL (not when
// Cancel is disabled), Tab moves focus across tab stops, Space toggles.
class KeyPage : public CDialog {
 public:
  KeyPage() : CDialog(IDD_CONTROLS) {}
  std::vector<int> commands;
  int focus_at_ok = 0;
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    return TRUE;
  }
  void OnOK() override {
    commands.push_back(IDOK);
    focus_at_ok = ::GetDlgCtrlID(::GetFocus());
    EndDialog(IDOK);
  }
  void OnCancel() override { commands.push_back(IDCANCEL); }
};

TEST(DialogKeys, EnterEscapeTabSpace) {
  KeyPage page;
  Script s;
  s.expect_dialog(IDD_CONTROLS)
      .key("escape")          // IDCANCEL handler runs (the page stays open)
      .click(IDC_CHECK)       // focus on the check box, ticks it
      .expect_checked(IDC_CHECK)
      .key("space")           // Space toggles the focused check box back
      .key("tab")             // focus moves on to the next tab stop
      .key("enter");          // default push button: OK
  auto run = ui_test::RunScripted(s, [&] { page.DoModal(); });
  ASSERT_EQ(run.failure, "");
  std::vector<int> want = {IDCANCEL, IDOK};
  EXPECT_EQ(page.commands, want);
  EXPECT_EQ(page.focus_at_ok, IDC_SLIDER);  // forwards: the check box's successor
}

TEST(DialogKeys, TabSkipsHiddenAndDisabledControls) {
  CDialog page(IDD_CONTROLS);
  ASSERT_TRUE(page.Create(IDD_CONTROLS));
  ::SetFocus(::GetDlgItem(page.m_hWnd, IDC_LIST));
  std::vector<int> order;
  for (int i = 0; i < 8; ++i) {
    MSG m{::GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
    EXPECT_TRUE(IsDialogMessageW(page.m_hWnd, &m));
    order.push_back(GetDlgCtrlID(::GetFocus()));
  }
  // Tab stops in template order; the hidden (1091) and disabled (1092)
  // buttons are skipped, and the walk wraps around.
  std::vector<int> want = {IDC_COMBO, IDC_NUMBER, IDC_CHECK, IDC_SLIDER, IDOK, IDCANCEL, IDC_LIST, IDC_COMBO};
  EXPECT_EQ(order, want);
  // Shift+Tab goes back.
  MSG back{::GetFocus(), WM_KEYDOWN, VK_TAB, 1, 0, {}};
  IsDialogMessageW(page.m_hWnd, &back);
  EXPECT_EQ(GetDlgCtrlID(::GetFocus()), IDC_LIST);
  page.DestroyWindow();
}

}  // namespace

namespace {

// Sleep and the loop's timers read one clock: time slept in a handler counts
// towards the timer that follows.
class SleepyPage : public CDialog {
 public:
  SleepyPage() : CDialog(IDD_PAGE3) {}
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    Sleep(250);
    SetTimer(1, 1, nullptr);
    return TRUE;
  }

 protected:
  void OnTimer(UINT_PTR) {
    KillTimer(1);
    EndDialog(IDOK);
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(SleepyPage, CDialog)
  ON_WM_TIMER()
END_MESSAGE_MAP()

TEST(Timers, SleepAndTimersShareTheClock) {
  SleepyPage page;
  DWORD before = 0, after = 0;
  auto run = ui_test::RunScripted(Script().expect_dialog(IDD_PAGE3), [&] {
    before = GetTickCount();
    page.DoModal();
    after = GetTickCount();
  });
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(after - before, 251u);
}

}  // namespace

// Commands a window does not take go on to the application object: F1 in
// a dialog becomes the help command, which the dialog may take itself; a
// menu command (no control) is routed on, a control's notification is not.
class HelpApp : public CWinApp {
 public:
  HelpApp() : CWinApp(u"Tests") {}
  std::vector<UINT> commands;
  void OnHelpCommand() { commands.push_back(ID_HELP); }
  void OnCheckCommand() { commands.push_back(IDC_CHECK); }

 protected:
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(HelpApp, CWinApp)
  ON_COMMAND(ID_HELP, &HelpApp::OnHelpCommand)
  ON_COMMAND(IDC_CHECK, &HelpApp::OnCheckCommand)
END_MESSAGE_MAP()

class HelpPage : public CDialog {
 public:
  explicit HelpPage(bool takes_help) : CDialog(IDD_CONTROLS), takes_help_(takes_help) {}
  int help_commands = 0;
  BOOL OnCommand(WPARAM w, LPARAM l) override {
    if (takes_help_ && LOWORD(w) == ID_HELP && l == 0) {
      ++help_commands;
      return TRUE;
    }
    return CDialog::OnCommand(w, l);
  }

 private:
  bool takes_help_;
};

TEST(CommandRouting, UnhandledCommandsReachTheApplicationObject) {
  struct Case {
    const char* what;
    bool page_takes_help;
    std::function<void(HelpPage&)> act;
    std::vector<UINT> app_gets;
    int page_gets;
  };
  auto press_f1 = [](HelpPage& page) {
    HWND check = ::GetDlgItem(page.m_hWnd, IDC_CHECK);
    ::SetFocus(check);
    MSG key{check, WM_KEYDOWN, VK_F1, 1, 0, {0, 0}};
    EXPECT_TRUE(::IsDialogMessageW(page.m_hWnd, &key));
  };
  const Case cases[] = {
      {"F1 with the focus on a control", false, press_f1, {ID_HELP}, 0},
      {"F1 on a page that takes help itself", true, press_f1, {}, 1},
      {"menu command", false, [](HelpPage& page) { page.SendMessage(WM_COMMAND, IDC_CHECK, 0); }, {IDC_CHECK}, 0},
      {"control notification", false,
       [](HelpPage& page) {
         page.SendMessage(WM_COMMAND, MAKELONG(IDC_CHECK, BN_CLICKED),
                          reinterpret_cast<LPARAM>(::GetDlgItem(page.m_hWnd, IDC_CHECK)));
       },
       {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HelpApp app;
    HelpPage page(c.page_takes_help);
    ASSERT_TRUE(page.Create(IDD_CONTROLS));
    c.act(page);
    EXPECT_EQ(app.commands, c.app_gets);
    EXPECT_EQ(page.help_commands, c.page_gets);
    page.DestroyWindow();
  }
}
