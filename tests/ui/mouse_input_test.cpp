// Where the mouse lands: statics without SS_NOTIFY and group boxes let it
// through to the window beneath (normally their dialog, with the point in
// the dialog's coordinates), a disabled control gives it to its parent, and
// the window the mouse reaches chooses the cursor through WM_SETCURSOR.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/resource.h"
#include "mouse_dialog.h"
#include "platform/ui/window.h"
#include "ui_test_support.h"

using platform::ui::Script;
using platform::ui::Window;
using ui_test::MouseDialog;

namespace {

TEST(MouseInput, ScriptedMouseLandsWhereThePlatformPutsIt) {
  struct Case {
    const char* what;
    void (*act)(Script&);
    int centre_of;  // control whose centre the dialog's point must be, or 0
    std::vector<std::string> want;  // "@" stands for that point
  } cases[] = {
      {"click on a text static", [](Script& s) { s.click(IDC_PLAIN); }, IDC_PLAIN, {"down @"}},
      {"double click on a picture", [](Script& s) { s.dblclick(IDC_BANNER); }, IDC_BANNER, {"dblclk @"}},
      {"right click on a text static", [](Script& s) { s.rclick(IDC_PLAIN); }, IDC_PLAIN, {"rdown @"}},
      {"move over a picture", [](Script& s) { s.move(IDC_BANNER); }, IDC_BANNER, {"move @"}},
      {"click on a notify static", [](Script& s) { s.click(IDC_LABEL); }, 0, {"clicked 1101"}},
      {"double click on a notify static", [](Script& s) { s.dblclick(IDC_LABEL); }, 0, {"dblclicked 1101"}},
      {"move over a notify static", [](Script& s) { s.move(IDC_LABEL); }, 0, {}},
      {"click on a group box reaches its button", [](Script& s) { s.click(IDC_GROUP); }, 0, {"clicked 1115"}},
      {"click on a static over a button", [](Script& s) { s.click(IDC_COVER); }, 0, {"clicked 1114"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MouseDialog dialog;
    Script s;
    s.expect_dialog(IDD_MOUSE);
    c.act(s);
    s.key("escape");
    auto run = ui_test::RunScripted(s, [&] { dialog.DoModal(); });
    ASSERT_EQ(run.failure, "");
    std::vector<std::string> want = c.want;
    // The point is the control's centre, in the dialog's client area.
    for (auto& w : want)
      if (auto at = w.find('@'); at != std::string::npos) w.replace(at, 1, dialog.centres[c.centre_of]);
    EXPECT_EQ(dialog.seen, want);
  }
}

// A click at a point of a control lands at that point (given in the
// control's client area), with Shift held when the script says so; a point
// outside the control or a malformed one fails the step.
TEST(MouseInput, ClicksAtAPointAndWithShift) {
  struct Case {
    const char* what;
    void (*act)(Script&);
    int id;
    POINT offset;  // from the control's top-left; {-1, -1}: its centre
    const char* want;
  } cases[] = {
      {"click at a point of a text static", [](Script& s) { s.click_at(IDC_PLAIN, 5, 3); }, IDC_PLAIN, {5, 3}, "down"},
      {"right click at a point, shift held", [](Script& s) { s.rclick_at(IDC_PLAIN, 1, 2, true); }, IDC_PLAIN, {1, 2},
       "rdown"},
      {"shift click at the centre", [](Script& s) { s.shift_click(IDC_PLAIN); }, IDC_PLAIN, {-1, -1}, "down"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MouseDialog dialog;
    Script s;
    s.expect_dialog(IDD_MOUSE);
    c.act(s);
    s.key("escape");
    auto run = ui_test::RunScripted(s, [&] { dialog.DoModal(); });
    ASSERT_EQ(run.failure, "");
    std::string point = dialog.centres[c.id];
    if (c.offset.x >= 0) {
      POINT o = dialog.origins[c.id];
      point = std::to_string(o.x + c.offset.x) + "," + std::to_string(o.y + c.offset.y);
    }
    bool shift = std::string(c.what).find("shift") != std::string::npos;
    EXPECT_EQ(dialog.seen, std::vector<std::string>{std::string(c.want) + " " + point + (shift ? " shift" : "")});
  }
  for (const char* text : {"click 1100 5000 5000", "click 1100 x 2", "click 1100 2", "rclick 1100 1 2 3"}) {
    SCOPED_TRACE(text);
    Script s;
    ASSERT_TRUE(s.parse(std::string("expect dialog 140\n") + text + "\n", "t").ok);
    s.steps[0].args = {"dialog", std::to_string(IDD_MOUSE)};
    s.steps[1].args[0] = std::to_string(IDC_PLAIN);
    s.key("escape");
    MouseDialog dialog;
    auto run = ui_test::RunScripted(s, [&] { dialog.DoModal(); });
    EXPECT_NE(run.failure, "");
    EXPECT_TRUE(dialog.seen.empty());
  }
}

TEST(MouseInput, HitTestPassesOverTransparentAndDisabledChildren) {
  MouseDialog dialog;
  ASSERT_TRUE(dialog.Create(IDD_MOUSE));
  ::ShowWindow(dialog.m_hWnd, SW_SHOW);
  Window* d = platform::ui::FindWindowModel(dialog.m_hWnd);
  ASSERT_NE(d, nullptr);
  struct Case {
    int over;     // control whose centre is tested
    int lands;    // control the mouse reaches, or 0 for the dialog
  } cases[] = {
      {IDC_PLAIN, 0}, {IDC_BANNER, 0}, {IDC_LABEL, IDC_LABEL}, {IDC_OFF, 0},
      {IDC_GROUP, IDC_INSIDE}, {IDC_COVER, IDC_UNDER}, {IDC_UNDER, IDC_UNDER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.over);
    RECT r;
    ::GetWindowRect(::GetDlgItem(dialog.m_hWnd, c.over), &r);
    POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    platform::ui::MouseHit hit = platform::ui::HitTestMouse(*d, centre);
    ASSERT_NE(hit.window, nullptr);
    EXPECT_EQ(hit.window->handle, c.lands ? ::GetDlgItem(dialog.m_hWnd, c.lands) : dialog.m_hWnd);
    // The point comes in the client coordinates of the window reached.
    POINT back = hit.client;
    ::ClientToScreen(hit.window->handle, &back);
    EXPECT_EQ(back.x, centre.x);
    EXPECT_EQ(back.y, centre.y);
    EXPECT_EQ(::WindowFromPoint(centre), hit.window->handle);
  }
  // A hidden control is not there at all: the mouse reaches what is beneath.
  ::ShowWindow(::GetDlgItem(dialog.m_hWnd, IDC_UNDER), SW_HIDE);
  RECT r;
  ::GetWindowRect(::GetDlgItem(dialog.m_hWnd, IDC_UNDER), &r);
  EXPECT_EQ(platform::ui::HitTestMouse(*d, {(r.left + r.right) / 2, (r.top + r.bottom) / 2}).window, d);
  dialog.DestroyWindow();
}

TEST(MouseInput, TheWindowTheMouseReachesChoosesTheCursor) {
  struct Case {
    int over;
    LPCWSTR cursor;
  } cases[] = {
      {IDC_PLAIN, IDC_HAND},   // the dialog's surface: its own choice
      {IDC_BANNER, IDC_HAND},
      {IDC_LABEL, IDC_ARROW},  // a control: its parent declines, the arrow
      {IDC_UNDER, IDC_ARROW},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.over);
    ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    MouseDialog dialog;
    auto run = ui_test::RunScripted(Script().expect_dialog(IDD_MOUSE).move(c.over).key("escape"),
                                    [&] { dialog.DoModal(); });
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, c.cursor));
  }
}

}  // namespace
