// The frame every Fennick page shares: the banded background, the white bold
// title, the owner-drawn buttons painted from the face bitmaps with their
// hover state, the control colours, the focus rule that keeps carets out of
// the text areas, and the window-position record.
#pragma once

#include <initializer_list>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"
#include "program_support/window_position.h"

// Face bitmaps (loaded once by LoadFaceBitmaps).
struct FaceSet {
  CBitmap slots[8];
};
extern CBitmap DisabledFace;       // 813
extern CBitmap FinalDisabledFace;  // 940
extern FaceSet FaceSetLight;       // 813, 898, 899: normal, hover, pressed
extern FaceSet FaceSetDark;        // 940, 942, 941
void LoadFaceBitmaps();

// A button that remembers whether the mouse is over it.
class CHoverBitmapButton : public CButton {
 public:
  bool hovered() const { return hover_; }
  void OnMouseMove(UINT flags, CPoint point);
  void OnMouseLeave();

 private:
  bool hover_ = false;
  DECLARE_MESSAGE_MAP()
};

// The painters of the owner-drawn buttons: the face, its caption centred
// (black on the disabled face, white on the others) and a 2-pixel black line
// along the face's bottom edge.
void PaintButtonFace(CBitmap& face, HDC dc, int id, const RECT& item, CWnd* page);
void PaintButtonFaceLight(int slot, HDC dc, int id, const RECT& item, CWnd* page);
void PaintButtonFaceDark(int slot, HDC dc, int id, const RECT& item, CWnd* page);

// The base of the agreement, kit and build pages (and, with `finalLook`, of
// the final page).
class CFennickPage : public CDialog {
 public:
  CFennickPage(UINT id, CWnd* parent, bool finalLook = false);
  BOOL OnEraseBkgnd(CDC* dc);
  HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctl_color);
  void OnDrawItem(int id, LPDRAWITEMSTRUCT item);
  void OnWindowPosChanged(WINDOWPOS* position);
  void OnTextFocus();  // the focus rule: to control 1005
  // Enables or disables a control and repaints it.
  void EnableControl(int id, bool enabled);

 protected:
  // Title 1007 in bold white at the top band, the hidden subtitle's font,
  // icon and caption.
  void SetUpFrame(const CString& title);
  // The page's buttons by id, and the ids whose background is transparent.
  void SetOwnerDrawn(std::initializer_list<int> ids) { ownerDrawn_ = ids; }
  void SetTransparent(std::initializer_list<int> ids) { transparent_ = ids; }
  CHoverBitmapButton* HoverButton(int id);
  void BindHoverButtons(CDataExchange* dx, std::initializer_list<int> ids);

  CFont titleFont_, subtitleFont_, textFont_;
  WindowPosition position_;

 private:
  bool finalLook_;
  std::vector<int> ownerDrawn_, transparent_;
  std::vector<std::pair<int, CHoverBitmapButton*>> hoverButtons_;
  CHoverBitmapButton buttons_[4];
  DECLARE_MESSAGE_MAP()
};
