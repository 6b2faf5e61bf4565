#include "mainapp/shell/bitmap_dialog.h"

#include "mainapp/shell/transparent_static.h"

namespace shell {

std::vector<BlitPlan> TilePositions(SIZE bitmap, SIZE client) {
  std::vector<BlitPlan> out;
  // A bitmap without a size would never step forward: no tiles at all.
  if (bitmap.cx <= 0 || bitmap.cy <= 0 || client.cx <= 0 || client.cy <= 0) return out;
  for (int y = 0; y < client.cy; y += bitmap.cy)
    for (int x = 0; x < client.cx; x += bitmap.cx) out.push_back({x, y});
  return out;
}

BlitPlan CentrePosition(SIZE bitmap, SIZE client) {
  BlitPlan p{0, 0};
  if (bitmap.cx < client.cx) p.x = (client.cx - bitmap.cx) / 2;
  if (bitmap.cy < client.cy) p.y = (client.cy - bitmap.cy) / 2;
  return p;
}

}  // namespace shell

CBDialog::CBDialog(UINT template_id, CWnd* parent) : CDialog(template_id, parent) {}

CBDialog::~CBDialog() { background_.DeleteObject(); }

void CBDialog::SetBackgroundMode(int mode) {
  if (mode == kTile || mode == kCentre || mode == kStretch) mode_ = mode;
}

bool CBDialog::SetBackgroundBitmap(UINT id) {
  background_.DeleteObject();
  return background_.LoadBitmap(id) != FALSE;
}

BEGIN_MESSAGE_MAP(CBDialog, CDialog)
  ON_WM_ERASEBKGND()
  ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

BOOL CBDialog::OnEraseBkgnd(CDC* dc) {
  // The plain dialog background first, so areas the bitmap leaves are clean.
  CDialog::OnEraseBkgnd(dc);
  if (!background_.GetSafeHandle() || !dc) return TRUE;
  RECT client{};
  GetClientRect(&client);
  SIZE area{client.right - client.left, client.bottom - client.top};
  CDC memory;
  if (!memory.CreateCompatibleDC(dc)) return TRUE;
  CBitmap* previous = memory.SelectObject(&background_);
  BITMAP info{};
  background_.GetBitmap(&info);
  SIZE size{info.bmWidth, info.bmHeight};
  switch (mode_) {
    case kTile:
      // Each block is the client's size taken from the bitmap's corner; later
      // blocks cover what earlier ones drew beyond the bitmap's edge.
      for (const auto& at : shell::TilePositions(size, area))
        dc->BitBlt(at.x, at.y, area.cx, area.cy, &memory, 0, 0, SRCCOPY);
      break;
    case kCentre: {
      auto at = shell::CentrePosition(size, area);
      dc->BitBlt(at.x, at.y, area.cx, area.cy, &memory, 0, 0, SRCCOPY);
      break;
    }
    case kStretch:
      dc->StretchBlt(0, 0, area.cx, area.cy, &memory, 0, 0, size.cx, size.cy, SRCCOPY);
      break;
  }
  memory.SelectObject(previous);
  memory.DeleteDC();
  return TRUE;
}

HBRUSH CBDialog::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctl_color) {
  // The framework reflects a control's colour request back to the control's
  // own object first; the platform does not, so the base does it here.
  if (wnd)
    if (auto* child = dynamic_cast<CTransparentStatic2*>(CWnd::FromHandlePermanent(wnd->m_hWnd)))
      return child->CtlColor(dc, ctl_color);
  return CDialog::OnCtlColor(dc, wnd, ctl_color);
}
