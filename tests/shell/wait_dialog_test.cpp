// The wait dialog: ending at once without a parent, the texts and the Cancel
// button over a parent, the cancel request to the owner, and the one-shot
// timer that steps the progress bar and closes it, on the virtual clock.
#include "mainapp/shell/wait_dialog.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "platform/core/text.h"
#include "platform/ui/headless_driver.h"
#include "platform/ui/message_map.h"
#include "platform/ui/winuser.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

namespace {

// An owner window that counts the cancel requests it receives.
class Owner : public CDialog {
 public:
  Owner() : CDialog(208, nullptr) {}
  LRESULT OnCancelRequest(WPARAM, LPARAM) {
    ++requests;
    return 0;
  }
  int requests = 0;
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(Owner, CDialog)
  ON_MESSAGE(CWaitDialog::kCancelRequest, &Owner::OnCancelRequest)
END_MESSAGE_MAP()

// Starts the shared one-shot timer when shown, as a busy page does. Its long
// period lets the script's checks run first; the two ticks that close the
// dialog come once the clock runs on.
class TimedWait : public CWaitDialog {
 public:
  using CWaitDialog::CWaitDialog;
  BOOL OnInitDialog() override {
    CWaitDialog::OnInitDialog();
    ShellState.OneShotTickCount = 0;
    ShellState.OneShotTimerId = SetTimer(77, 100000, nullptr);
    return TRUE;
  }
};

class WaitDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
    LanguageTable.strings = {u"nCaptionResourseID", u"Please wait", u"nMessageStringID", u"Working on the disk."};
    LanguageTable.languageLineCount = 2;
  }
  void TearDown() override {
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
  }
  std::string Run(platform::ui::Script script, CWaitDialog& dialog, Owner* owner, INT_PTR* result) {
    std::ostringstream log;
    platform::ui::DriverOptions options;
    options.log = &log;
    options.real_grace_ms = 2000;
    std::string failure;
    {
      platform::ui::HeadlessSession session(script, options);
      if (owner) owner->Create(208, nullptr);
      try {
        *result = dialog.DoModal();
      } catch (const platform::ui::ScriptFailure& e) {
        failure = e.what();
      }
      if (owner) {
        // Let the posted requests arrive, then close the owner.
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
        owner->DestroyWindow();
      }
      if (failure.empty() && !session.driver().finished()) failure = "script not finished";
    }
    return failure.empty() ? failure : failure + "\n" + log.str();
  }
};

TEST_F(WaitDialogTest, TextsComeFromTheLanguageFile) {
  struct Case {
    BOOL showMessage;
    const char* message;
  } cases[] = {{TRUE, "Working on the disk."}, {FALSE, ""}};
  for (const auto& c : cases) {
    CWaitDialog dialog(0, 9, c.showMessage, 1, nullptr);
    EXPECT_EQ(platform::to_utf8(dialog.caption().GetString()), "Please wait");
    EXPECT_EQ(platform::to_utf8(dialog.message().GetString()), c.message);
    EXPECT_EQ(dialog.kept(), 9);
  }
}

TEST_F(WaitDialogTest, WithoutAParentItEndsAtOnce) {
  CWaitDialog dialog(0, 0, TRUE, 1, nullptr);
  INT_PTR result = 0;
  ASSERT_EQ(Run(platform::ui::Script{}, dialog, nullptr, &result), "");
  EXPECT_EQ(result, 1);
}

TEST_F(WaitDialogTest, CancelAsksTheOwnerAndTheTimerClosesIt) {
  Owner owner;
  TimedWait dialog(0, 0, TRUE, 1, &owner);
  platform::ui::Script script;
  script.expect_dialog(192)
      .expect_text(1110, "Working on the disk.")
      .expect_hidden(1111)
      .expect_visible(2)
      .expect_enabled(2)
      .click(2)
      .expect_visible(1111)
      .expect_disabled(2)
      .expect_dialog(192)
      .wait(2500).expect_dialog(192);
  INT_PTR result = 0;
  ASSERT_EQ(Run(script, dialog, &owner, &result), "");
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(ShellState.OneShotTickCount, 3);
  EXPECT_EQ(owner.requests, 1);
}

TEST_F(WaitDialogTest, WithoutTheCancelFlagTheButtonIsHidden) {
  Owner owner;
  TimedWait dialog(0, 0, FALSE, 0, &owner);
  platform::ui::Script script;
  script.expect_dialog(192).expect_text(1110, "").expect_hidden(2).wait(2500).expect_dialog(192);
  INT_PTR result = 0;
  ASSERT_EQ(Run(script, dialog, &owner, &result), "");
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(owner.requests, 0);
}

TEST_F(WaitDialogTest, TheCancellingLineAndTheButtonSpeakTheLanguage) {
  LanguageTable.strings.insert(LanguageTable.strings.end(),
                               {u"IDS_WaitCancelling", u"キャンセルしています", u"IDS_Cancel", u"キャンセル"});
  LanguageTable.languageLineCount = 4;
  Owner owner;
  TimedWait dialog(0, 0, TRUE, 1, &owner);
  platform::ui::Script script;
  script.expect_dialog(192)
      .expect_text(1111, "キャンセルしています")
      .expect_text(2, "キャンセル")
      .wait(2500)
      .expect_dialog(192);
  INT_PTR result = 0;
  ASSERT_EQ(Run(script, dialog, &owner, &result), "");
}

}  // namespace
