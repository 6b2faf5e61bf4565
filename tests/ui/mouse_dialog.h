// The dialog of the mouse tests (IDD_MOUSE): records where the mouse lands.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "fixtures/resource.h"
#include "platform/ui/dialog.h"

namespace ui_test {

// The centre of a control in its dialog's client coordinates, as text.
inline std::string CentreInDialog(HWND dialog, int id) {
  RECT r;
  ::GetWindowRect(::GetDlgItem(dialog, id), &r);
  POINT c{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  ::ScreenToClient(dialog, &c);
  return std::to_string(c.x) + "," + std::to_string(c.y);
}

// Records the mouse messages the dialog itself gets (with their point) and
// the commands its controls send. The cursor over the dialog's own surface
// is the hand; over a control it leaves the choice to the control.
class MouseDialog : public CDialog {
 public:
  MouseDialog() : CDialog(IDD_MOUSE) {}
  std::vector<std::string> seen;
  std::map<int, std::string> centres;  // of each control, in client coordinates
  std::map<int, POINT> origins;        // top-left of each control's client area, in client coordinates

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    for (int id : {IDC_PLAIN, IDC_BANNER}) {
      centres[id] = CentreInDialog(m_hWnd, id);
      POINT o{0, 0};
      ::ClientToScreen(::GetDlgItem(m_hWnd, id), &o);
      ::ScreenToClient(m_hWnd, &o);
      origins[id] = o;
    }
    return TRUE;
  }

  LRESULT WindowProc(UINT message, WPARAM w, LPARAM l) override {
    auto at = [&] {
      return std::to_string(LOWORD(l)) + "," + std::to_string(HIWORD(l)) + ((w & MK_SHIFT) ? " shift" : "");
    };
    switch (message) {
      case WM_LBUTTONDOWN: seen.push_back("down " + at()); break;
      case WM_LBUTTONDBLCLK: seen.push_back("dblclk " + at()); break;
      case WM_RBUTTONDOWN: seen.push_back("rdown " + at()); break;
      case WM_MOUSEMOVE: seen.push_back("move " + at()); break;
      case WM_COMMAND:
        if (LOWORD(w) == IDCANCEL) break;  // the Escape that ends each run
        if (HIWORD(w) == STN_CLICKED || HIWORD(w) == BN_CLICKED)
          seen.push_back("clicked " + std::to_string(LOWORD(w)));
        else if (HIWORD(w) == STN_DBLCLK)
          seen.push_back("dblclicked " + std::to_string(LOWORD(w)));
        return 0;
      case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(w) == m_hWnd) {
          ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
          return TRUE;
        }
        return FALSE;
    }
    return CDialog::WindowProc(message, w, l);
  }
};

}  // namespace ui_test
