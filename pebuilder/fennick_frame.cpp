#include "pebuilder/fennick_frame.h"

#include <algorithm>

#include "pebuilder/fennick_support.h"
#include "platform/ui/controls/rich_edit_control.h"
#include "platform/ui/message_map.h"
#include "platform/ui/winuser.h"

CBitmap DisabledFace;
CBitmap FinalDisabledFace;
FaceSet FaceSetLight;
FaceSet FaceSetDark;

namespace {

constexpr COLORREF kBand = RGB(76, 76, 76);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr int kBandHeight = 60;
constexpr int kIconId = 5;
constexpr const char16_t* kTitleFace = u"Meiryo";

void LoadFace(CBitmap& holder, UINT id) {
  holder.DeleteObject();
  holder.LoadBitmap(id);
}

// Face, caption and the bottom line onto the item.
void PaintFace(CBitmap& face, HDC target, int id, const RECT& item, CWnd* page, COLORREF caption_colour) {
  CDC* dc = CDC::FromHandle(target);
  const int width = item.right - item.left, height = item.bottom - item.top;
  BITMAP info{};
  CDC memory;
  if (face.GetSafeHandle() && face.GetBitmap(&info) && memory.CreateCompatibleDC(dc)) {
    CBitmap* previous = memory.SelectObject(&face);
    dc->BitBlt(item.left, item.top, info.bmWidth, info.bmHeight, &memory, 0, 0, SRCCOPY);
    memory.SelectObject(previous);
    memory.DeleteDC();
  } else {
    // Without the picture the face is the band colour.
    dc->FillSolidRect(&item, caption_colour == kWhite ? kBand : RGB(212, 212, 212));
  }
  CString caption;
  if (CWnd* button = page ? page->GetDlgItem(id) : nullptr) button->GetWindowText(caption);
  caption = caption.Left(62);
  CFont font;
  font.CreatePointFont(90, kTitleFace, dc);
  CFont* old_font = dc->SelectObject(&font);
  dc->SetBkMode(TRANSPARENT);
  dc->SetTextColor(caption_colour);
  RECT text = item;
  dc->DrawText(caption.GetString(), -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  dc->SelectObject(old_font);
  const int line_y = (info.bmHeight > 0 ? std::min<int>(info.bmHeight, height) : height) - 2;
  dc->FillSolidRect(item.left, item.top + line_y, info.bmWidth > 0 ? info.bmWidth : width, 2, RGB(0, 0, 0));
}

}  // namespace

void LoadFaceBitmaps() {
  LoadFace(DisabledFace, 813);
  LoadFace(FinalDisabledFace, 940);
  LoadFace(FaceSetLight.slots[0], 813);
  LoadFace(FaceSetLight.slots[1], 898);
  LoadFace(FaceSetLight.slots[2], 899);
  LoadFace(FaceSetDark.slots[0], 940);
  LoadFace(FaceSetDark.slots[1], 942);
  LoadFace(FaceSetDark.slots[2], 941);
}

void PaintButtonFace(CBitmap& face, HDC dc, int id, const RECT& item, CWnd* page) {
  PaintFace(face, dc, id, item, page, RGB(0, 0, 0));
}

void PaintButtonFaceLight(int slot, HDC dc, int id, const RECT& item, CWnd* page) {
  PaintFace(FaceSetLight.slots[std::clamp(slot, 0, 2)], dc, id, item, page, kWhite);
}

void PaintButtonFaceDark(int slot, HDC dc, int id, const RECT& item, CWnd* page) {
  PaintFace(FaceSetDark.slots[std::clamp(slot, 0, 2)], dc, id, item, page, kWhite);
}

// ---- hover button ----

BEGIN_MESSAGE_MAP(CHoverBitmapButton, CButton)
  ON_WM_MOUSEMOVE()
  ON_WM_MOUSELEAVE()
END_MESSAGE_MAP()

void CHoverBitmapButton::OnMouseMove(UINT flags, CPoint point) {
  if (!hover_) {
    hover_ = true;
    Invalidate(FALSE);
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof(track);
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = m_hWnd;
    TrackMouseEvent(&track);
  }
  CButton::OnMouseMove(flags, point);
}

void CHoverBitmapButton::OnMouseLeave() {
  hover_ = false;
  Invalidate(FALSE);
}

// ---- page frame ----

BEGIN_MESSAGE_MAP(CFennickPage, CDialog)
  ON_WM_ERASEBKGND()
  ON_WM_CTLCOLOR()
  ON_WM_DRAWITEM()
  ON_WM_WINDOWPOSCHANGED()
  ON_EN_SETFOCUS(1006, &CFennickPage::OnTextFocus)
  ON_EN_SETFOCUS(1007, &CFennickPage::OnTextFocus)
  ON_EN_SETFOCUS(1008, &CFennickPage::OnTextFocus)
  ON_EN_SETFOCUS(1013, &CFennickPage::OnTextFocus)
END_MESSAGE_MAP()

CFennickPage::CFennickPage(UINT id, CWnd* parent, bool finalLook)
    : CDialog(id, parent), position_(HKEY_CURRENT_USER, u"software\\WndPos"), finalLook_(finalLook) {}

void CFennickPage::BindHoverButtons(CDataExchange* dx, std::initializer_list<int> ids) {
  size_t n = 0;
  for (int id : ids) {
    if (n >= std::size(buttons_)) break;
    if (!buttons_[n].GetSafeHwnd()) DDX_Control(dx, id, buttons_[n]);
    hoverButtons_.emplace_back(id, &buttons_[n]);
    ++n;
  }
}

CHoverBitmapButton* CFennickPage::HoverButton(int id) {
  for (auto& [button_id, button] : hoverButtons_)
    if (button_id == id) return button;
  return nullptr;
}

void CFennickPage::SetUpFrame(const CString& title) {
  HICON icon = LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(kIconId));
  SetIcon(icon, TRUE);
  SetIcon(icon, FALSE);
  SetWindowText(ProductCaption);
  subtitleFont_.CreateFont(SubtitleHeight, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, u"");
  if (CWnd* subtitle = GetDlgItem(1008)) subtitle->SetFont(&subtitleFont_);
  if (finalLook_) return;
  titleFont_.CreatePointFont(90, kTitleFace);
  LOGFONTW bold{};
  titleFont_.GetLogFont(&bold);
  bold.lfWeight = 700;
  titleFont_.DeleteObject();
  titleFont_.CreateFontIndirect(&bold);
  auto* edit = static_cast<CRichEditCtrl*>(GetDlgItem(1007));
  if (!edit) return;
  edit->SetFont(&titleFont_);
  edit->SetWindowText(title);
  // The first 50 characters in white, so the title shows inside the dark band.
  CHARFORMAT2W format{};
  format.cbSize = sizeof(format);
  format.dwMask = CFM_COLOR;
  format.crTextColor = kWhite;
  edit->SetSel(0, 50);
  edit->SetSelectionCharFormat(format);
  edit->SetSel(-1, 0);
}

BOOL CFennickPage::OnEraseBkgnd(CDC* dc) {
  CDialog::OnEraseBkgnd(dc);
  if (!dc) return TRUE;
  RECT client{};
  GetClientRect(&client);
  const int width = client.right, height = client.bottom;
  dc->FillSolidRect(0, 0, width, height, kWhite);
  if (finalLook_) {
    dc->FillSolidRect(0, height - kBandHeight, width, kBandHeight, kBand);
    dc->FillSolidRect(0, height - kBandHeight, width, 1, kWhite);
    return TRUE;
  }
  dc->FillSolidRect(0, 0, width, kBandHeight, kBand);
  dc->FillSolidRect(0, height - kBandHeight, width, kBandHeight, kBand);
  dc->FillSolidRect(0, kBandHeight, width, 2, kWhite);
  dc->FillSolidRect(0, height - kBandHeight, width, 2, kWhite);
  return TRUE;
}

HBRUSH CFennickPage::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctl_color) {
  int id = wnd ? wnd->GetDlgCtrlID() : 0;
  if (dc && std::find(transparent_.begin(), transparent_.end(), id) != transparent_.end()) {
    dc->SetBkMode(TRANSPARENT);
    return GetSysColorBrush(COLOR_WINDOW);
  }
  return CDialog::OnCtlColor(dc, wnd, ctl_color);
}

void CFennickPage::OnDrawItem(int id, LPDRAWITEMSTRUCT item) {
  if (!item || item->CtlType != ODT_BUTTON ||
      std::find(ownerDrawn_.begin(), ownerDrawn_.end(), id) == ownerDrawn_.end()) {
    CDialog::OnDrawItem(id, item);
    return;
  }
  CHoverBitmapButton* hover = HoverButton(id);
  if (item->itemState & ODS_SELECTED) {
    finalLook_ && id == 1003 ? PaintButtonFaceDark(2, item->hDC, id, item->rcItem, this)
                             : PaintButtonFaceLight(2, item->hDC, id, item->rcItem, this);
  } else if (hover && hover->hovered()) {
    PaintButtonFaceLight(1, item->hDC, id, item->rcItem, this);
  } else if (!(item->itemState & ODS_DISABLED)) {
    PaintButtonFaceLight(0, item->hDC, id, item->rcItem, this);
  } else {
    PaintButtonFace(finalLook_ ? FinalDisabledFace : DisabledFace, item->hDC, id, item->rcItem, this);
  }
}

void CFennickPage::OnWindowPosChanged(WINDOWPOS* position) {
  CDialog::OnWindowPosChanged(position);
  if (finalLook_ || !position) return;
  position_.SetRect(*position);
  position_.Save();
}

void CFennickPage::EnableControl(int id, bool enabled) {
  if (CWnd* control = GetDlgItem(id)) {
    control->EnableWindow(enabled);
    control->Invalidate(FALSE);  // an owner-drawn face changes with the state
  }
}

void CFennickPage::OnTextFocus() {
  if (CWnd* cancel = GetDlgItem(1005)) cancel->SetFocus();
}
