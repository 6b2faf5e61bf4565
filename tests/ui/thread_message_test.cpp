// User-interface threads: thread messages reach the thread object's
// PreTranslateMessage and message map in every loop the thread runs, windows
// made on a thread are served by it, and bad requests fail with the
// platform's errors.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fixtures/resource.h"
#include "platform/core/error.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/dialog.h"
#include "platform/ui/menu.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "platform/ui/message_queue.h"

namespace {

constexpr UINT kCount = WM_APP + 1;   // records (wParam, lParam)
constexpr UINT kFinish = WM_APP + 2;  // ends the loop the thread runs
constexpr WPARAM kSwallowed = 13;     // a count PreTranslateMessage keeps from the map
constexpr DWORD kSuspended = 0x00000004;  // a suspended start, which is not offered

// Where the thread waits while the messages come.
enum class Where { Run, Dialog, MessageBox, Menu, HandPump };

const char* name_of(Where w) {
  switch (w) {
    case Where::Run: return "CWinThread::Run";
    case Where::Dialog: return "modal dialog";
    case Where::MessageBox: return "message box";
    case Where::Menu: return "popup menu";
    case Where::HandPump: return "GetMessage/DispatchMessage pump";
  }
  return "?";
}

// Everything below is written on the thread and read after Join.
class CountingThread : public CWinThread {
 public:
  explicit CountingThread(Where where) : where_(where) {}

  std::vector<std::pair<WPARAM, LPARAM>> seen;
  std::vector<size_t> loop_depths;  // modal loops running when each count came
  int swallowed = 0;
  bool all_on_this_thread = true;
  INT_PTR loop_result = -100;
  CWinThread* current_thread = nullptr;

  BOOL InitInstance() override {
    me_ = std::this_thread::get_id();
    current_thread = AfxGetThread();
    switch (where_) {
      case Where::Run:
        return TRUE;
      case Where::Dialog: {
        CDialog page(IDD_MAIN);
        dialog_ = &page;
        loop_result = page.DoModal();
        dialog_ = nullptr;
        return FALSE;
      }
      case Where::MessageBox:
        loop_result = MessageBoxW(nullptr, u"Working", u"Thread", MB_OKCANCEL);
        return FALSE;
      case Where::Menu: {
        CDialog owner;
        owner.Create(IDD_MAIN, nullptr);
        HMENU menu = CreatePopupMenu();
        AppendMenuW(menu, MF_STRING, 5, u"Five");
        loop_result = TrackPopupMenu(menu, TPM_RETURNCMD, 10, 10, 0, owner.m_hWnd, nullptr);
        DestroyMenu(menu);
        owner.DestroyWindow();
        return FALSE;
      }
      case Where::HandPump: {
        MSG m;
        while (!pump_done_ && GetMessageW(&m, nullptr, 0, 0)) {
          TranslateMessage(&m);
          DispatchMessageW(&m);
        }
        loop_result = pump_done_ ? 1 : 0;
        return FALSE;
      }
    }
    return FALSE;
  }

  int ExitInstance() override {
    loop_result = where_ == Where::Run ? exit_code_ : loop_result;
    return CWinThread::ExitInstance();
  }

  BOOL PreTranslateMessage(MSG* msg) override {
    if (msg->message == kCount && msg->wParam == kSwallowed) {
      ++swallowed;
      return TRUE;
    }
    return CWinThread::PreTranslateMessage(msg);
  }

  void OnCount(WPARAM w, LPARAM l) {
    if (std::this_thread::get_id() != me_) all_on_this_thread = false;
    seen.emplace_back(w, l);
    loop_depths.push_back(platform::ui::CurrentUiThread().loops.size());
  }

  void OnFinish(WPARAM, LPARAM) {
    switch (where_) {
      case Where::Run:
        PostQuitMessage(7);
        break;
      case Where::Dialog:
        dialog_->EndDialog(IDRETRY);
        break;
      case Where::MessageBox:
        PostMessageW(GetActiveWindow(), WM_COMMAND, IDCANCEL, 0);
        break;
      case Where::Menu:
        // Picks the item as a click on it would.
        platform::ui::CurrentTrackedMenu()->chosen = 5;
        platform::ui::CurrentUiThread().loops.back()->ended = true;
        break;
      case Where::HandPump:
        pump_done_ = true;
        break;
    }
  }

 private:
  Where where_;
  std::thread::id me_;
  CDialog* dialog_ = nullptr;
  bool pump_done_ = false;
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CountingThread, CWinThread)
  ON_THREAD_MESSAGE(kCount, &CountingThread::OnCount)
  ON_THREAD_MESSAGE(kFinish, &CountingThread::OnFinish)
END_MESSAGE_MAP()

// Ends the thread with its finish message and waits for it; a finish that
// is not served fails the test and the thread is unwound with WM_QUIT.
void Finish(CountingThread& thread) {
  EXPECT_TRUE(PostThreadMessageW(thread.m_nThreadID, kFinish, 0, 0));
  platform::ui::WaitUntilThreadIdle(thread.m_nThreadID);
  if (thread.IsRunning()) {
    ADD_FAILURE() << "the finish message did not end the loop";
    PostThreadMessageW(thread.m_nThreadID, WM_QUIT, 0, 0);  // unwinds every loop
  }
  thread.Join();
}

TEST(ThreadMessages, ReachTheThreadsMapInEveryLoopItRuns) {
  struct Case {
    Where where;
    size_t depth;         // modal loops running while the counts come
    INT_PTR loop_result;  // what the loop gave back once finished
  } cases[] = {
      {Where::Run, 0, 7},        {Where::Dialog, 1, IDRETRY}, {Where::MessageBox, 1, IDCANCEL},
      {Where::Menu, 1, 5},       {Where::HandPump, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(name_of(c.where));
    CountingThread thread(c.where);
    ASSERT_TRUE(thread.CreateThread());
    // Posted at once: the queue exists when CreateThread returns, even if
    // the loop has not started yet.
    EXPECT_TRUE(PostThreadMessageW(thread.m_nThreadID, kCount, 1, 10));
    EXPECT_TRUE(platform::ui::WaitUntilThreadIdle(thread.m_nThreadID));
    EXPECT_TRUE(PostThreadMessageW(thread.m_nThreadID, kCount, kSwallowed, 0));
    EXPECT_TRUE(PostThreadMessageW(thread.m_nThreadID, kCount, 2, 20));
    // Read while the thread waits for more.
    ASSERT_TRUE(platform::ui::WaitUntilThreadIdle(thread.m_nThreadID));
    EXPECT_EQ(thread.seen, (std::vector<std::pair<WPARAM, LPARAM>>{{1, 10}, {2, 20}}));
    EXPECT_EQ(thread.swallowed, 1);
    EXPECT_EQ(thread.loop_depths, (std::vector<size_t>{c.depth, c.depth}));
    EXPECT_TRUE(thread.all_on_this_thread);
    Finish(thread);
    EXPECT_EQ(thread.current_thread, &thread);
    EXPECT_EQ(thread.loop_result, c.loop_result);
  }
}

TEST(ThreadMessages, EndedOrUnknownThreadsRefuseThem) {
  CountingThread thread(Where::Run);
  ASSERT_TRUE(thread.CreateThread());
  DWORD id = thread.m_nThreadID;
  Finish(thread);
  SetLastError(0);
  EXPECT_FALSE(PostThreadMessageW(id, kCount, 1, 1));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
  SetLastError(0);
  EXPECT_FALSE(PostThreadMessageW(0x7FFFFFF0, kCount, 1, 1));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
  EXPECT_TRUE(thread.seen.empty());
  EXPECT_FALSE(platform::ui::WaitUntilThreadIdle(id));
}

TEST(ThreadMessages, CreateThreadRefusesWhatItCannotDo) {
  CountingThread thread(Where::Run);
  SetLastError(0);
  EXPECT_FALSE(thread.CreateThread(kSuspended, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(thread.CreateThread(0, 65536));
  ASSERT_TRUE(thread.CreateThread());
  SetLastError(0);
  EXPECT_FALSE(thread.CreateThread());  // already running
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  Finish(thread);
  // Once it has ended the object may run a new thread.
  ASSERT_TRUE(thread.CreateThread());
  PostThreadMessageW(thread.m_nThreadID, kCount, 4, 0);
  Finish(thread);
  EXPECT_EQ(thread.seen, (std::vector<std::pair<WPARAM, LPARAM>>{{4, 0}}));
}

// Deletes itself once its thread is done, as auto-deleting thread objects do.
class SelfDeleting : public CWinThread {
 public:
  explicit SelfDeleting(std::promise<void>* gone) : gone_(gone) {}
  ~SelfDeleting() override { gone_->set_value(); }
  BOOL InitInstance() override { return FALSE; }
  int ExitInstance() override {
    int code = CWinThread::ExitInstance();
    delete this;
    return code;
  }

 private:
  std::promise<void>* gone_;
};

TEST(ThreadMessages, AThreadObjectMayDeleteItselfOnItsThread) {
  // Many times over: a thread that ends at once races the creator storing
  // its handle, and an object deleted before that ended the process.
  for (int round = 0; round < 300; ++round) {
    std::promise<void> gone;
    auto* thread = new SelfDeleting(&gone);
    ASSERT_TRUE(thread->CreateThread());
    // No crash and no wait for ever: the destructor ran on the thread itself.
    gone.get_future().get();
  }
  // A thread never waits for its own idleness.
  EXPECT_FALSE(platform::ui::WaitUntilThreadIdle(platform::ui::CurrentUiThread().id));
}

// A page made on the user-interface thread: its messages are served there.
class ThreadPage : public CDialog {
 public:
  ThreadPage() : CDialog(IDD_MAIN) {}
  std::atomic<bool> served_elsewhere{false};
  std::thread::id home;
  LRESULT OnAsk(WPARAM w, LPARAM) {
    if (std::this_thread::get_id() != home) served_elsewhere = true;
    return static_cast<LRESULT>(w * 2);
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(ThreadPage, CDialog)
  ON_MESSAGE(WM_APP + 7, &ThreadPage::OnAsk)
END_MESSAGE_MAP()

class WindowThread : public CWinThread {
 public:
  ThreadPage page;
  CWnd* main_seen = nullptr;
  BOOL InitInstance() override {
    page.home = std::this_thread::get_id();
    if (!page.Create(IDD_MAIN, nullptr)) return FALSE;
    m_pMainWnd = &page;
    main_seen = AfxGetMainWnd();
    return TRUE;
  }
  int ExitInstance() override {
    page.DestroyWindow();
    m_pMainWnd = nullptr;
    return CWinThread::ExitInstance();
  }
};

TEST(ThreadMessages, WindowsBelongToTheThreadThatMadeThem) {
  CWinApp app(u"Threads");
  CWnd app_main;
  app.m_pMainWnd = &app_main;
  WindowThread thread;
  ASSERT_TRUE(thread.CreateThread());
  ASSERT_TRUE(platform::ui::WaitUntilThreadIdle(thread.m_nThreadID));
  HWND page = thread.page.m_hWnd;
  ASSERT_NE(page, nullptr);
  // Sent from here, run there.
  EXPECT_EQ(SendMessageW(page, WM_APP + 7, 21, 0), 42);
  EXPECT_TRUE(PostMessageW(page, WM_APP + 7, 1, 0));
  EXPECT_TRUE(platform::ui::WaitUntilThreadIdle(thread.m_nThreadID));
  EXPECT_FALSE(thread.page.served_elsewhere.load());
  // Each thread sees its own thread object and main window.
  EXPECT_EQ(thread.main_seen, &thread.page);
  EXPECT_EQ(AfxGetThread(), &app);
  EXPECT_EQ(AfxGetMainWnd(), &app_main);
  PostThreadMessageW(thread.m_nThreadID, WM_QUIT, 0, 0);
  thread.Join();
  EXPECT_FALSE(IsWindow(page));
  // A window of an ended thread no longer answers.
  EXPECT_EQ(SendMessageW(page, WM_APP + 7, 21, 0), 0);
}

TEST(ApplicationObject, CommandLineAndRegistryKey) {
  struct Case {
    const char16_t* full;
    const char16_t* arguments;
  } cases[] = {
      {u"\"C:\\Program Files\\Drum\\Drum.exe\" /B ONECLICK", u"/B ONECLICK"},
      {u"\"C:\\Program Files\\Drum\\Drum.exe\"", u""},
      {u"drum.exe   -x  y", u"-x  y"},
      {u"drum.exe", u""},
      {u"", u""},
      {u"\"unclosed name /B", u""},
      {u"drum.exe\t\"quoted arg\"", u"\"quoted arg\""},
  };
  CWinApp app(u"Drum");
  ASSERT_NE(app.m_lpCmdLine, nullptr);
  EXPECT_EQ(std::u16string(app.m_lpCmdLine), u"");
  for (const Case& c : cases) {
    app.SetCommandLine(c.full);
    ASSERT_NE(app.m_lpCmdLine, nullptr);
    EXPECT_EQ(std::u16string(app.m_lpCmdLine), c.arguments);
  }
  EXPECT_EQ(app.m_pszRegistryKey, nullptr);
  app.SetRegistryKey(u"Drummet Software");
  ASSERT_NE(app.m_pszRegistryKey, nullptr);
  EXPECT_EQ(std::u16string(app.m_pszRegistryKey), u"Drummet Software");
}

TEST(ApplicationObject, CommonControlsSetUp) {
  INITCOMMONCONTROLSEX good{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
  EXPECT_TRUE(InitCommonControlsEx(&good));
  INITCOMMONCONTROLSEX bad{4, ICC_WIN95_CLASSES};
  SetLastError(0);
  EXPECT_FALSE(InitCommonControlsEx(&bad));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(InitCommonControlsEx(nullptr));
  EXPECT_TRUE(AfxInitRichEdit2());
}

}  // namespace
