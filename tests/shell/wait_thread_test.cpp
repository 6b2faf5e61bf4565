// The wait thread: its dialog runs on a user-interface thread of its own
// over a parent window that lives on the busy thread; the busy thread steps
// and closes it with thread messages, and the Cancel request comes back to
// the owner on the busy thread.
#include "mainapp/shell/wait_thread.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/ui/message_map.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/winuser.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

namespace {

// The busy page: counts the cancel requests and where they were handled.
class Owner : public CDialog {
 public:
  Owner() : CDialog(208, nullptr) {}
  LRESULT OnCancelRequest(WPARAM, LPARAM) {
    ++requests;
    if (std::this_thread::get_id() != home) handled_elsewhere = true;
    return 0;
  }
  int requests = 0;
  bool handled_elsewhere = false;
  std::thread::id home = std::this_thread::get_id();
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(Owner, CDialog)
  ON_MESSAGE(CWaitDialog::kCancelRequest, &Owner::OnCancelRequest)
END_MESSAGE_MAP()

std::string text_of(HWND hwnd) {
  char16_t buffer[256] = {};
  GetWindowTextW(hwnd, buffer, 256);
  return platform::to_utf8(buffer);
}

// Serves the busy thread's queue as its pump does.
void pump() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

// Waits for the wait thread to end by itself; one that does not fails the
// test and is unwound with WM_QUIT, so a fault never hangs the run.
void ExpectEnds(CWaitThread& wait, const char* why) {
  platform::ui::WaitUntilThreadIdle(wait.m_nThreadID);
  if (wait.IsRunning()) {
    ADD_FAILURE() << "the wait thread did not end: " << why;
    PostThreadMessageW(wait.m_nThreadID, WM_QUIT, 0, 0);
  }
  wait.Join();
}

class WaitThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
    LanguageTable.strings = {u"nCaptionResourseID", u"Please wait", u"nMessageStringID", u"Working on the disk."};
    LanguageTable.languageLineCount = 2;
    ASSERT_TRUE(owner.Create(208, nullptr));
    owner.ShowWindow(SW_SHOW);
  }
  void TearDown() override {
    owner.DestroyWindow();
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
  }
  // Starts the thread and waits until its dialog is up and idle.
  HWND Start(CWaitThread& wait) {
    EXPECT_TRUE(wait.StartWaitThread());
    EXPECT_TRUE(platform::ui::WaitUntilThreadIdle(wait.m_nThreadID));
    return wait.dialog().GetSafeHwnd();
  }
  Owner owner;
};

TEST_F(WaitThreadTest, StepsOverItsParentAndClosesWithResultOne) {
  CWaitThread wait(0, 0, TRUE, 1, &owner);
  HWND dialog = Start(wait);
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(IsWindowVisible(dialog));
  EXPECT_TRUE(wait.IsRunning());
  EXPECT_EQ(GetParent(dialog), owner.m_hWnd);
  EXPECT_EQ(text_of(dialog), "Waiting for Format");
  EXPECT_EQ(text_of(GetDlgItem(dialog, CWaitDialog::kMessageLine)), "Working on the disk.");
  // Modal over its parent on the other thread: the parent is disabled.
  EXPECT_FALSE(IsWindowEnabled(owner.m_hWnd));
  RECT outer{}, own{};
  GetWindowRect(owner.m_hWnd, &outer);
  GetWindowRect(dialog, &own);
  // Centred over the parent (to the pixel an odd difference allows).
  EXPECT_LE(std::abs((own.left + own.right) - (outer.left + outer.right)), 1);
  EXPECT_LE(std::abs((own.top + own.bottom) - (outer.top + outer.bottom)), 1);

  HWND bar = GetDlgItem(dialog, CWaitDialog::kProgress);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
  struct Step {
    const char16_t* text;
    LRESULT position;
    const char* line;  // an empty text leaves the line as it was
  } steps[] = {{u"Copying partition 1", 10, "Copying partition 1"},
               {u"", 20, "Copying partition 1"},
               {u"Copying partition 2", 30, "Copying partition 2"}};
  for (const Step& s : steps) {
    ASSERT_TRUE(wait.SetWaitText(s.text));
    ASSERT_TRUE(platform::ui::WaitUntilThreadIdle(wait.m_nThreadID));
    // Asked on the dialog's own thread (a sent message runs there).
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), s.position);
    EXPECT_EQ(text_of(GetDlgItem(dialog, CWaitDialog::kMessageLine)), s.line);
    EXPECT_EQ(platform::to_utf8(wait.wait_text().GetString()), platform::to_utf8(s.text));
  }

  DWORD id = wait.m_nThreadID;
  ASSERT_TRUE(wait.CloseWaitDialog());
  ExpectEnds(wait, "closed");
  EXPECT_FALSE(wait.IsRunning());
  EXPECT_EQ(wait.result(), 1);
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_TRUE(IsWindowEnabled(owner.m_hWnd));
  // The thread has ended: further requests fail and change nothing.
  SetLastError(0);
  EXPECT_FALSE(wait.SetWaitText(u"late"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
  EXPECT_FALSE(wait.CloseWaitDialog());
  EXPECT_FALSE(PostThreadMessageW(id, CWaitThread::kClose, 0, 0));
}

TEST_F(WaitThreadTest, CancelAsksTheOwnerOnTheBusyThread) {
  CWaitThread wait(0, 0, TRUE, 1, &owner);
  HWND dialog = Start(wait);
  HWND cancel = GetDlgItem(dialog, IDCANCEL);
  ASSERT_NE(cancel, nullptr);
  EXPECT_TRUE(IsWindowVisible(cancel));
  EXPECT_TRUE(IsWindowEnabled(cancel));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, CWaitDialog::kCancellingLine)));
  // A click, delivered to the thread that owns the button.
  platform::ui::PostInputMessage(cancel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(5, 5));
  platform::ui::PostInputMessage(cancel, WM_LBUTTONUP, 0, MAKELONG(5, 5));
  ASSERT_TRUE(platform::ui::WaitUntilThreadIdle(wait.m_nThreadID));
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, CWaitDialog::kCancellingLine)));
  EXPECT_FALSE(IsWindowEnabled(cancel));
  EXPECT_TRUE(IsWindowVisible(dialog));  // it waits to be closed
  EXPECT_EQ(owner.requests, 0);          // posted, not yet served by the busy thread
  pump();
  EXPECT_EQ(owner.requests, 1);
  EXPECT_FALSE(owner.handled_elsewhere);
  ASSERT_TRUE(wait.CloseWaitDialog());
  ExpectEnds(wait, "closed after the cancel request");
  EXPECT_EQ(wait.result(), 1);
}

TEST_F(WaitThreadTest, WithoutAParentTheDialogEndsAtOnce) {
  // Even with a main window on the busy thread: the wait thread has none.
  CWinApp app(u"Drummetworks");
  app.m_pMainWnd = &owner;
  CWaitThread wait(0, 0, TRUE, 1, nullptr);
  ASSERT_TRUE(wait.StartWaitThread());
  ExpectEnds(wait, "no parent");
  EXPECT_FALSE(wait.IsRunning());
  EXPECT_EQ(wait.result(), 1);
  EXPECT_TRUE(IsWindowEnabled(owner.m_hWnd));
  EXPECT_FALSE(wait.CloseWaitDialog());
}

TEST_F(WaitThreadTest, RequestsBeforeTheDialogIsUpAreKept) {
  CWaitThread wait(0, 0, TRUE, 1, &owner);
  // Before the thread exists: refused, nothing breaks.
  SetLastError(0);
  EXPECT_FALSE(wait.SetWaitText(u"too early"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
  EXPECT_FALSE(wait.CloseWaitDialog());
  // Right after the start, before the dialog is made: kept and served.
  ASSERT_TRUE(wait.StartWaitThread());
  ASSERT_TRUE(wait.SetWaitText(u"one"));
  ASSERT_TRUE(wait.CloseWaitDialog());
  ExpectEnds(wait, "closed before its dialog was up");
  EXPECT_EQ(wait.result(), 1);
  EXPECT_TRUE(IsWindowEnabled(owner.m_hWnd));
}

TEST_F(WaitThreadTest, DestroyingItEndsTheThreadFirst) {
  HWND dialog = nullptr;
  DWORD id = 0;
  {
    CWaitThread wait(0, 0, FALSE, 0, &owner);
    dialog = Start(wait);
    id = wait.m_nThreadID;
    ASSERT_TRUE(IsWindowVisible(dialog));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IDCANCEL)));  // no Cancel offered
  }
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_FALSE(PostThreadMessageW(id, CWaitThread::kAdvance, 0, 0));
  EXPECT_TRUE(IsWindowEnabled(owner.m_hWnd));
}

}  // namespace
