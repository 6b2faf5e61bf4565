#include "platform/ui/gdi.h"

#include <QPainter>
#include <memory>

#include "platform/ui/gdi_tables.h"
#include "platform/ui/render.h"

using namespace platform::ui;
using namespace platform::ui::gdi_detail;

// ---- framework classes ----

namespace {
template <class T>
T* wrapper_for(HGDIOBJ h) {
  if (!h) return nullptr;
  auto& t = tables();
  auto it = t.wrappers.find(h);
  if (it != t.wrappers.end()) return static_cast<T*>(it->second.get());
  auto w = std::make_unique<T>();
  w->m_hObject = h;
  T* raw = w.get();
  t.wrappers[h] = std::move(w);
  return raw;
}
}  // namespace

CGdiObject::~CGdiObject() {
  auto& t = tables();
  auto it = t.wrappers.find(m_hObject);
  bool is_wrapper = it != t.wrappers.end() && it->second.get() == this;
  if (!is_wrapper && m_hObject) ::DeleteObject(m_hObject);
}
BOOL CGdiObject::DeleteObject() {
  if (!m_hObject) return FALSE;
  BOOL ok = ::DeleteObject(m_hObject);
  m_hObject = nullptr;
  return ok;
}
BOOL CGdiObject::Attach(HGDIOBJ object) {
  if (!object) return FALSE;
  m_hObject = object;
  return TRUE;
}
HGDIOBJ CGdiObject::Detach() {
  HGDIOBJ h = m_hObject;
  m_hObject = nullptr;
  return h;
}

BOOL CPen::CreatePen(int style, int width, COLORREF color) {
  return Attach(::CreatePen(style, width, color));
}
CPen* CPen::FromHandle(HPEN pen) { return wrapper_for<CPen>(pen); }
BOOL CBrush::CreateSolidBrush(COLORREF color) { return Attach(::CreateSolidBrush(color)); }
CBrush* CBrush::FromHandle(HBRUSH brush) { return wrapper_for<CBrush>(brush); }
BOOL CFont::CreateFontIndirect(const LOGFONTW* font) { return Attach(::CreateFontIndirectW(font)); }
BOOL CFont::CreateFont(int height, int width, int escapement, int orientation, int weight,
                       BYTE italic, BYTE underline, BYTE strike_out, BYTE charset,
                       BYTE out_precision, BYTE clip_precision, BYTE quality,
                       BYTE pitch_and_family, LPCWSTR face) {
  return Attach(::CreateFontW(height, width, escapement, orientation, weight, italic, underline,
                              strike_out, charset, out_precision, clip_precision, quality,
                              pitch_and_family, face));
}
BOOL CFont::CreatePointFont(int tenths, LPCWSTR face, CDC*) {
  return Attach(MakeFont(face ? face : u"", -MulDiv(tenths, 96, 720), FW_NORMAL, false));
}
int CFont::GetLogFont(LOGFONTW* out) { return GetObjectW(m_hObject, sizeof(LOGFONTW), out); }
CFont* CFont::FromHandle(HFONT font) { return wrapper_for<CFont>(font); }
BOOL CBitmap::LoadBitmap(UINT id) { return Attach(::LoadBitmapW(nullptr, MAKEINTRESOURCEW(id))); }
BOOL CBitmap::CreateCompatibleBitmap(CDC* dc, int width, int height) {
  return Attach(::CreateCompatibleBitmap(dc ? dc->m_hDC : nullptr, width, height));
}
int CBitmap::GetBitmap(BITMAP* out) { return GetObjectW(m_hObject, sizeof(BITMAP), out); }
CSize CBitmap::GetBitmapDimension() const {
  const QImage* img = BitmapImage(static_cast<HBITMAP>(m_hObject));
  return img ? CSize(img->width(), img->height()) : CSize();
}
CBitmap* CBitmap::FromHandle(HBITMAP bitmap) { return wrapper_for<CBitmap>(bitmap); }

CDC::~CDC() {
  if (owns_dc_ && m_hDC) ::DeleteDC(m_hDC);
}
CDC* CDC::FromHandle(HDC h) {
  if (!h || !find_dc(h)) return nullptr;
  auto& t = tables();
  auto it = t.dc_wrappers.find(h);
  if (it != t.dc_wrappers.end()) return it->second.get();
  auto w = std::make_unique<CDC>();
  w->m_hDC = h;
  CDC* raw = w.get();
  t.dc_wrappers[h] = std::move(w);
  return raw;
}
BOOL CDC::CreateCompatibleDC(CDC* dc) {
  m_hDC = ::CreateCompatibleDC(dc ? dc->m_hDC : nullptr);
  owns_dc_ = true;
  return m_hDC != nullptr;
}
BOOL CDC::DeleteDC() {
  if (!m_hDC) return FALSE;
  BOOL ok = ::DeleteDC(m_hDC);
  m_hDC = nullptr;
  owns_dc_ = false;
  return ok;
}
BOOL CDC::Attach(HDC dc) {
  m_hDC = dc;
  return dc != nullptr;
}
HDC CDC::Detach() {
  HDC h = m_hDC;
  m_hDC = nullptr;
  owns_dc_ = false;
  return h;
}
CPen* CDC::SelectObject(CPen* pen) {
  return CPen::FromHandle(static_cast<HPEN>(::SelectObject(m_hDC, pen ? pen->m_hObject : nullptr)));
}
CBrush* CDC::SelectObject(CBrush* brush) {
  return CBrush::FromHandle(static_cast<HBRUSH>(::SelectObject(m_hDC, brush ? brush->m_hObject : nullptr)));
}
CFont* CDC::SelectObject(CFont* font) {
  return CFont::FromHandle(static_cast<HFONT>(::SelectObject(m_hDC, font ? font->m_hObject : nullptr)));
}
CBitmap* CDC::SelectObject(CBitmap* bitmap) {
  return CBitmap::FromHandle(static_cast<HBITMAP>(::SelectObject(m_hDC, bitmap ? bitmap->m_hObject : nullptr)));
}
CGdiObject* CDC::SelectStockObject(int index) {
  return wrapper_for<CGdiObject>(::SelectObject(m_hDC, ::GetStockObject(index)));
}
BOOL CDC::BitBlt(int x, int y, int width, int height, CDC* src, int sx, int sy, DWORD rop) {
  return ::BitBlt(m_hDC, x, y, width, height, src ? src->m_hDC : nullptr, sx, sy, rop);
}
BOOL CDC::StretchBlt(int x, int y, int width, int height, CDC* src, int sx, int sy, int swidth,
                     int sheight, DWORD rop) {
  return ::StretchBlt(m_hDC, x, y, width, height, src ? src->m_hDC : nullptr, sx, sy, swidth,
                      sheight, rop);
}
void CDC::FillRect(LPCRECT rect, CBrush* brush) {
  ::FillRect(m_hDC, rect, brush ? static_cast<HBRUSH>(brush->m_hObject) : nullptr);
}
void CDC::FillSolidRect(LPCRECT rect, COLORREF color) {
  FillSolidRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, color);
}
BOOL CDC::Rectangle(int l, int t, int r, int b) { return ::Rectangle(m_hDC, l, t, r, b); }
BOOL CDC::Ellipse(int l, int t, int r, int b) { return ::Ellipse(m_hDC, l, t, r, b); }
BOOL CDC::Pie(int l, int t, int r, int b, int x1, int y1, int x2, int y2) {
  return ::Pie(m_hDC, l, t, r, b, x1, y1, x2, y2);
}
BOOL CDC::Pie(LPCRECT rect, POINT start, POINT end) {
  return ::Pie(m_hDC, rect->left, rect->top, rect->right, rect->bottom, start.x, start.y, end.x, end.y);
}
CPoint CDC::MoveTo(int x, int y) {
  POINT old{0, 0};
  ::MoveToEx(m_hDC, x, y, &old);
  return CPoint(old);
}
BOOL CDC::LineTo(int x, int y) { return ::LineTo(m_hDC, x, y); }
int CDC::DrawText(LPCWSTR text, int count, LPRECT rect, UINT format) {
  return ::DrawTextW(m_hDC, text, count, rect, format);
}
int CDC::DrawText(const std::u16string& text, LPRECT rect, UINT format) {
  return ::DrawTextW(m_hDC, text.c_str(), static_cast<int>(text.size()), rect, format);
}
BOOL CDC::TextOut(int x, int y, LPCWSTR text, int count) { return ::TextOutW(m_hDC, x, y, text, count); }
BOOL CDC::TextOut(int x, int y, const std::u16string& text) {
  return ::TextOutW(m_hDC, x, y, text.c_str(), static_cast<int>(text.size()));
}
CSize CDC::GetTextExtent(const std::u16string& text) const {
  SIZE s{0, 0};
  ::GetTextExtentPoint32W(m_hDC, text.c_str(), static_cast<int>(text.size()), &s);
  return CSize(s);
}
int CDC::SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
COLORREF CDC::SetBkColor(COLORREF color) { return ::SetBkColor(m_hDC, color); }
COLORREF CDC::SetTextColor(COLORREF color) { return ::SetTextColor(m_hDC, color); }
COLORREF CDC::GetPixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }
COLORREF CDC::SetPixel(int x, int y, COLORREF color) { return ::SetPixel(m_hDC, x, y, color); }
int CDC::ExcludeClipRect(int l, int t, int r, int b) { return ::ExcludeClipRect(m_hDC, l, t, r, b); }
BOOL CDC::DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }

CPaintDC::CPaintDC(CWnd* wnd) : hwnd_(wnd ? wnd->m_hWnd : nullptr) {
  m_hDC = ::BeginPaint(hwnd_, &m_ps);
}
CPaintDC::~CPaintDC() {
  if (m_hDC) {
    tables().dc_wrappers.erase(m_hDC);
    ::EndPaint(hwnd_, &m_ps);
  }
  m_hDC = nullptr;
}

CClientDC::CClientDC(CWnd* wnd) : hwnd_(wnd ? wnd->m_hWnd : nullptr) { m_hDC = ::GetDC(hwnd_); }
CClientDC::~CClientDC() {
  if (m_hDC) {
    tables().dc_wrappers.erase(m_hDC);
    ::ReleaseDC(hwnd_, m_hDC);
  }
  m_hDC = nullptr;
}

CImageList::~CImageList() { DeleteImageList(); }
BOOL CImageList::Create(int cx, int cy, UINT flags, int initial, int grow) {
  m_hImageList = ImageList_Create(cx, cy, flags, initial, grow);
  return m_hImageList != nullptr;
}
BOOL CImageList::DeleteImageList() {
  if (!m_hImageList) return FALSE;
  BOOL ok = ImageList_Destroy(m_hImageList);
  m_hImageList = nullptr;
  return ok;
}
int CImageList::Add(CBitmap* bitmap, CBitmap* mask) {
  return ImageList_Add(m_hImageList, bitmap ? static_cast<HBITMAP>(bitmap->m_hObject) : nullptr,
                       mask ? static_cast<HBITMAP>(mask->m_hObject) : nullptr);
}
int CImageList::Add(CBitmap* bitmap, COLORREF) { return Add(bitmap, static_cast<CBitmap*>(nullptr)); }
int CImageList::Add(HICON icon) { return ImageList_AddIcon(m_hImageList, icon); }
int CImageList::GetImageCount() const { return ImageList_GetImageCount(m_hImageList); }
BOOL CImageList::Draw(CDC* dc, int index, POINT point, UINT style) {
  return ImageList_Draw(m_hImageList, index, dc ? dc->m_hDC : nullptr, point.x, point.y, style);
}
BOOL CImageList::Attach(HIMAGELIST list) {
  m_hImageList = list;
  return list != nullptr;
}
HIMAGELIST CImageList::Detach() {
  HIMAGELIST h = m_hImageList;
  m_hImageList = nullptr;
  return h;
}
CImageList* CImageList::FromHandle(HIMAGELIST list) {
  if (!list) return nullptr;
  auto& t = tables();
  auto it = t.list_wrappers.find(list);
  if (it != t.list_wrappers.end()) return it->second.get();
  auto w = std::make_unique<CImageList>();
  w->m_hImageList = list;
  CImageList* raw = w.get();
  t.list_wrappers[list] = std::move(w);
  return raw;
}
