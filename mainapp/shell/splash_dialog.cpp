#include "mainapp/shell/splash_dialog.h"

CSplashDlg::CSplashDlg(CWnd* parent) : CCustomDialog(kBackgroundBitmap, kTemplateId, parent) {}

CSplashDlg::~CSplashDlg() = default;

void CSplashDlg::DoDataExchange(CDataExchange* dx) { CCustomDialog::DoDataExchange(dx); }

// The splash handles no messages of its own: an empty map over the base's.
const ::platform::ui::MessageMap* CSplashDlg::GetMessageMap() const { return GetThisMessageMap(); }
const ::platform::ui::MessageMap* CSplashDlg::GetThisMessageMap() {
  static const ::platform::ui::MessageMap map{&CCustomDialog::GetThisMessageMap, {}};
  return &map;
}

BOOL CSplashDlg::OnInitDialog() {
  CCustomDialog::OnInitDialog();
  RECT window{};
  GetWindowRect(&window);
  SIZE size = bitmap_size();
  ::SetWindowPos(m_hWnd, HWND_TOPMOST, window.left, window.top,
                 size.cx + ::GetSystemMetrics(SM_CXDLGFRAME),
                 size.cy + ::GetSystemMetrics(SM_CYDLGFRAME), SWP_SHOWWINDOW);
  UpdateData(FALSE);
  Invalidate(TRUE);
  return TRUE;
}
