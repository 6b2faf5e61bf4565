// Escape while the About box runs over another window: the key reaches the
// box (which ignores it, as only its OK button closes it), never the window
// beneath, which stays open and takes its own keys again once the box has
// gone.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "mainapp/shell/about_dialog.h"
#include "mainapp/shell/program_version.h"
#include "platform/process/version_block.h"
#include "platform/ui/headless_driver.h"
#include "platform/ui/message_map.h"
#include "platform/ui/resources.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "tests/disk/fixture_images.h"

namespace {

constexpr int kOwnerDialog = 9100;
constexpr int kAboutButton = 9101;

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
const platform::ui::DialogItemTemplate kOwnerItems[] = {
    {u"Button", u"About", kAboutButton, 10, 10, 60, 14, kChild | BS_DEFPUSHBUTTON, 0, 0},
    {u"Button", u"Cancel", IDCANCEL, 80, 10, 60, 14, kChild | BS_PUSHBUTTON, 0, 0},
};
const platform::ui::DialogTemplate kOwnerTemplates[] = {
    {kOwnerDialog, u"Owner", u"MS Shell Dlg", 8, 400, 0, 0, 0, 160, 40,
     DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, kOwnerItems, std::size(kOwnerItems)},
};
const platform::ui::ResourceTable kOwnerTable = {"about_escape_test", kOwnerTemplates, std::size(kOwnerTemplates),
                                                 nullptr, 0, nullptr, 0};

// A window with the About box behind a button; counts its own Cancels.
class Owner : public CDialog {
 public:
  Owner() : CDialog(kOwnerDialog) {}
  int cancels = 0;
  std::vector<INT_PTR> about_results;
  void OnCancel() override {
    ++cancels;
    CDialog::OnCancel();
  }

 protected:
  void OnAbout() {
    CAboutDlg about;
    about_results.push_back(about.DoModal());
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(Owner, CDialog)
  ON_BN_CLICKED(kAboutButton, &Owner::OnAbout)
END_MESSAGE_MAP()

TEST(AboutEscape, EscapeInTheAboutBoxLeavesItOpenAndItsOwnerUntouched) {
  platform::ui::RegisterResourceTable(&kOwnerTable);
  disk_fixture::SimulatedPc pc;
  pc.Boot();
  CWinApp app(u"Drummet");
  app.SetProgramPath(u"C:\\Program Files\\Drummetworks\\Drummet.exe");
  platform::process::RegisterVersionBlock(u"Drummet.exe", platform::process::BuildVersionBlock({}));
  LanguageTable = LanguageTableRecord{};
  LanguageTable.strings = {u"IDS_AboutHeading", u"About the program", u"IDS_About1", u"Drummetworks Version .",
                           u"IDS_About2", u"Second line"};
  LanguageTable.languageLineCount = 3;

  struct Case {
    const char* how;
    void (*open)(platform::ui::Script&);
  } cases[] = {
      {"clicked", [](platform::ui::Script& s) { s.click(kAboutButton); }},
      {"Enter on the owner's default button", [](platform::ui::Script& s) { s.key("enter"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    platform::ui::Script script;
    script.expect_dialog(kOwnerDialog);
    c.open(script);
    script.expect_dialog(100)
        .key("escape")
        .wait(500)
        .expect_dialog(100)  // Escape leaves the box open
        .click(IDOK)
        .expect_dialog(kOwnerDialog)  // and never reached the owner
        .expect_enabled(kAboutButton)
        .key("escape");  // now it is the owner's
    Owner owner;
    INT_PTR result = 0;
    std::ostringstream log;
    platform::ui::DriverOptions options;
    options.log = &log;
    options.real_grace_ms = 0;
    options.wait_budget_ms = 5000;
    std::string failure;
    {
      platform::ui::HeadlessSession session(script, options);
      try {
        result = owner.DoModal();
      } catch (const platform::ui::ScriptFailure& e) {
        failure = e.what();
      }
      if (failure.empty() && !session.driver().finished()) failure = "script not finished";
    }
    ASSERT_EQ(failure, "") << log.str();
    EXPECT_EQ(owner.about_results, std::vector<INT_PTR>{IDOK});
    EXPECT_EQ(owner.cancels, 1);
    EXPECT_EQ(result, IDCANCEL);
  }
  platform::process::UnregisterVersionBlock(u"Drummet.exe");
  platform::ui::UnregisterResourceTable(&kOwnerTable);
  LanguageTable = LanguageTableRecord{};
  ShellState = ShellStateRecord{};
  programVersion = CString();
}

}  // namespace
