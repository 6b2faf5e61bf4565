// CStatic, CButton, CEdit, CRichEditCtrl, CProgressCtrl and CSliderCtrl.
#include "platform/ui/controls/control_wrappers.h"

#include <algorithm>

#include "platform/core/error.h"
#include "platform/ui/message_queue.h"

using namespace platform::ui;

HBITMAP CStatic::SetBitmap(HBITMAP b) { return reinterpret_cast<HBITMAP>(SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(b))); }
HBITMAP CStatic::GetBitmap() const { auto* m = ModelOf<StaticModel>(m_hWnd); return m ? m->bitmap : nullptr; }
HICON CStatic::SetIcon(HICON i) { return reinterpret_cast<HICON>(SendMessage(STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(i))); }
HICON CStatic::GetIcon() const { auto* m = ModelOf<StaticModel>(m_hWnd); return m ? m->icon : nullptr; }

int CButton::GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
void CButton::SetCheck(int check) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
UINT CButton::GetState() const { return static_cast<UINT>(GetCheck()); }
UINT CButton::GetButtonStyle() const { return GetStyle() & 0xFFFF; }
void CButton::SetButtonStyle(UINT style, BOOL) { ModifyStyle(0xFFFF, style & 0xFFFF); }
HBITMAP CButton::SetBitmap(HBITMAP b) { return reinterpret_cast<HBITMAP>(SendMessage(BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(b))); }
HBITMAP CButton::GetBitmap() const { auto* m = ModelOf<ButtonModel>(m_hWnd); return m ? m->bitmap : nullptr; }
HICON CButton::SetIcon(HICON i) { return reinterpret_cast<HICON>(SendMessage(BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(i))); }

void CEdit::SetSel(int start, int end, BOOL) { SendMessage(EM_SETSEL, static_cast<WPARAM>(start), end); }
void CEdit::GetSel(int& start, int& end) const {
  DWORD a = 0, b = 0;
  SendMessage(EM_GETSEL, reinterpret_cast<WPARAM>(&a), reinterpret_cast<LPARAM>(&b));
  start = static_cast<int>(a);
  end = static_cast<int>(b);
}
void CEdit::ReplaceSel(LPCWSTR text, BOOL) { SendMessage(EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(text)); }
void CEdit::SetLimitText(UINT max) { SendMessage(EM_LIMITTEXT, max); }
BOOL CEdit::SetReadOnly(BOOL ro) { return static_cast<BOOL>(SendMessage(EM_SETREADONLY, static_cast<WPARAM>(ro))); }
BOOL CEdit::GetModify() const { auto* m = ModelOf<EditModel>(m_hWnd); return m && m->modified; }
void CEdit::SetModify(BOOL modified) { if (auto* m = ModelOf<EditModel>(m_hWnd)) m->modified = modified != FALSE; }

void CRichEditCtrl::SetSel(long start, long end) {
  CHARRANGE r{static_cast<LONG>(start), static_cast<LONG>(end)};
  SendMessage(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&r));
}
void CRichEditCtrl::GetSel(long& start, long& end) const {
  CHARRANGE r{0, 0};
  SendMessage(EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&r));
  start = r.cpMin;
  end = r.cpMax;
}
void CRichEditCtrl::ReplaceSel(LPCWSTR text, BOOL) { SendMessage(EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(text)); }
BOOL CRichEditCtrl::SetSelectionCharFormat(CHARFORMAT2W& f) { return static_cast<BOOL>(SendMessage(EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&f))); }
BOOL CRichEditCtrl::SetDefaultCharFormat(CHARFORMAT2W& f) { return static_cast<BOOL>(SendMessage(EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&f))); }
DWORD CRichEditCtrl::GetSelectionCharFormat(CHARFORMAT2W& f) const { return static_cast<DWORD>(SendMessage(EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&f))); }
COLORREF CRichEditCtrl::SetBackgroundColor(BOOL sys, COLORREF c) { return static_cast<COLORREF>(SendMessage(EM_SETBKGNDCOLOR, static_cast<WPARAM>(sys), static_cast<LPARAM>(c))); }
BOOL CRichEditCtrl::SetReadOnly(BOOL ro) { return static_cast<BOOL>(SendMessage(EM_SETREADONLY, static_cast<WPARAM>(ro))); }

void CProgressCtrl::SetRange32(int low, int high) { SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(low), high); }
void CProgressCtrl::GetRange(int& low, int& high) const {
  auto* m = ModelOf<ProgressModel>(m_hWnd);
  low = m ? m->low : 0;
  high = m ? m->high : 0;
}
int CProgressCtrl::SetPos(int pos) { return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(pos))); }
int CProgressCtrl::GetPos() const { return static_cast<int>(SendMessage(PBM_GETPOS)); }
int CProgressCtrl::OffsetPos(int delta) { return static_cast<int>(SendMessage(PBM_DELTAPOS, static_cast<WPARAM>(delta))); }
int CProgressCtrl::SetStep(int step) { return static_cast<int>(SendMessage(PBM_SETSTEP, static_cast<WPARAM>(step))); }
int CProgressCtrl::StepIt() { return static_cast<int>(SendMessage(PBM_STEPIT)); }

void CSliderCtrl::SetRange(int low, int high, BOOL) {
  if (auto* m = ModelOf<SliderModel>(m_hWnd)) {
    m->low = low;
    m->high = high;
    m->pos = std::clamp(m->pos, low, std::max(low, high));
  }
}
void CSliderCtrl::GetRange(int& low, int& high) const {
  auto* m = ModelOf<SliderModel>(m_hWnd);
  low = m ? m->low : 0;
  high = m ? m->high : 0;
}
void CSliderCtrl::SetRangeMin(int low, BOOL r) { int l, h; GetRange(l, h); SetRange(low, h, r); }
void CSliderCtrl::SetRangeMax(int high, BOOL r) { int l, h; GetRange(l, h); SetRange(l, high, r); }
int CSliderCtrl::GetRangeMin() const { int l, h; GetRange(l, h); return l; }
int CSliderCtrl::GetRangeMax() const { int l, h; GetRange(l, h); return h; }
void CSliderCtrl::SetPos(int pos) { SendMessage(TBM_SETPOS, TRUE, pos); }
int CSliderCtrl::GetPos() const { return static_cast<int>(SendMessage(TBM_GETPOS)); }
