// The Qt view with a second user-interface thread: a waiting page that runs
// modally on its own thread, over a page of the view's thread, is shown as
// real widgets; a click on its Cancel button is served by its own thread,
// and the cancel request it posts reaches the owner on the view's thread.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <thread>

#include "platform/ui/controls.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/dialog.h"
#include "platform/ui/message_map.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/qt/qt_view.h"
#include "platform/ui/qt/widget_mirror.h"
#include "platform/ui/resources.h"
#include "platform/ui/window.h"

namespace {

using platform::ui::qt::MirrorMode;
using platform::ui::qt::WidgetMirror;

constexpr int IDD_BUSY = 950, IDD_WAITING = 951;
constexpr int IDC_MESSAGE = 2101, IDC_BAR = 2102, IDC_MODE = 2103;
constexpr UINT kCancelRequest = WM_USER + 12;  // from the waiting page to its owner
constexpr UINT kStep = WM_USER + 13;           // thread messages to the waiting thread
constexpr UINT kClose = WM_USER + 14;

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
const platform::ui::DialogItemTemplate kBusyItems[] = {
    {u"Static", u"Copying", IDC_MESSAGE, 7, 7, 100, 10, kChild | SS_LEFT, 0, 0},
};
const platform::ui::DialogItemTemplate kWaitingItems[] = {
    {u"Static", u"Please wait", IDC_MESSAGE, 7, 7, 120, 10, kChild | SS_LEFT, 0, 0},
    {u"msctls_progress32", u"", IDC_BAR, 7, 20, 120, 10, kChild, 0, 0},
    {u"ComboBox", u"", IDC_MODE, 7, 40, 60, 40, kChild | WS_TABSTOP | CBS_DROPDOWNLIST, 0, 0},
    {u"Button", u"Cancel", IDCANCEL, 77, 40, 50, 14, kChild | WS_TABSTOP | BS_PUSHBUTTON, 0, 0},
};
constexpr DWORD kDialogStyle = DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
const platform::ui::DialogTemplate kDialogs[] = {
    {IDD_BUSY, u"Busy", u"MS Shell Dlg", 8, 400, 0, 0, 0, 200, 120, kDialogStyle, 0, 0, kBusyItems,
     std::size(kBusyItems)},
    {IDD_WAITING, u"Waiting", u"MS Shell Dlg", 8, 400, 0, 0, 0, 134, 60, kDialogStyle, 0, 0, kWaitingItems,
     std::size(kWaitingItems)},
};
const platform::ui::ResourceTable kTable = {"ui_qt_thread_tests", kDialogs, std::size(kDialogs), nullptr, 0,
                                            nullptr, 0};

// Runs on the waiting thread: Cancel asks the owner and waits to be closed;
// a pick in its combo box is recorded.
class WaitingPage : public CDialog {
 public:
  explicit WaitingPage(CWnd* owner) : CDialog(IDD_WAITING, owner), owner_(owner) {}
  std::atomic<bool> cancel_on_other_thread{false};
  std::atomic<bool> pick_on_other_thread{false};
  std::atomic<int> picks{0};
  std::atomic<int> picked{-1};
  std::thread::id home;
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    auto* mode = static_cast<CComboBox*>(GetDlgItem(IDC_MODE));
    mode->AddString(u"Fast");
    mode->AddString(u"Thorough");
    mode->SetCurSel(0);
    return TRUE;
  }
  void OnModeChange() {
    if (std::this_thread::get_id() != home) pick_on_other_thread = true;
    ++picks;
    picked = static_cast<CComboBox*>(GetDlgItem(IDC_MODE))->GetCurSel();
  }
  void OnCancel() override {
    if (std::this_thread::get_id() != home) cancel_on_other_thread = true;
    if (CWnd* cancel = GetDlgItem(IDCANCEL)) cancel->EnableWindow(FALSE);
    owner_->PostMessage(kCancelRequest, 0, 0);
  }

 private:
  CWnd* owner_;
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(WaitingPage, CDialog)
  ON_CBN_SELCHANGE(IDC_MODE, &WaitingPage::OnModeChange)
END_MESSAGE_MAP()

class WaitingThread : public CWinThread {
 public:
  explicit WaitingThread(CWnd* owner) : page(owner) {}
  ~WaitingThread() override { Join(); }
  WaitingPage page;
  std::atomic<INT_PTR> result{0};
  BOOL InitInstance() override {
    page.home = std::this_thread::get_id();
    result = page.DoModal();
    return FALSE;
  }
  void OnStep(WPARAM, LPARAM) {
    if (CWnd* bar = page.GetDlgItem(IDC_BAR)) bar->SendMessage(PBM_STEPIT);
  }
  void OnClose(WPARAM, LPARAM) { page.EndDialog(1); }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(WaitingThread, CWinThread)
  ON_THREAD_MESSAGE(kStep, &WaitingThread::OnStep)
  ON_THREAD_MESSAGE(kClose, &WaitingThread::OnClose)
END_MESSAGE_MAP()

// The busy page on the view's thread: starts the waiting thread over itself,
// steps its bar, and closes it (and itself) when asked to cancel.
class BusyPage : public CDialog {
 public:
  BusyPage() : CDialog(IDD_BUSY), waiting(this) {}
  WaitingThread waiting;
  int requests = 0;
  bool request_on_view_thread = false;
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    if (!waiting.CreateThread()) return TRUE;
    PostThreadMessageW(waiting.m_nThreadID, kStep, 0, 0);
    PostThreadMessageW(waiting.m_nThreadID, kStep, 0, 0);
    return TRUE;
  }
  LRESULT OnCancelRequest(WPARAM, LPARAM) {
    ++requests;
    request_on_view_thread = std::this_thread::get_id() == view_thread;
    PostThreadMessageW(waiting.m_nThreadID, kClose, 0, 0);
    waiting.Join();
    EndDialog(IDOK);
    return 0;
  }
  std::thread::id view_thread = std::this_thread::get_id();
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(BusyPage, CDialog)
  ON_MESSAGE(kCancelRequest, &BusyPage::OnCancelRequest)
END_MESSAGE_MAP()

TEST(QtViewThreads, AWaitingPageOnItsOwnThreadIsShownAndItsCancelReachesTheOwner) {
  std::string error;
  ASSERT_TRUE(platform::ui::qt::EnsureWidgetApplication(platform::ui::UiMode::Headless, &error)) << error;
  platform::ui::RegisterResourceTable(&kTable);
  WidgetMirror mirror(MirrorMode::OnScreen);
  platform::ui::qt::QtLoopBackend backend(mirror, "");
  platform::ui::set_loop_backend(&backend);
  BusyPage busy;

  // What the user sees of the waiting page, read by Qt timers on the view's
  // thread (which hold the model turn while Qt delivers them).
  int bar_value = -1;
  QString caption;
  bool clicked = false;
  bool picked = false;
  std::function<void()> click_cancel = [&] {
    HWND page = busy.waiting.page.m_hWnd;
    HWND cancel = page ? ::GetDlgItem(page, IDCANCEL) : nullptr;
    auto* button = qobject_cast<QPushButton*>(cancel ? mirror.widget_for(cancel) : nullptr);
    auto* bar = qobject_cast<QProgressBar*>(page ? mirror.widget_for(::GetDlgItem(page, IDC_BAR)) : nullptr);
    auto* mode = qobject_cast<QComboBox*>(page ? mirror.widget_for(::GetDlgItem(page, IDC_MODE)) : nullptr);
    QWidget* top = page ? mirror.top_level_widget(page) : nullptr;
    if (!button || !button->isVisible() || !bar || bar->value() < 20 || !mode || !top) {
      QTimer::singleShot(1, click_cancel);
      return;
    }
    bar_value = bar->value();
    caption = top->windowTitle();
    if (!picked) {
      // A pick in the drop-down list first (what Qt reports when the user
      // chooses an entry): the selection change runs on the page's own thread.
      picked = true;
      emit mode->activated(1);
      QTimer::singleShot(1, click_cancel);
      return;
    }
    clicked = true;
    QTest::mouseClick(button, Qt::LeftButton);
  };
  QTimer::singleShot(0, click_cancel);
  // Guards the test only: ends both pages if the click never lands.
  bool timed_out = false;
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] {
    timed_out = true;
    PostThreadMessageW(busy.waiting.m_nThreadID, kClose, 0, 0);
    if (busy.m_hWnd) PostMessageW(busy.m_hWnd, WM_COMMAND, IDCANCEL, 0);
  });
  guard.start(20000);

  INT_PTR result = busy.DoModal();
  busy.waiting.Join();
  platform::ui::set_loop_backend(nullptr);
  platform::ui::UnregisterResourceTable(&kTable);

  EXPECT_FALSE(timed_out);
  EXPECT_TRUE(clicked);
  EXPECT_EQ(bar_value, 20);  // two steps of 10 posted by the busy page
  EXPECT_EQ(caption, QStringLiteral("Waiting"));
  EXPECT_FALSE(busy.waiting.page.cancel_on_other_thread.load());  // served on its own thread
  EXPECT_EQ(busy.waiting.page.picks.load(), 1);
  EXPECT_EQ(busy.waiting.page.picked.load(), 1);
  EXPECT_FALSE(busy.waiting.page.pick_on_other_thread.load());
  EXPECT_EQ(busy.requests, 1);
  EXPECT_TRUE(busy.request_on_view_thread);
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(busy.waiting.result.load(), 1);
  EXPECT_FALSE(busy.waiting.IsRunning());
}

}  // namespace
