// Escape in a modal dialog: the key reaches the dialog that runs the loop
// (its IDCANCEL ends the loop), never a control of the disabled window
// beneath it, however the dialog was opened.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "fixtures/resource.h"
#include "platform/ui/dialog.h"
#include "platform/ui/message_map.h"
#include "ui_test_support.h"

using platform::ui::Script;

namespace {

// A box with only an OK button: Escape still sends IDCANCEL, and the
// base OnCancel ends the box with it.
class AboutBox : public CDialog {
 public:
  AboutBox() : CDialog(IDD_ABOUT) {}
  bool focus_on_ok = false;  // where the keyboard was when Escape came
  void OnCancel() override {
    focus_on_ok = ::GetFocus() != nullptr && ::GetFocus() == ::GetDlgItem(m_hWnd, IDOK);
    CDialog::OnCancel();
  }
};

// The main window of the run: its Next button (the default, focused when
// the window opens) and its Help > About command both open the box.
class Owner : public CDialog {
 public:
  Owner() : CDialog(IDD_MAIN) {}
  std::vector<INT_PTR> box_results;
  std::vector<bool> box_focus_on_ok;
  std::vector<bool> focus_back_on_next;
  int cancels = 0;
  void OnCancel() override {
    ++cancels;
    CDialog::OnCancel();
  }

 protected:
  void RunBox() {
    AboutBox box;
    box_results.push_back(box.DoModal());
    box_focus_on_ok.push_back(box.focus_on_ok);
    focus_back_on_next.push_back(::GetFocus() == ::GetDlgItem(m_hWnd, IDC_NEXT));
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(Owner, CDialog)
  ON_BN_CLICKED(IDC_NEXT, &Owner::RunBox)
  ON_COMMAND(ID_HELP_ABOUT, &Owner::RunBox)
END_MESSAGE_MAP()

TEST(ModalEscape, EscapeEndsTheBoxOnItsOwn) {
  AboutBox box;
  INT_PTR result = 0;
  auto run = ui_test::RunScripted(Script().expect_dialog(IDD_ABOUT).key("escape"), [&] { result = box.DoModal(); });
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(result, IDCANCEL);
}

TEST(ModalEscape, EscapeEndsTheInnerBoxAndLeavesItsOwnerOpen) {
  struct Case {
    const char* how;
    std::function<void(Script&)> open;
  } cases[] = {
      // The owner's focused button stays focused while the menu opens the box.
      {"from the menu", [](Script& s) { s.menu(ID_HELP_ABOUT); }},
      {"from a button", [](Script& s) { s.click(IDC_NEXT); }},
      {"from the Enter key", [](Script& s) { s.key("enter"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    Owner owner;
    Script s;
    s.expect_dialog(IDD_MAIN);
    c.open(s);
    s.expect_dialog(IDD_ABOUT).key("escape").expect_dialog(IDD_MAIN).expect_enabled(IDC_NEXT);
    // A second box, then Escape on the owner itself ends the run.
    c.open(s);
    s.expect_dialog(IDD_ABOUT).key("escape").expect_dialog(IDD_MAIN).key("escape");
    INT_PTR result = 0;
    auto run = ui_test::RunScripted(s, [&] { result = owner.DoModal(); }, 5000);
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(owner.box_results, (std::vector<INT_PTR>{IDCANCEL, IDCANCEL}));
    EXPECT_EQ(owner.cancels, 1);  // only the last Escape was the owner's
    // The keyboard is in the box while it is up, and back on the owner's
    // button when it has gone.
    EXPECT_EQ(owner.box_focus_on_ok, (std::vector<bool>{true, true}));
    EXPECT_EQ(owner.focus_back_on_next, (std::vector<bool>{true, true}));
    EXPECT_EQ(result, IDCANCEL);
  }
}

}  // namespace
