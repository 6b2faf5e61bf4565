#include "mainapp/shell/custom_dialog.h"

#include "mainapp/shell/bitmap_dialog.h"

CCustomDialog::CCustomDialog(UINT bitmap_id, UINT template_id, CWnd* parent)
    : CDialog(template_id, parent), bitmap_id_(bitmap_id) {
  if (bitmap_.LoadBitmap(bitmap_id)) {
    BITMAP info{};
    bitmap_.GetBitmap(&info);
    size_ = SIZE{info.bmWidth, info.bmHeight};
  }
  transparent_brush_ = static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}

CCustomDialog::~CCustomDialog() { bitmap_.DeleteObject(); }

void CCustomDialog::DoDataExchange(CDataExchange* dx) { CDialog::DoDataExchange(dx); }

BEGIN_MESSAGE_MAP(CCustomDialog, CDialog)
  ON_WM_CTLCOLOR()
  ON_WM_DESTROY()
  ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

BOOL CCustomDialog::OnEraseBkgnd(CDC* dc) {
  // Without a usable bitmap (it did not load, or was deleted with the window)
  // there is nothing to step by: the plain background instead.
  if (!dc || !bitmap_.GetSafeHandle() || size_.cx <= 0 || size_.cy <= 0)
    return CDialog::OnEraseBkgnd(dc);
  RECT client{};
  GetClientRect(&client);
  SIZE area{client.right - client.left, client.bottom - client.top};
  CDC memory;
  if (!memory.CreateCompatibleDC(dc)) return CDialog::OnEraseBkgnd(dc);
  CBitmap* previous = memory.SelectObject(&bitmap_);
  for (const auto& at : shell::TilePositions(size_, area))
    dc->BitBlt(at.x, at.y, size_.cx, size_.cy, &memory, 0, 0, SRCCOPY);
  memory.SelectObject(previous);
  memory.DeleteDC();
  return TRUE;
}

HBRUSH CCustomDialog::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctl_color) {
  constexpr UINT kEdit = 1, kListBox = 2;
  if (ctl_color == kEdit || ctl_color == kListBox) return CDialog::OnCtlColor(dc, wnd, ctl_color);
  if (dc) dc->SetBkMode(TRANSPARENT);
  return transparent_brush_;
}

void CCustomDialog::OnDestroy() {
  bitmap_.DeleteObject();
  CDialog::OnDestroy();
}
