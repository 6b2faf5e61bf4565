// The GDI stand-in's own records of pens, brushes, fonts, bitmaps, device
// contexts and image lists, shared by the calls (gdi.cpp) and the framework
// classes over them (gdi_wrappers.cpp). Nothing outside the two reads them.
#pragma once

#include <QImage>
#include <QRegion>
#include <QColor>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/ui/gdi.h"
#include "platform/ui/window.h"

namespace platform::ui::gdi_detail {

enum class GdiKind { Pen, Brush, Font, Bitmap, Icon };

struct GdiObject {
  GdiKind kind;
  bool stock = false;
  // Pen
  int pen_style = PS_SOLID;
  int pen_width = 1;
  // Pen and brush
  COLORREF color = 0;
  bool null = false;
  // Font
  std::u16string face;
  int height = 0;
  int weight = FW_NORMAL;
  bool italic = false;
  bool underline = false;
  // Bitmap and icon
  QImage image;
  bool shared = false;  // icons loaded with LR_SHARED: kept for the process
};

struct DeviceContext {
  Window* window = nullptr;      // window DCs
  HWND hwnd = nullptr;
  bool screen = false;           // GetDC(NULL): a snapshot of the screen
  QImage screen_image;
  GdiObject* bitmap = nullptr;   // memory DCs: the selected bitmap
  GdiObject* pen = nullptr;
  GdiObject* brush = nullptr;
  GdiObject* font = nullptr;
  COLORREF text_color = RGB(0, 0, 0);
  COLORREF bk_color = RGB(255, 255, 255);
  int bk_mode = OPAQUE;
  POINT pos{0, 0};
  QRegion excluded;
  bool painting = false;  // made by BeginPaint
};

struct ImageList {
  int cx = 16, cy = 16;
  UINT flags = 0;
  std::vector<QImage> images;
};

struct Tables {
  std::mutex mutex;
  std::unordered_map<void*, std::unique_ptr<GdiObject>> objects;
  std::unordered_map<void*, std::unique_ptr<DeviceContext>> dcs;
  std::unordered_map<void*, std::unique_ptr<ImageList>> image_lists;
  std::map<int, GdiObject*> stock;
  GdiObject default_bitmap;  // what a fresh memory DC holds: 1x1 monochrome
  std::unordered_map<void*, std::unique_ptr<CGdiObject>> wrappers;
  std::unordered_map<void*, std::unique_ptr<CDC>> dc_wrappers;
  std::unordered_map<void*, std::unique_ptr<CImageList>> list_wrappers;
};

// The process's tables (made on first use, never freed).
Tables& tables();
// The device context behind a handle; null for one that is not live.
DeviceContext* find_dc(HDC h);
QColor qcolor(COLORREF c);

}  // namespace platform::ui::gdi_detail
