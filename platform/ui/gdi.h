// Drawing: device contexts, pens, brushes, fonts, bitmaps, icons and image
// lists, drawn with QPainter onto per-window images (a window's painted
// layer) and bitmaps. Coordinates and rules follow the platform: rectangles
// exclude their right and bottom edges, LineTo leaves out the end point,
// Pie runs counter-clockwise from the start radial to the end radial.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/ui/cwnd.h"
#include "platform/ui/geometry.h"
#include "platform/ui/winuser.h"

class QImage;
class QFont;

struct HIMAGELIST__;
using HIMAGELIST = HIMAGELIST__*;

// ---- constants ----
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int HOLLOW_BRUSH = NULL_BRUSH;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int NULL_PEN = 8;
constexpr int ANSI_VAR_FONT = 12;
constexpr int SYSTEM_FONT = 13;
constexpr int DEFAULT_GUI_FONT = 17;
constexpr int PS_SOLID = 0;
constexpr int PS_DASH = 1;
constexpr int PS_DOT = 2;
constexpr int PS_NULL = 5;
constexpr int PS_INSIDEFRAME = 6;
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCPAINT = 0x00EE0086;
constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCINVERT = 0x00660046;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;
constexpr UINT DT_TOP = 0x0;
constexpr UINT DT_LEFT = 0x0;
constexpr UINT DT_CENTER = 0x1;
constexpr UINT DT_RIGHT = 0x2;
constexpr UINT DT_VCENTER = 0x4;
constexpr UINT DT_BOTTOM = 0x8;
constexpr UINT DT_WORDBREAK = 0x10;
constexpr UINT DT_SINGLELINE = 0x20;
constexpr UINT DT_EXPANDTABS = 0x40;
constexpr UINT DT_NOCLIP = 0x100;
constexpr UINT DT_CALCRECT = 0x400;
constexpr UINT DT_NOPREFIX = 0x800;
constexpr UINT DT_END_ELLIPSIS = 0x8000;
constexpr int FW_NORMAL = 400;
constexpr int FW_BOLD = 700;
constexpr UINT DI_NORMAL = 0x3;
constexpr int COLOR_MENU = 4;
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_MENUTEXT = 7;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_HIGHLIGHT = 13;
constexpr int COLOR_HIGHLIGHTTEXT = 14;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_3DFACE = COLOR_BTNFACE;
constexpr int COLOR_GRAYTEXT = 17;
constexpr int COLOR_BTNTEXT = 18;
constexpr COLORREF CLR_NONE = 0xFFFFFFFF;
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;
constexpr UINT ILC_MASK = 0x1;
constexpr UINT ILC_COLOR = 0x0;
constexpr UINT ILC_COLOR4 = 0x4;
constexpr UINT ILC_COLOR8 = 0x8;
constexpr UINT ILC_COLOR16 = 0x10;
constexpr UINT ILC_COLOR24 = 0x18;
constexpr UINT ILC_COLOR32 = 0x20;
constexpr UINT ILD_NORMAL = 0x0;
constexpr UINT ILD_TRANSPARENT = 0x1;
constexpr UINT IMAGE_BITMAP = 0;
constexpr UINT IMAGE_ICON = 1;
constexpr UINT LR_DEFAULTCOLOR = 0;
constexpr UINT LR_LOADFROMFILE = 0x10;
constexpr UINT LR_DEFAULTSIZE = 0x40;
constexpr UINT LR_SHARED = 0x8000;

struct ICONINFO {
  BOOL fIcon;              // +0x00
  DWORD xHotspot;          // +0x04
  DWORD yHotspot;          // +0x08
  HBITMAP hbmMask;         // +0x10
  HBITMAP hbmColor;        // +0x18
};                         // 0x20 bytes
static_assert(sizeof(void*) != 8 || (sizeof(ICONINFO) == 0x20 && offsetof(ICONINFO, hbmColor) == 0x18));

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};
using LPPAINTSTRUCT = PAINTSTRUCT*;

struct LOGFONTW {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  WCHAR lfFaceName[32];
};
static_assert(sizeof(LOGFONTW) == 92);

struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
};

// ---- free functions ----
HDC GetDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC dc);
HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT ps);
BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* ps);
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
HPEN CreatePen(int style, int width, COLORREF color);
HBRUSH CreateSolidBrush(COLORREF color);
HFONT CreateFontIndirectW(const LOGFONTW* font);
HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strike_out, DWORD charset, DWORD out_precision,
                  DWORD clip_precision, DWORD quality, DWORD pitch_and_family, LPCWSTR face);
HGDIOBJ GetStockObject(int index);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);
int GetObjectW(HGDIOBJ object, int size, LPVOID out);
BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int sx, int sy, DWORD rop);
BOOL StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int sx, int sy, int swidth,
                int sheight, DWORD rop);
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
BOOL Rectangle(HDC dc, int left, int top, int right, int bottom);
BOOL Ellipse(HDC dc, int left, int top, int right, int bottom);
BOOL Pie(HDC dc, int left, int top, int right, int bottom, int xr1, int yr1, int xr2, int yr2);
BOOL MoveToEx(HDC dc, int x, int y, LPPOINT old);
BOOL LineTo(HDC dc, int x, int y);
int DrawTextW(HDC dc, LPCWSTR text, int count, LPRECT rect, UINT format);
BOOL TextOutW(HDC dc, int x, int y, LPCWSTR text, int count);
BOOL GetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, SIZE* size);
int SetBkMode(HDC dc, int mode);
COLORREF SetBkColor(HDC dc, COLORREF color);
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF GetPixel(HDC dc, int x, int y);
COLORREF SetPixel(HDC dc, int x, int y, COLORREF color);
int ExcludeClipRect(HDC dc, int left, int top, int right, int bottom);
BOOL DrawIconEx(HDC dc, int x, int y, HICON icon, int width, int height, UINT step, HBRUSH brush,
                UINT flags);
BOOL DrawIcon(HDC dc, int x, int y, HICON icon);
HBITMAP LoadBitmapW(HINSTANCE instance, LPCWSTR name);
HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
// Icons: the entry of the asked size (cx x cy; 0 asks for the largest), else
// the smallest larger one scaled down, else the largest scaled up. Names are
// resource numbers, "#123" texts of them, or resource names in any case (see
// ParseResourceRef); ERROR_RESOURCE_NAME_NOT_FOUND (1814) when none matches.
// LR_SHARED gives the same handle
// for the same resource and size each time; DestroyIcon leaves it alone.
HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags);
// TRUE for an icon that is destroyed or shared (kept); FALSE for a bad handle.
BOOL DestroyIcon(HICON icon);
// The icon's colour bitmap and its mask (white where the icon is clear,
// black where it is solid); the caller deletes both. The hot spot is the
// centre. FALSE with ERROR_INVALID_PARAMETER or ERROR_INVALID_HANDLE.
BOOL GetIconInfo(HICON icon, ICONINFO* info);
DWORD GetSysColor(int index);
HBRUSH GetSysColorBrush(int index);

HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int initial, int grow);
BOOL ImageList_Destroy(HIMAGELIST list);
int ImageList_Add(HIMAGELIST list, HBITMAP image, HBITMAP mask);
int ImageList_AddIcon(HIMAGELIST list, HICON icon);
int ImageList_GetImageCount(HIMAGELIST list);
BOOL ImageList_Draw(HIMAGELIST list, int index, HDC dc, int x, int y, UINT style);

// ---- framework classes ----
class CGdiObject {
 public:
  HGDIOBJ m_hObject = nullptr;
  virtual ~CGdiObject();
  BOOL DeleteObject();
  BOOL Attach(HGDIOBJ object);
  HGDIOBJ Detach();
  HGDIOBJ GetSafeHandle() const { return m_hObject; }
  operator HGDIOBJ() const { return m_hObject; }
};

class CPen : public CGdiObject {
 public:
  CPen() = default;
  CPen(int style, int width, COLORREF color) { CreatePen(style, width, color); }
  BOOL CreatePen(int style, int width, COLORREF color);
  static CPen* FromHandle(HPEN pen);
  operator HPEN() const { return static_cast<HPEN>(m_hObject); }
};

class CBrush : public CGdiObject {
 public:
  CBrush() = default;
  explicit CBrush(COLORREF color) { CreateSolidBrush(color); }
  BOOL CreateSolidBrush(COLORREF color);
  static CBrush* FromHandle(HBRUSH brush);
  operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
};

class CFont : public CGdiObject {
 public:
  BOOL CreateFontIndirect(const LOGFONTW* font);
  BOOL CreateFont(int height, int width, int escapement, int orientation, int weight, BYTE italic,
                  BYTE underline, BYTE strike_out, BYTE charset, BYTE out_precision,
                  BYTE clip_precision, BYTE quality, BYTE pitch_and_family, LPCWSTR face);
  // Height in tenths of a point.
  BOOL CreatePointFont(int point_size_tenths, LPCWSTR face, class CDC* dc = nullptr);
  int GetLogFont(LOGFONTW* out);
  static CFont* FromHandle(HFONT font);
  operator HFONT() const { return static_cast<HFONT>(m_hObject); }
};

class CBitmap : public CGdiObject {
 public:
  BOOL LoadBitmap(UINT id);
  BOOL CreateCompatibleBitmap(class CDC* dc, int width, int height);
  int GetBitmap(BITMAP* out);
  CSize GetBitmapDimension() const;
  static CBitmap* FromHandle(HBITMAP bitmap);
  operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
};

class CDC {
 public:
  CDC() = default;
  virtual ~CDC();
  HDC m_hDC = nullptr;
  HDC GetSafeHdc() const { return m_hDC; }
  operator HDC() const { return m_hDC; }
  static CDC* FromHandle(HDC dc);

  BOOL CreateCompatibleDC(CDC* dc);
  BOOL DeleteDC();
  BOOL Attach(HDC dc);
  HDC Detach();

  CPen* SelectObject(CPen* pen);
  CBrush* SelectObject(CBrush* brush);
  CFont* SelectObject(CFont* font);
  CBitmap* SelectObject(CBitmap* bitmap);
  CGdiObject* SelectStockObject(int index);

  BOOL BitBlt(int x, int y, int width, int height, CDC* src, int sx, int sy, DWORD rop);
  BOOL StretchBlt(int x, int y, int width, int height, CDC* src, int sx, int sy, int swidth,
                  int sheight, DWORD rop);
  void FillRect(LPCRECT rect, CBrush* brush);
  void FillSolidRect(LPCRECT rect, COLORREF color);
  void FillSolidRect(int x, int y, int cx, int cy, COLORREF color);
  BOOL Rectangle(int left, int top, int right, int bottom);
  BOOL Rectangle(LPCRECT rect) { return Rectangle(rect->left, rect->top, rect->right, rect->bottom); }
  BOOL Ellipse(int left, int top, int right, int bottom);
  BOOL Ellipse(LPCRECT rect) { return Ellipse(rect->left, rect->top, rect->right, rect->bottom); }
  BOOL Pie(int left, int top, int right, int bottom, int xr1, int yr1, int xr2, int yr2);
  BOOL Pie(LPCRECT rect, POINT start, POINT end);
  CPoint MoveTo(int x, int y);
  CPoint MoveTo(POINT p) { return MoveTo(p.x, p.y); }
  BOOL LineTo(int x, int y);
  BOOL LineTo(POINT p) { return LineTo(p.x, p.y); }
  int DrawText(LPCWSTR text, int count, LPRECT rect, UINT format);
  int DrawText(const std::u16string& text, LPRECT rect, UINT format);
  BOOL TextOut(int x, int y, LPCWSTR text, int count);
  BOOL TextOut(int x, int y, const std::u16string& text);
  CSize GetTextExtent(const std::u16string& text) const;
  int SetBkMode(int mode);
  COLORREF SetBkColor(COLORREF color);
  COLORREF SetTextColor(COLORREF color);
  COLORREF GetPixel(int x, int y) const;
  COLORREF GetPixel(POINT p) const { return GetPixel(p.x, p.y); }
  COLORREF SetPixel(int x, int y, COLORREF color);
  int ExcludeClipRect(int left, int top, int right, int bottom);
  int ExcludeClipRect(LPCRECT rect) { return ExcludeClipRect(rect->left, rect->top, rect->right, rect->bottom); }
  BOOL DrawIcon(int x, int y, HICON icon);
  BOOL DrawState(CPoint, CSize, HBITMAP, UINT, HBRUSH = nullptr) { return FALSE; }

 protected:
  bool owns_dc_ = false;
};

class CPaintDC : public CDC {
 public:
  explicit CPaintDC(CWnd* wnd);
  ~CPaintDC() override;
  PAINTSTRUCT m_ps{};

 private:
  HWND hwnd_;
};

class CClientDC : public CDC {
 public:
  explicit CClientDC(CWnd* wnd);
  ~CClientDC() override;

 private:
  HWND hwnd_;
};

class CWindowDC : public CClientDC {
 public:
  using CClientDC::CClientDC;
};

class CImageList {
 public:
  HIMAGELIST m_hImageList = nullptr;
  ~CImageList();
  BOOL Create(int cx, int cy, UINT flags, int initial, int grow);
  BOOL DeleteImageList();
  int Add(CBitmap* bitmap, CBitmap* mask);
  int Add(CBitmap* bitmap, COLORREF mask_color);
  int Add(HICON icon);
  int GetImageCount() const;
  BOOL Draw(CDC* dc, int index, POINT point, UINT style);
  BOOL Attach(HIMAGELIST list);
  HIMAGELIST Detach();
  HIMAGELIST GetSafeHandle() const { return m_hImageList; }
  operator HIMAGELIST() const { return m_hImageList; }
  static CImageList* FromHandle(HIMAGELIST list);
};

namespace platform::ui {

struct Window;

// A font handle for a face (mapped through the face table), height in the
// platform's sense (negative: character height in pixels), weight, italic.
HFONT MakeFont(const std::u16string& face, int height, int weight, bool italic);
// The Qt font behind a font handle (the default dialog font for null).
QFont QtFontFor(HFONT font);
// The pixels of a bitmap, icon or window layer; null for a bad handle.
const QImage* BitmapImage(HBITMAP bitmap);
const QImage* IconImage(HICON icon);
HBITMAP MakeBitmap(const QImage& image);
// A new bitmap of the picture held in `size` bytes at `data` (BMP, PNG, JPEG,
// GIF: any format the host's picture reader knows), at the picture's own
// size; null when the bytes hold no picture it reads. The caller deletes it.
HBITMAP DecodePicture(const void* data, size_t size);
HICON MakeIcon(const QImage& image);
// The window's painted layer, made or resized to its client area.
QImage& WindowLayer(Window& window);
// The image a DC draws on (null for a bad handle).
QImage* DcImage(HDC dc);
// The system image list (drive, folder and file icons) shared by the process.
HIMAGELIST SystemImageList();
// Image of an image-list entry, or null.
const QImage* ImageListImage(HIMAGELIST list, int index);
int ImageListCount(HIMAGELIST list);
uint32_t ToQRgb(COLORREF color);
// Makes the Qt application object fonts need (offscreen without a display),
// unless one exists (a view makes its own first).
void EnsureGuiApplication();

}  // namespace platform::ui
