// The restart and shut-down prompts on the virtual clock, the system exit
// under Windows and WinPE, and enabling one privilege of the process token.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "mainapp/shell/restart_prompt.h"
#include "mainapp/shell/shutdown_prompt.h"
#include "mainapp/shell/system_exit.h"
#include "platform/core/clock.h"
#include "platform/core/text.h"
#include "platform/process/privilege.h"
#include "platform/process/process.h"
#include "platform/process/shutdown.h"
#include "platform/process/standins.h"
#include "platform/ui/headless_driver.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "tests/disk/fixture_images.h"

namespace {

namespace fs = std::filesystem;
using platform::process::ProgramStart;
using platform::process::ShutdownKind;
using platform::process::ShutdownRequest;

class PromptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string dir = pc_.folder();
    fs::create_directories(dir + "/driveX/Windows/System32");
    std::ofstream(dir + "/driveX/Windows/System32/wpeutil.exe") << "MZ";
    std::ofstream ini(dir + "/machine.ini", std::ios::app);
    ini << "\n[mount X]\npath = X:\nhost = " << dir << "/driveX\ndrive_type = fixed\n";
    ini.close();
    pc_.SetIni("os", "system_folder", "X:\\Windows\\System32");
    pc_.Boot();
    platform::process::RegisterProgram(u"wpeutil.exe", [this](const ProgramStart& start) -> DWORD {
      wpeutil_.push_back(start);
      return 0;
    });
    platform::process::SetShutdownHandler([this](const ShutdownRequest& r) { shutdowns_.push_back(r); });
    ShellState = ShellStateRecord{};
    ShellState.messageCaption = u"Drummetworks";
    LanguageTable = LanguageTableRecord{};
    LanguageTable.strings = {u"IDS_Restart", u"Restart to see the new disk?", u"IDS_RestartNow", u"Restart Now",
                             u"IDS_RestartLater", u"Restart Later"};
    LanguageTable.languageLineCount = 3;
    restartPromptFixedTexts = 1;
    restartAccepted = 7;
  }
  void TearDown() override {
    platform::process::SetShutdownHandler({});
    platform::process::RegisterStandardPrograms();
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
    restartPromptFixedTexts = 1;
    restartPromptText = restartOkText = restartCancelText = CString();
  }

  template <class Dialog>
  std::string RunHeadless(platform::ui::Script script, Dialog& dialog, INT_PTR* result = nullptr) {
    auto run = disk_fixture::RunHeadless(script, [&] {
      INT_PTR r = dialog.DoModal();
      if (result) *result = r;
    });
    return run.failure.empty() ? run.failure : run.failure + "\n" + run.log;
  }

  disk_fixture::SimulatedPc pc_;
  std::vector<ProgramStart> wpeutil_;
  std::vector<ShutdownRequest> shutdowns_;
};

TEST_F(PromptTest, CallerMessageWithTimeCountsDownAndAcceptsByItself) {
  restartPromptFixedTexts = 0;
  restartPromptText = u"Restarting in %TIME% s (%TIME%)";
  restartOkText = u"Go";
  restartCancelText = u"Stop";
  platform::ui::Script script;
  script.expect_dialog(207)
      .expect_text(1123, "Restarting in 20 s (20)")
      .expect_text(1, "Go")
      .expect_text(2, "Stop")
      .wait(1000)
      .expect_text(1123, "Restarting in 19 s (19)")
      .wait(18000)
      .expect_text(1123, "Restarting in 1 s (1)")
      .wait(1000)
      .expect_text(1123, "Restarting in 0 s (0)")
      .wait(1000);
  CRestart dialog;
  INT_PTR result = 0;
  ASSERT_EQ(RunHeadless(script, dialog, &result), "");
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(restartAccepted, 1);
  EXPECT_EQ(ShellState.OneShotTickCount, 21);
  EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
}

TEST_F(PromptTest, PromptsWithoutCountdownWaitForTheUser) {
  struct Case {
    const char* what;
    uint8_t fixed;
    const char16_t* message;
    const char* shownMessage;
    const char* okText;
    const char* cancelText;
    const char* action;  // "ok", "cancel", "escape"
    uint8_t accepted;
  } cases[] = {
      {"fixed texts, refused", 1, u"x %TIME% x", "Restart to see the new disk?", "Restart Now", "Restart Later",
       "cancel", 0},
      {"fixed texts, accepted", 1, u"%TIME%", "Restart to see the new disk?", "Restart Now", "Restart Later", "ok", 1},
      {"caller texts without the placeholder", 0, u"Restart when you like", "Restart when you like", "Go", "Stop",
       "ok", 1},
      {"escape refuses", 0, u"Restart when you like", "Restart when you like", "Go", "Stop", "escape", 0},
      {"escape during a countdown", 0, u"%TIME%", "20", "Go", "Stop", "escape", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    restartPromptFixedTexts = c.fixed;
    restartPromptText = c.message;
    restartOkText = u"Go";
    restartCancelText = u"Stop";
    restartAccepted = 7;
    platform::ui::Script script;
    script.expect_dialog(207).expect_text(1123, c.shownMessage).expect_text(1, c.okText).expect_text(2,
                                                                                                     c.cancelText);
    // A countdown changes the line within a second; others stay as they are.
    if (std::string(c.shownMessage) != "20") script.wait(30000).expect_text(1123, c.shownMessage);
    if (std::string(c.action) == "ok") script.click(1);
    else if (std::string(c.action) == "cancel") script.click(2);
    else script.key("escape");
    CRestart dialog;
    INT_PTR result = 0;
    ASSERT_EQ(RunHeadless(script, dialog, &result), "");
    EXPECT_EQ(result, c.accepted ? IDOK : IDCANCEL);
    EXPECT_EQ(restartAccepted, c.accepted);
  }
}

TEST_F(PromptTest, ShutDownButtonEndsTheSystemAndLeavesThePromptOpen) {
  shutdownPromptText = u"The copy is done.";
  shutdownNowText = u"Shut down";
  shutdownLaterText = u"Close";
  platform::ui::Script script;
  script.expect_dialog(208)
      .expect_text(1121, "The copy is done.")
      .expect_text(1129, "Shut down")
      .expect_text(1128, "Close")
      .click(1129)
      .expect_dialog(208)
      .click(1128);
  CShutDown dialog;
  INT_PTR result = 0;
  ASSERT_EQ(RunHeadless(script, dialog, &result), "");
  EXPECT_EQ(result, IDCANCEL);
  ASSERT_EQ(shutdowns_.size(), 1u);
  EXPECT_EQ(shutdowns_[0].source, "ExitWindowsEx");
  EXPECT_EQ(shutdowns_[0].kind, ShutdownKind::Shutdown);
  EXPECT_EQ(shutdowns_[0].flags, EWX_SHUTDOWN | EWX_FORCE);
  EXPECT_EQ(shutdowns_[0].reason, 0x80020003u);
}

TEST_F(PromptTest, SystemExitUnderWindowsMapsEachActionAndForcesIt) {
  struct Case {
    UINT action;
    std::optional<ShutdownKind> kind;
    UINT flags;
  } cases[] = {
      {0, ShutdownKind::Reboot, EWX_REBOOT | EWX_FORCE},
      {1, ShutdownKind::Shutdown, EWX_SHUTDOWN | EWX_FORCE},
      {2, ShutdownKind::PowerOff, EWX_POWEROFF | EWX_FORCE},
      {3, ShutdownKind::LogOff, EWX_LOGOFF | EWX_FORCE},
      {4, std::nullopt, 0},
      {0xFFFFFFFF, std::nullopt, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action);
    shutdowns_.clear();
    RestartOrShutdown(c.action);
    if (!c.kind) {
      EXPECT_TRUE(shutdowns_.empty());
      continue;
    }
    ASSERT_EQ(shutdowns_.size(), 1u);
    EXPECT_EQ(shutdowns_[0].kind, *c.kind);
    EXPECT_EQ(shutdowns_[0].flags, c.flags);
    EXPECT_EQ(shutdowns_[0].reason, 0x80020003u);
  }
  EXPECT_TRUE(platform::process::IsPrivilegeEnabled(SE_SHUTDOWN_NAME));
  EXPECT_TRUE(wpeutil_.empty());
}

TEST_F(PromptTest, SystemExitUnderWinPeAsksTheUtilityToShutDownWhateverTheAction) {
  ShellState.winPEMode = true;
  for (UINT action : {0u, 1u, 3u}) {
    SCOPED_TRACE(action);
    wpeutil_.clear();
    RestartOrShutdown(action);
    // The utility runs on its own thread; wait for its start to be recorded.
    for (int i = 0; i < 100 && wpeutil_.empty(); ++i) Sleep(100);
    ASSERT_EQ(wpeutil_.size(), 1u);
    EXPECT_EQ(platform::to_utf8(wpeutil_[0].arguments), "shutdown");
    EXPECT_EQ(platform::to_utf8(wpeutil_[0].current_folder), "X:\\Windows\\System32");
    EXPECT_EQ(wpeutil_[0].show, SW_HIDE);
  }
  EXPECT_TRUE(shutdowns_.empty());
}

TEST_F(PromptTest, EnableTokenPrivilegeEnablesOnlyTheNamedHeldPrivilege) {
  ASSERT_FALSE(platform::process::IsPrivilegeEnabled(SE_BACKUP_NAME));
  ASSERT_FALSE(platform::process::IsPrivilegeEnabled(SE_RESTORE_NAME));
  // Names are exact: another case or an unknown name changes nothing.
  EXPECT_TRUE(EnableTokenPrivilege(u"sebackupprivilege"));
  EXPECT_TRUE(EnableTokenPrivilege(u"SeNoSuchPrivilege"));
  EXPECT_FALSE(platform::process::IsPrivilegeEnabled(SE_BACKUP_NAME));
  EXPECT_TRUE(EnableTokenPrivilege(SE_BACKUP_NAME));
  EXPECT_TRUE(platform::process::IsPrivilegeEnabled(SE_BACKUP_NAME));
  EXPECT_FALSE(platform::process::IsPrivilegeEnabled(SE_RESTORE_NAME));
  EXPECT_TRUE(EnableTokenPrivilege(SE_RESTORE_NAME));
  EXPECT_TRUE(platform::process::IsPrivilegeEnabled(SE_BACKUP_NAME));
  EXPECT_TRUE(platform::process::IsPrivilegeEnabled(SE_RESTORE_NAME));
}

}  // namespace
