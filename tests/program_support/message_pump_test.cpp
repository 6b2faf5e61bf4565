// The message pump of the long loops: what it serves, what it leaves queued,
// the dialog handling of either dialog, and the stay-awake request; and the
// traced tool runner, whose message box the headless driver answers.
#include "program_support/message_pump.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "platform/process/system_info.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/headless_driver.h"
#include "platform/ui/winuser.h"
#include "program_support/process_runners.h"
#include "program_support/shell_state.h"
#include "tests/disk/fixture_images.h"
#include "tests/disk/fixture_programs.h"

namespace {

namespace fs = std::filesystem;

struct Recorder : CWnd {
  std::vector<UINT> seen;
  LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
    if (m >= WM_APP || m == WM_CHAR) seen.push_back(m);
    return CWnd::WindowProc(m, w, l);
  }
};

class MessagePumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(page_.CreateEx(0, u"", u"page", WS_POPUP, CRect(0, 0, 50, 50), nullptr, 0));
    ASSERT_TRUE(child_.CreateEx(0, u"", u"child", WS_CHILD, CRect(0, 0, 10, 10), &page_, 5));
    ASSERT_TRUE(main_.CreateEx(0, u"", u"main", WS_POPUP, CRect(0, 0, 50, 50), nullptr, 0));
    ShellState.MainDialogHandle = main_.m_hWnd;
    MSG drain;
    while (PeekMessageW(&drain, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&drain);
  }
  void TearDown() override {
    ShellState = ShellStateRecord{};
    child_.DestroyWindow();
    page_.DestroyWindow();
    main_.DestroyWindow();
  }
  Recorder page_, child_, main_;
};

TEST_F(MessagePumpTest, ServesEveryWaitingMessageInOneCall) {
  // A click is several messages; a long loop pumps once a second, so serving
  // one per call would answer a click seconds late.
  for (UINT m : {WM_APP + 1, WM_APP + 2, WM_APP + 3}) page_.PostMessage(m);
  main_.PostMessage(WM_APP + 9);
  PumpMessages(page_.m_hWnd);
  EXPECT_EQ(page_.seen, (std::vector<UINT>{WM_APP + 1, WM_APP + 2, WM_APP + 3}));
  EXPECT_TRUE(main_.seen.empty()) << "the main dialog's own messages wait for its own pump";
  PumpMessages(main_.m_hWnd);
  EXPECT_EQ(main_.seen, std::vector<UINT>{WM_APP + 9});
}

TEST_F(MessagePumpTest, ChildrenAndTheWholeThread) {
  child_.PostMessage(WM_APP + 4);
  PumpMessages(page_.m_hWnd);
  EXPECT_EQ(child_.seen, std::vector<UINT>{WM_APP + 4}) << "a page's controls are served with it";
  main_.PostMessage(WM_APP + 5);
  PumpMessages(nullptr);
  EXPECT_EQ(main_.seen, std::vector<UINT>{WM_APP + 5});
}

TEST_F(MessagePumpTest, DialogKeysAreTakenAndThePumpGoesOn) {
  // Tab and Escape characters belong to the dialog handling, not to controls:
  // taken there, they do not end the call, and the next message is served.
  child_.PostMessage(WM_CHAR, u'\t');
  child_.PostMessage(WM_CHAR, 0x1B);
  page_.PostMessage(WM_APP + 6);
  // An ordinary character goes to the control.
  child_.PostMessage(WM_CHAR, u'a');
  PumpMessages(page_.m_hWnd);
  EXPECT_EQ(page_.seen, std::vector<UINT>{WM_APP + 6});
  EXPECT_EQ(child_.seen, std::vector<UINT>{WM_CHAR});
}

TEST_F(MessagePumpTest, EveryCallAsksToStayAwake) {
  const uint64_t before = platform::process::ExecutionStateRequests();
  PumpMessages(page_.m_hWnd);
  PumpMessages(nullptr);
  EXPECT_EQ(platform::process::ExecutionStateRequests() - before, 2u) << "also with nothing to serve";
  EXPECT_TRUE(page_.seen.empty());
}

TEST(TracedTool, ShowsOneCommandAndStartsAnother) {
  disk_fixture::SimulatedPc pc;
  const std::string host = pc.folder() + "/driveC";
  fs::create_directories(host + "/Windows/System32");
  std::ofstream(pc.folder() + "/machine.ini", std::ios::app)
      << "\n[mount C]\npath = C:\nhost = " << host << "\ndrive_type = fixed\n";
  pc.Boot();
  platform::fs::ReleaseAllDrivers();
  disk_fixture::ProgramRecord record;
  disk_fixture::RegisterRecordingProgram(u"bcdedit.exe", &record, 0, true);

  std::ostringstream log;
  platform::ui::Script script;
  script.answer("ok");
  platform::ui::DriverOptions options;
  options.log = &log;
  options.real_grace_ms = 0;
  {
    platform::ui::HeadlessSession session(script, options);
    RunSystemToolTraced(CString(u"bcdedit.exe"), CString(u" /set {default} device partition=D:"));
    EXPECT_TRUE(session.driver().finished()) << "the message box was never shown";
  }
  disk_fixture::UnregisterRecordingProgram(u"bcdedit.exe");
  EXPECT_NE(log.str().find("C:\\Windows\\System32\\bcdedit.exe /set {default} device partition=D:"), std::string::npos)
      << log.str();
  // What started is the fixed tool, without the shown arguments and without a window.
  EXPECT_EQ(record.starts, 1);
  EXPECT_EQ(record.command_line.find(u"/set"), std::u16string::npos) << platform::to_utf8(record.command_line);
  EXPECT_EQ(record.creation_flags & 0x08000000u, 0x08000000u);
}

}  // namespace
