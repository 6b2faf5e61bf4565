#include "mainapp/shell/transparent_static.h"

CTransparentStatic2::~CTransparentStatic2() { snapshot_.DeleteObject(); }

BEGIN_MESSAGE_MAP(CTransparentStatic2, CStatic)
  ON_MESSAGE(WM_SETTEXT, &CTransparentStatic2::OnSetText)
  ON_WM_ERASEBKGND()
  ON_WM_PAINT()
END_MESSAGE_MAP()

BOOL CTransparentStatic2::OnEraseBkgnd(CDC* dc) {
  if (!dc) return TRUE;
  CWnd* parent = GetParent();
  if (!snapshot_.GetSafeHandle()) {
    // First erase: keep the parent's pixels under the control; draw nothing.
    if (!parent) return TRUE;
    RECT area{};
    GetWindowRect(&area);
    parent->ScreenToClient(&area);
    int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return TRUE;
    CDC* parent_dc = parent->GetDC();
    if (!parent_dc) return TRUE;
    CDC memory;
    if (memory.CreateCompatibleDC(parent_dc) &&
        snapshot_.CreateCompatibleBitmap(parent_dc, width, height)) {
      CBitmap* previous = memory.SelectObject(&snapshot_);
      memory.BitBlt(0, 0, width, height, parent_dc, area.left, area.top, SRCCOPY);
      memory.SelectObject(previous);
    }
    memory.DeleteDC();
    parent->ReleaseDC(parent_dc);
    return TRUE;
  }
  BITMAP info{};
  snapshot_.GetBitmap(&info);
  CDC memory;
  if (!memory.CreateCompatibleDC(dc)) return TRUE;
  CBitmap* previous = memory.SelectObject(&snapshot_);
  dc->BitBlt(0, 0, info.bmWidth, info.bmHeight, &memory, 0, 0, SRCCOPY);
  memory.SelectObject(previous);
  memory.DeleteDC();
  painted_over_ = true;
  return TRUE;
}

void CTransparentStatic2::OnPaint() {
  // The erase runs inside the paint handshake. Once the snapshot has been
  // painted onto the control, the text is drawn over it here; before that the
  // control's own drawing shows the text over the parent.
  CPaintDC dc(this);
  if (!painted_over_) return;
  CWnd* parent = GetParent();
  HBRUSH brush = nullptr;
  if (parent)
    brush = reinterpret_cast<HBRUSH>(parent->SendMessage(
        WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.m_hDC), reinterpret_cast<LPARAM>(m_hWnd)));
  (void)brush;
  dc.SetBkMode(TRANSPARENT);
  HFONT font = reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
  HGDIOBJ old_font = font ? ::SelectObject(dc.m_hDC, font) : nullptr;
  RECT client{};
  GetClientRect(&client);
  DWORD align = GetStyle() & 0x3;  // SS_LEFT, SS_CENTER, SS_RIGHT
  UINT format = DT_WORDBREAK | (align == 1 ? DT_CENTER : align == 2 ? DT_RIGHT : DT_LEFT);
  CString text = GetWindowText();
  std::u16string value(text.GetString(), static_cast<size_t>(text.GetLength()));
  dc.DrawText(value, &client, format);
  if (old_font) ::SelectObject(dc.m_hDC, old_font);
}

HBRUSH CTransparentStatic2::CtlColor(CDC* dc, UINT) {
  if (dc) dc->SetBkMode(TRANSPARENT);
  return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}

LRESULT CTransparentStatic2::OnSetText(WPARAM w, LPARAM l) {
  LRESULT result = Default();
  RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  (void)w;
  (void)l;
  return result;
}
