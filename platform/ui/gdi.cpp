#include "platform/ui/gdi.h"
#include "platform/ui/font_faces.h"


#include <QFont>
#include <QGuiApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QTransform>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/ui/gdi_tables.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/render.h"
#include "platform/ui/resources.h"
#include "platform/ui/window.h"

namespace platform::ui {

namespace gdi_detail {

Tables& tables() {
  static Tables* t = [] {
    auto* t = new Tables;
    t->default_bitmap.kind = GdiKind::Bitmap;
    t->default_bitmap.stock = true;
    t->default_bitmap.image = QImage(1, 1, QImage::Format_RGB32);
    t->default_bitmap.image.fill(Qt::black);
    return t;
  }();
  return *t;
}

void* add_object(std::unique_ptr<GdiObject> obj) {
  void* h = obj.get();
  tables().objects[h] = std::move(obj);
  return h;
}

GdiObject* find_object(HGDIOBJ h) {
  auto& t = tables();
  auto it = t.objects.find(h);
  if (it != t.objects.end()) return it->second.get();
  if (h == &t.default_bitmap) return &t.default_bitmap;
  return nullptr;
}

GdiObject* stock_object(int index) {
  auto& t = tables();
  auto it = t.stock.find(index);
  if (it != t.stock.end()) return it->second;
  auto obj = std::make_unique<GdiObject>();
  obj->stock = true;
  switch (index) {
    case WHITE_BRUSH: obj->kind = GdiKind::Brush; obj->color = RGB(255, 255, 255); break;
    case LTGRAY_BRUSH: obj->kind = GdiKind::Brush; obj->color = RGB(192, 192, 192); break;
    case GRAY_BRUSH: obj->kind = GdiKind::Brush; obj->color = RGB(128, 128, 128); break;
    case DKGRAY_BRUSH: obj->kind = GdiKind::Brush; obj->color = RGB(64, 64, 64); break;
    case BLACK_BRUSH: obj->kind = GdiKind::Brush; obj->color = RGB(0, 0, 0); break;
    case NULL_BRUSH: obj->kind = GdiKind::Brush; obj->null = true; break;
    case WHITE_PEN: obj->kind = GdiKind::Pen; obj->color = RGB(255, 255, 255); break;
    case BLACK_PEN: obj->kind = GdiKind::Pen; obj->color = RGB(0, 0, 0); break;
    case NULL_PEN: obj->kind = GdiKind::Pen; obj->null = true; obj->pen_style = PS_NULL; break;
    case ANSI_VAR_FONT: case SYSTEM_FONT: case DEFAULT_GUI_FONT:
      obj->kind = GdiKind::Font;
      obj->face = u"MS Shell Dlg";
      obj->height = -11;
      break;
    default:
      return nullptr;
  }
  GdiObject* raw = obj.get();
  t.objects[raw] = std::move(obj);
  t.stock[index] = raw;
  return raw;
}

DeviceContext* find_dc(HDC h) {
  auto& t = tables();
  auto it = t.dcs.find(h);
  return it == t.dcs.end() ? nullptr : it->second.get();
}

HDC add_dc(std::unique_ptr<DeviceContext> dc) {
  dc->pen = stock_object(BLACK_PEN);
  dc->brush = stock_object(WHITE_BRUSH);
  dc->font = stock_object(SYSTEM_FONT);
  HDC h = reinterpret_cast<HDC>(dc.get());
  tables().dcs[h] = std::move(dc);
  return h;
}

QColor qcolor(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }
COLORREF colorref(QRgb c) { return RGB(qRed(c), qGreen(c), qBlue(c)); }

QImage* target(DeviceContext& dc) {
  if (dc.window) {
    if (!FindWindowModel(dc.hwnd)) return nullptr;
    return &WindowLayer(*dc.window);
  }
  if (dc.screen) return &dc.screen_image;
  GdiObject* b = dc.bitmap ? dc.bitmap : &tables().default_bitmap;
  return &b->image;
}

void mark_painted(DeviceContext& dc) {
  if (dc.window && FindWindowModel(dc.hwnd)) {
    dc.window->painted = true;
    NotifyWindowRepainted(*dc.window);
  }
}

// A painter on the DC's image with its exclusions applied; null when the DC
// has nowhere to draw.
struct DcPainter {
  QImage* image = nullptr;
  std::unique_ptr<QPainter> painter;
  DcPainter(DeviceContext& dc) {
    image = target(dc);
    if (!image || image->isNull()) return;
    painter = std::make_unique<QPainter>(image);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setRenderHint(QPainter::TextAntialiasing, false);
    if (!dc.excluded.isEmpty()) {
      QRegion all(0, 0, image->width(), image->height());
      painter->setClipRegion(all.subtracted(dc.excluded));
    }
  }
  explicit operator bool() const { return painter != nullptr; }
  QPainter* operator->() { return painter.get(); }
};

QPen qpen(const GdiObject* pen) {
  if (!pen || pen->null || pen->pen_style == PS_NULL) return QPen(Qt::NoPen);
  QPen p(qcolor(pen->color));
  p.setWidth(std::max(pen->pen_width, 1));
  p.setJoinStyle(Qt::MiterJoin);
  p.setCapStyle(Qt::FlatCap);
  if (pen->pen_style == PS_DASH) p.setStyle(Qt::DashLine);
  if (pen->pen_style == PS_DOT) p.setStyle(Qt::DotLine);
  return p;
}

QBrush qbrush(const GdiObject* brush) {
  if (!brush || brush->null) return QBrush(Qt::NoBrush);
  return QBrush(qcolor(brush->color));
}

// The outline of a shape drawn with the current pen: the platform centres a
// pen on the shape's edge, inside the right/bottom-exclusive box.
QRectF shape_rect(int l, int t, int r, int b, const GdiObject* pen) {
  double w = (pen && !pen->null && pen->pen_style != PS_NULL) ? std::max(pen->pen_width, 1) : 0;
  double inset = w > 0 ? w / 2.0 : 0;
  return QRectF(l + inset, t + inset, (r - l) - 2 * inset, (b - t) - 2 * inset);
}

QImage decode_bitmap(const unsigned char* data, size_t size) {
  QImage image;
  image.loadFromData(data, static_cast<int>(size), "BMP");
  if (!image.isNull()) image = image.convertToFormat(QImage::Format_RGB32);
  return image;
}

// Icon files: the entry of the wanted size (0 x 0: the largest), else the
// smallest larger one, else the largest. PNG entries load as they are; DIB entries
// get a file header so the BMP reader takes them (the height in the entry
// counts the colour and mask halves).
QImage decode_icon(const unsigned char* data, size_t size, int want_w = 0, int want_h = 0) {
  if (size < 6) return {};
  auto u16 = [&](size_t o) { return static_cast<unsigned>(data[o] | (data[o + 1] << 8)); };
  auto u32 = [&](size_t o) {
    return static_cast<uint32_t>(data[o] | (data[o + 1] << 8) | (data[o + 2] << 16) |
                                 (static_cast<uint32_t>(data[o + 3]) << 24));
  };
  if (u16(0) != 0 || u16(2) != 1) return {};
  unsigned count = u16(4);
  if (count == 0 || 6 + 16ull * count > size) return {};
  size_t best = 0, exact = 0, larger = 0;
  unsigned best_area = 0, larger_area = ~0u;
  for (unsigned i = 0; i < count; ++i) {
    size_t e = 6 + 16ull * i;
    unsigned w = data[e] ? data[e] : 256, h = data[e + 1] ? data[e + 1] : 256;
    if (w * h >= best_area) {
      best_area = w * h;
      best = e;
    }
    if (want_w <= 0 || want_h <= 0) continue;
    const unsigned ww = static_cast<unsigned>(want_w), wh = static_cast<unsigned>(want_h);
    if (w == ww && h == wh && !exact) exact = e;
    if (w >= ww && h >= wh && w * h < larger_area) {
      larger_area = w * h;
      larger = e;
    }
  }
  if (exact) best = exact;
  else if (larger) best = larger;
  uint32_t length = u32(best + 8), offset = u32(best + 12);
  if (offset > size || length > size - offset || length < 40) return {};
  const unsigned char* img = data + offset;
  QImage image;
  if (length >= 8 && img[0] == 0x89 && img[1] == 'P') {
    image.loadFromData(img, static_cast<int>(length), "PNG");
    return image.convertToFormat(QImage::Format_ARGB32);
  }
  std::vector<unsigned char> bmp(size_t{14} + static_cast<size_t>(length));
  std::memcpy(bmp.data() + 14, img, length);
  // Halve the height: the stored height covers the colour bitmap and the mask.
  int32_t height;
  std::memcpy(&height, &bmp[14 + 8], 4);
  height /= 2;
  std::memcpy(&bmp[14 + 8], &height, 4);
  uint32_t header_size = u32(offset);
  uint16_t bpp = static_cast<uint16_t>(img[14] | (img[15] << 8));
  uint32_t colors = u32(offset + 32);
  if (colors == 0 && bpp <= 8) colors = 1u << bpp;
  uint32_t pixel_offset = 14 + header_size + colors * 4;
  bmp[0] = 'B';
  bmp[1] = 'M';
  uint32_t file_size = static_cast<uint32_t>(bmp.size());
  std::memcpy(&bmp[2], &file_size, 4);
  std::memcpy(&bmp[10], &pixel_offset, 4);
  image.loadFromData(bmp.data(), static_cast<int>(bmp.size()), "BMP");
  image = image.convertToFormat(QImage::Format_ARGB32);
  if (image.isNull() || bpp >= 32) return image;
  // Below 32 bits the AND mask (1 = transparent) follows the colour rows.
  uint64_t w = static_cast<uint64_t>(image.width()), h = static_cast<uint64_t>(image.height());
  uint64_t colour_row = ((w * bpp + 31) / 32) * 4;
  uint64_t mask_row = ((w + 31) / 32) * 4;
  uint64_t mask_at = static_cast<uint64_t>(header_size) + static_cast<uint64_t>(colors) * 4 + colour_row * h;
  if (mask_at > length || mask_row * h > length - mask_at) return image;  // no mask: opaque
  for (uint64_t y = 0; y < h; ++y) {
    const unsigned char* row = img + mask_at + (h - 1 - y) * mask_row;  // bottom row first
    for (uint64_t x = 0; x < w; ++x)
      if (row[x / 8] & (0x80 >> (x % 8))) image.setPixel(static_cast<int>(x), static_cast<int>(y), 0);
  }
  return image;
}

void blit(DeviceContext& dst, int x, int y, int w, int h, DeviceContext* src, int sx, int sy,
          int sw, int sh, DWORD rop) {
  DcPainter p(dst);
  if (!p) return;
  if (rop == BLACKNESS || rop == WHITENESS) {
    p->fillRect(QRect(x, y, w, h), rop == BLACKNESS ? Qt::black : Qt::white);
    mark_painted(dst);
    return;
  }
  QImage* s = src ? target(*src) : nullptr;
  if (!s) return;
  QImage piece = s->copy(sx, sy, sw, sh).convertToFormat(QImage::Format_RGB32);
  // A window without WS_CLIPCHILDREN reads back what shows in its client
  // area, its children's pixels included (a transparent label's snapshot of
  // the banner beneath it). Transparent children hold no pixels of their own.
  if (src->window && !(src->window->style & WS_CLIPCHILDREN) && !src->window->children.empty()) {
    QPainter over(&piece);
    DrawChildWindows(*src->window, over, QPoint(-sx, -sy), true);
  }
  switch (rop) {
    case SRCAND: p->setCompositionMode(QPainter::RasterOp_SourceAndDestination); break;
    case SRCPAINT: p->setCompositionMode(QPainter::RasterOp_SourceOrDestination); break;
    case SRCINVERT: p->setCompositionMode(QPainter::RasterOp_SourceXorDestination); break;
    default: p->setCompositionMode(QPainter::CompositionMode_Source); break;
  }
  if (sw == w && sh == h)
    p->drawImage(QPoint(x, y), piece);
  else
    p->drawImage(QRect(x, y, w, h), piece.scaled(std::abs(w), std::abs(h)));
  mark_painted(dst);
}

}  // namespace gdi_detail

using namespace gdi_detail;

void EnsureGuiApplication() {
  if (QCoreApplication::instance()) return;
  // Fonts need an application object. Without a display the offscreen
  // platform draws the same pixels.
  static int argc = 1;
  static char name[] = "drum";
  static char* argv[] = {name, nullptr};
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  (void)app;
}

uint32_t ToQRgb(COLORREF c) { return qRgb(GetRValue(c), GetGValue(c), GetBValue(c)); }

HFONT MakeFont(const std::u16string& face, int height, int weight, bool italic) {
  auto obj = std::make_unique<GdiObject>();
  obj->kind = GdiKind::Font;
  obj->face = face;
  obj->height = height;
  obj->weight = weight;
  obj->italic = italic;
  return static_cast<HFONT>(add_object(std::move(obj)));
}

QStringList QtFamiliesFor(const std::u16string& face) {
  return {QString::fromStdString(FontFamilyFor(face)), QStringLiteral("IPAPGothic")};
}

QFont QtFontFor(HFONT font) {
  EnsureGuiApplication();
  GdiObject* f = find_object(font);
  if (!f || f->kind != GdiKind::Font) f = stock_object(DEFAULT_GUI_FONT);
  QFont q(QString::fromStdString(FontFamilyFor(f->face)));
  q.setFamilies(QtFamiliesFor(f->face));
  // Negative heights are character heights; positive ones cell heights,
  // which take about one fifth more than the characters.
  int px = f->height < 0 ? -f->height : f->height > 0 ? std::max(1, f->height * 4 / 5) : 11;
  q.setPixelSize(std::max(px, 1));
  q.setWeight(f->weight >= 600 ? QFont::Bold : QFont::Normal);
  q.setItalic(f->italic);
  q.setUnderline(f->underline);
  q.setStyleStrategy(QFont::NoAntialias);
  return q;
}

const QImage* BitmapImage(HBITMAP bitmap) {
  GdiObject* b = find_object(bitmap);
  return b && b->kind == GdiKind::Bitmap ? &b->image : nullptr;
}

const QImage* IconImage(HICON icon) {
  GdiObject* b = find_object(icon);
  return b && b->kind == GdiKind::Icon ? &b->image : nullptr;
}

HBITMAP MakeBitmap(const QImage& image) {
  auto obj = std::make_unique<GdiObject>();
  obj->kind = GdiKind::Bitmap;
  obj->image = image.convertToFormat(QImage::Format_RGB32);
  return static_cast<HBITMAP>(add_object(std::move(obj)));
}

HBITMAP DecodePicture(const void* data, size_t size) {
  if (!data || size == 0 || size > static_cast<size_t>(std::numeric_limits<int>::max())) return nullptr;
  // Readers of some formats are plug-ins, found through the application object.
  EnsureGuiApplication();
  QImage image;
  if (!image.loadFromData(static_cast<const uchar*>(data), static_cast<int>(size)) || image.isNull()) return nullptr;
  return MakeBitmap(image);
}

HICON MakeIcon(const QImage& image) {
  auto obj = std::make_unique<GdiObject>();
  obj->kind = GdiKind::Icon;
  obj->image = image.convertToFormat(QImage::Format_ARGB32);
  return static_cast<HICON>(add_object(std::move(obj)));
}

QImage& WindowLayer(Window& w) {
  RECT c = w.client_rect();
  int width = std::max<int>(c.right, 1), height = std::max<int>(c.bottom, 1);
  if (!w.layer) {
    w.layer = std::make_unique<QImage>(width, height, QImage::Format_RGB32);
    w.layer->fill(qcolor(GetSysColor(COLOR_BTNFACE)));
  } else if (w.layer->width() != width || w.layer->height() != height) {
    QImage resized(width, height, QImage::Format_RGB32);
    resized.fill(qcolor(GetSysColor(COLOR_BTNFACE)));
    QPainter p(&resized);
    p.drawImage(0, 0, *w.layer);
    p.end();
    *w.layer = resized;
  }
  return *w.layer;
}

QImage* DcImage(HDC h) {
  DeviceContext* dc = find_dc(h);
  return dc ? target(*dc) : nullptr;
}

const QImage* ImageListImage(HIMAGELIST list, int index) {
  auto& t = tables();
  auto it = t.image_lists.find(list);
  if (it == t.image_lists.end() || index < 0 ||
      static_cast<size_t>(index) >= it->second->images.size())
    return nullptr;
  return &it->second->images[static_cast<size_t>(index)];
}

int ImageListCount(HIMAGELIST list) { return ImageList_GetImageCount(list); }

HIMAGELIST SystemImageList() {
  static HIMAGELIST list = [] {
    HIMAGELIST l = ImageList_Create(16, 16, ILC_COLOR32, 4, 4);
    // 0 drive, 1 closed folder, 2 open folder, 3 file: plain shapes, enough
    // to tell the rows apart in pictures.
    const QColor colours[] = {QColor(128, 128, 128), QColor(230, 190, 60), QColor(240, 210, 90),
                              QColor(255, 255, 255)};
    for (const QColor& c : colours) {
      QImage img(16, 16, QImage::Format_ARGB32);
      img.fill(Qt::transparent);
      QPainter p(&img);
      p.setPen(Qt::black);
      p.setBrush(c);
      p.drawRect(1, 3, 13, 10);
      p.end();
      ImageList_AddIcon(l, MakeIcon(img));
    }
    return l;
  }();
  return list;
}

}  // namespace platform::ui

using namespace platform::ui;

// ---- device contexts ----

DWORD GetSysColor(int index) {
  switch (index) {
    case COLOR_WINDOW: return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT: case COLOR_BTNTEXT: case COLOR_MENUTEXT: return RGB(0, 0, 0);
    case COLOR_HIGHLIGHT: return RGB(0, 120, 215);
    case COLOR_HIGHLIGHTTEXT: return RGB(255, 255, 255);
    case COLOR_BTNFACE: case COLOR_MENU: return RGB(240, 240, 240);
    case COLOR_GRAYTEXT: return RGB(109, 109, 109);
  }
  return RGB(0, 0, 0);
}

HBRUSH GetSysColorBrush(int index) {
  static std::map<int, HBRUSH> brushes;
  auto it = brushes.find(index);
  if (it != brushes.end()) return it->second;
  HBRUSH b = CreateSolidBrush(GetSysColor(index));
  find_object(b)->stock = true;
  brushes[index] = b;
  return b;
}

HDC GetDC(HWND hwnd) {
  auto dc = std::make_unique<DeviceContext>();
  if (!hwnd) {
    dc->screen = true;
    dc->screen_image = RenderScreen();
    return add_dc(std::move(dc));
  }
  Window* w = FindWindowModel(hwnd);
  if (!w) return nullptr;
  dc->window = w;
  dc->hwnd = hwnd;
  return add_dc(std::move(dc));
}

int ReleaseDC(HWND, HDC h) {
  auto& t = tables();
  auto it = t.dcs.find(h);
  if (it == t.dcs.end()) return 0;
  t.dcs.erase(it);
  t.dc_wrappers.erase(h);
  return 1;
}

HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT ps) {
  Window* w = FindWindowModel(hwnd);
  if (!w) return nullptr;
  HDC h = GetDC(hwnd);
  find_dc(h)->painting = true;
  bool erase = w->erase;
  w->invalid = false;
  w->erase = false;
  BOOL erased = TRUE;
  if (erase) erased = static_cast<BOOL>(SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(h), 0));
  if (ps) {
    *ps = PAINTSTRUCT{};
    ps->hdc = h;
    ps->fErase = erase && !erased;
    if (FindWindowModel(hwnd)) ps->rcPaint = w->client_rect();
  }
  return h;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* ps) {
  if (ps) ReleaseDC(hwnd, ps->hdc);
  return TRUE;
}

HDC CreateCompatibleDC(HDC) { return add_dc(std::make_unique<DeviceContext>()); }

BOOL DeleteDC(HDC h) { return ReleaseDC(nullptr, h) ? TRUE : FALSE; }

HBITMAP CreateCompatibleBitmap(HDC, int width, int height) {
  if (width <= 0 || height <= 0 || width > 16384 || height > 16384) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::black);
  return MakeBitmap(image);
}

HPEN CreatePen(int style, int width, COLORREF color) {
  auto obj = std::make_unique<GdiObject>();
  obj->kind = GdiKind::Pen;
  obj->pen_style = style;
  obj->pen_width = width;
  obj->color = color;
  obj->null = style == PS_NULL;
  return static_cast<HPEN>(add_object(std::move(obj)));
}

HBRUSH CreateSolidBrush(COLORREF color) {
  auto obj = std::make_unique<GdiObject>();
  obj->kind = GdiKind::Brush;
  obj->color = color;
  return static_cast<HBRUSH>(add_object(std::move(obj)));
}

HFONT CreateFontIndirectW(const LOGFONTW* lf) {
  if (!lf) return nullptr;
  std::u16string face;
  for (int i = 0; i < 32 && lf->lfFaceName[i]; ++i) face += lf->lfFaceName[i];
  HFONT f = MakeFont(face, lf->lfHeight, lf->lfWeight ? lf->lfWeight : FW_NORMAL, lf->lfItalic != 0);
  find_object(f)->underline = lf->lfUnderline != 0;
  return f;
}

HFONT CreateFontW(int height, int, int, int, int weight, DWORD italic, DWORD underline, DWORD,
                  DWORD, DWORD, DWORD, DWORD, DWORD, LPCWSTR face) {
  HFONT f = MakeFont(face ? face : u"", height, weight ? weight : FW_NORMAL, italic != 0);
  find_object(f)->underline = underline != 0;
  return f;
}

HGDIOBJ GetStockObject(int index) { return stock_object(index); }

HGDIOBJ SelectObject(HDC h, HGDIOBJ object) {
  DeviceContext* dc = find_dc(h);
  GdiObject* obj = find_object(object);
  if (!dc || !obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  GdiObject* old = nullptr;
  switch (obj->kind) {
    case GdiKind::Pen: old = dc->pen; dc->pen = obj; break;
    case GdiKind::Brush: old = dc->brush; dc->brush = obj; break;
    case GdiKind::Font: old = dc->font; dc->font = obj; break;
    case GdiKind::Bitmap:
      if (dc->window || dc->screen) return nullptr;  // only memory DCs take bitmaps
      old = dc->bitmap ? dc->bitmap : &tables().default_bitmap;
      dc->bitmap = obj == &tables().default_bitmap ? nullptr : obj;
      break;
    case GdiKind::Icon: return nullptr;
  }
  return old;
}

BOOL DeleteObject(HGDIOBJ object) {
  auto& t = tables();
  auto it = t.objects.find(object);
  if (it == t.objects.end() || it->second->stock) return FALSE;
  // An object still selected into a DC stays until it is deselected; the
  // platform refuses the delete then.
  for (auto& [h, dc] : t.dcs)
    if (dc->pen == it->second.get() || dc->brush == it->second.get() ||
        dc->font == it->second.get() || dc->bitmap == it->second.get())
      return FALSE;
  t.objects.erase(it);
  t.wrappers.erase(object);
  return TRUE;
}

int GetObjectW(HGDIOBJ object, int size, LPVOID out) {
  GdiObject* obj = find_object(object);
  if (!obj) return 0;
  if (obj->kind == GdiKind::Bitmap && out && size >= static_cast<int>(sizeof(BITMAP))) {
    BITMAP b{};
    b.bmWidth = obj->image.width();
    b.bmHeight = obj->image.height();
    b.bmWidthBytes = obj->image.width() * 4;
    b.bmPlanes = 1;
    b.bmBitsPixel = 32;
    *static_cast<BITMAP*>(out) = b;
    return sizeof(BITMAP);
  }
  if (obj->kind == GdiKind::Font && out && size >= static_cast<int>(sizeof(LOGFONTW))) {
    LOGFONTW lf{};
    lf.lfHeight = obj->height;
    lf.lfWeight = obj->weight;
    lf.lfItalic = obj->italic;
    for (size_t i = 0; i < obj->face.size() && i < 31; ++i) lf.lfFaceName[i] = obj->face[i];
    *static_cast<LOGFONTW*>(out) = lf;
    return sizeof(LOGFONTW);
  }
  return 0;
}

BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int sx, int sy, DWORD rop) {
  DeviceContext* d = find_dc(dst);
  DeviceContext* s = src ? find_dc(src) : nullptr;
  if (!d || (src && !s)) return FALSE;
  blit(*d, x, y, width, height, s, sx, sy, width, height, rop);
  return TRUE;
}

BOOL StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int sx, int sy, int swidth,
                int sheight, DWORD rop) {
  DeviceContext* d = find_dc(dst);
  DeviceContext* s = find_dc(src);
  if (!d || !s) return FALSE;
  blit(*d, x, y, width, height, s, sx, sy, swidth, sheight, rop);
  return TRUE;
}

int FillRect(HDC h, const RECT* r, HBRUSH brush) {
  DeviceContext* dc = find_dc(h);
  GdiObject* b = find_object(brush);
  if (!dc || !r || !b) return 0;
  if (b->null) return 1;
  DcPainter p(*dc);
  if (!p) return 0;
  p->fillRect(QRect(r->left, r->top, r->right - r->left, r->bottom - r->top), qcolor(b->color));
  mark_painted(*dc);
  return 1;
}

BOOL Rectangle(HDC h, int l, int t, int r, int b) {
  DeviceContext* dc = find_dc(h);
  if (!dc) return FALSE;
  DcPainter p(*dc);
  if (!p) return FALSE;
  if (dc->brush && !dc->brush->null) p->fillRect(QRect(l, t, r - l, b - t), qcolor(dc->brush->color));
  QPen pen = qpen(dc->pen);
  if (pen.style() != Qt::NoPen) {
    int w = std::max(dc->pen->pen_width, 1);
    QColor c = qcolor(dc->pen->color);
    // The frame lies inside the box, `w` pixels thick.
    p->fillRect(QRect(l, t, r - l, std::min(w, b - t)), c);
    p->fillRect(QRect(l, b - w, r - l, std::min(w, b - t)), c);
    p->fillRect(QRect(l, t, std::min(w, r - l), b - t), c);
    p->fillRect(QRect(r - w, t, std::min(w, r - l), b - t), c);
  }
  mark_painted(*dc);
  return TRUE;
}

BOOL Ellipse(HDC h, int l, int t, int r, int b) {
  DeviceContext* dc = find_dc(h);
  if (!dc) return FALSE;
  DcPainter p(*dc);
  if (!p) return FALSE;
  p->setPen(qpen(dc->pen));
  p->setBrush(qbrush(dc->brush));
  p->drawEllipse(shape_rect(l, t, r, b, dc->pen));
  mark_painted(*dc);
  return TRUE;
}

BOOL Pie(HDC h, int l, int t, int r, int b, int xr1, int yr1, int xr2, int yr2) {
  DeviceContext* dc = find_dc(h);
  if (!dc) return FALSE;
  DcPainter p(*dc);
  if (!p) return FALSE;
  double cx = (l + r) / 2.0, cy = (t + b) / 2.0;
  // Angles as seen on the screen (y grows downwards), counter-clockwise positive.
  double a1 = std::atan2(-(yr1 - cy), xr1 - cx) * 180.0 / M_PI;
  double a2 = std::atan2(-(yr2 - cy), xr2 - cx) * 180.0 / M_PI;
  double span = a2 - a1;
  while (span <= 0) span += 360.0;  // equal radials draw the whole ellipse
  QRectF box = shape_rect(l, t, r, b, dc->pen);
  QPainterPath path;
  path.moveTo(box.center());
  path.arcTo(box, a1, span);
  path.closeSubpath();
  p->setPen(qpen(dc->pen));
  p->setBrush(qbrush(dc->brush));
  p->drawPath(path);
  mark_painted(*dc);
  return TRUE;
}

BOOL MoveToEx(HDC h, int x, int y, LPPOINT old) {
  DeviceContext* dc = find_dc(h);
  if (!dc) return FALSE;
  if (old) *old = dc->pos;
  dc->pos = {x, y};
  return TRUE;
}

BOOL LineTo(HDC h, int x, int y) {
  DeviceContext* dc = find_dc(h);
  if (!dc) return FALSE;
  {
    DcPainter p(*dc);
    if (!p) return FALSE;
    QPen pen = qpen(dc->pen);
    if (pen.style() != Qt::NoPen) {
      p->setPen(pen);
      if (dc->pos.x == x && dc->pos.y == y) {
        // nothing: the end point is left out
      } else if (pen.width() <= 1) {
        // One-pixel lines are stepped out pixel by pixel (Bresenham), the
        // end point left out, as the platform draws them.
        QPen dot = pen;
        dot.setWidth(0);
        p->setPen(dot);
        std::vector<QPoint> points;
        int x0 = dc->pos.x, y0 = dc->pos.y;
        int dx = std::abs(x - x0), dy = -std::abs(y - y0);
        int sx = x0 < x ? 1 : -1, sy = y0 < y ? 1 : -1;
        int err = dx + dy;
        while (!(x0 == x && y0 == y) && points.size() < 65536) {
          points.emplace_back(x0, y0);
          int e2 = 2 * err;
          if (e2 >= dy) { err += dy; x0 += sx; }
          if (e2 <= dx) { err += dx; y0 += sy; }
        }
        p->drawPoints(points.data(), static_cast<int>(points.size()));
      } else {
        p->drawLine(QPoint(dc->pos.x, dc->pos.y), QPoint(x, y));
      }
    }
  }
  dc->pos = {x, y};
  mark_painted(*dc);
  return TRUE;
}

namespace {
int qt_flags(UINT format) {
  int f = 0;
  if (format & DT_CENTER) f |= Qt::AlignHCenter;
  else if (format & DT_RIGHT) f |= Qt::AlignRight;
  else f |= Qt::AlignLeft;
  if (format & DT_SINGLELINE) {
    if (format & DT_VCENTER) f |= Qt::AlignVCenter;
    else if (format & DT_BOTTOM) f |= Qt::AlignBottom;
    else f |= Qt::AlignTop;
  } else {
    f |= Qt::AlignTop;
    if (format & DT_WORDBREAK) f |= Qt::TextWordWrap;
  }
  if (!(format & DT_NOPREFIX)) f |= Qt::TextShowMnemonic;
  return f;
}
}  // namespace

int DrawTextW(HDC h, LPCWSTR text, int count, LPRECT r, UINT format) {
  DeviceContext* dc = find_dc(h);
  if (!dc || !text || !r) return 0;
  std::u16string s = count < 0 ? std::u16string(text) : std::u16string(text, static_cast<size_t>(count));
  QString q = QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
  if (format & DT_SINGLELINE) q.replace('\n', ' ');
  QFont font = QtFontFor(static_cast<HFONT>(static_cast<void*>(dc->font)));
  QFontMetrics metrics(font);
  QRect box(r->left, r->top, r->right - r->left, r->bottom - r->top);
  int flags = qt_flags(format);
  QRect needed = metrics.boundingRect(box, flags, q);
  if (format & DT_CALCRECT) {
    r->right = r->left + needed.width();
    r->bottom = r->top + needed.height();
    return needed.height();
  }
  if (format & DT_END_ELLIPSIS) q = metrics.elidedText(q, Qt::ElideRight, box.width());
  DcPainter p(*dc);
  if (!p) return 0;
  p->setFont(font);
  if (dc->bk_mode == OPAQUE) p->fillRect(needed.intersected(box), qcolor(dc->bk_color));
  p->setPen(qcolor(dc->text_color));
  if (format & DT_NOCLIP)
    p->drawText(box, flags, q);
  else {
    p->setClipRect(box, Qt::IntersectClip);
    p->drawText(box, flags, q);
  }
  mark_painted(*dc);
  return needed.height();
}

BOOL TextOutW(HDC h, int x, int y, LPCWSTR text, int count) {
  DeviceContext* dc = find_dc(h);
  if (!dc || !text || count < 0) return FALSE;
  QString q = QString::fromUtf16(text, count);
  QFont font = QtFontFor(static_cast<HFONT>(static_cast<void*>(dc->font)));
  QFontMetrics metrics(font);
  DcPainter p(*dc);
  if (!p) return FALSE;
  p->setFont(font);
  QRect box(x, y, metrics.horizontalAdvance(q), metrics.height());
  if (dc->bk_mode == OPAQUE) p->fillRect(box, qcolor(dc->bk_color));
  p->setPen(qcolor(dc->text_color));
  p->drawText(QPoint(x, y + metrics.ascent()), q);
  mark_painted(*dc);
  return TRUE;
}

BOOL GetTextExtentPoint32W(HDC h, LPCWSTR text, int count, SIZE* size) {
  DeviceContext* dc = find_dc(h);
  if (!dc || !text || !size || count < 0) return FALSE;
  QFontMetrics metrics(QtFontFor(static_cast<HFONT>(static_cast<void*>(dc->font))));
  QString q = QString::fromUtf16(text, count);
  *size = {metrics.horizontalAdvance(q), metrics.height()};
  return TRUE;
}

int SetBkMode(HDC h, int mode) {
  DeviceContext* dc = find_dc(h);
  if (!dc || (mode != OPAQUE && mode != TRANSPARENT)) return 0;
  int old = dc->bk_mode;
  dc->bk_mode = mode;
  return old;
}

COLORREF SetBkColor(HDC h, COLORREF color) {
  DeviceContext* dc = find_dc(h);
  if (!dc) return CLR_INVALID;
  COLORREF old = dc->bk_color;
  dc->bk_color = color;
  return old;
}

COLORREF SetTextColor(HDC h, COLORREF color) {
  DeviceContext* dc = find_dc(h);
  if (!dc) return CLR_INVALID;
  COLORREF old = dc->text_color;
  dc->text_color = color;
  return old;
}

COLORREF GetPixel(HDC h, int x, int y) {
  DeviceContext* dc = find_dc(h);
  QImage* img = dc ? target(*dc) : nullptr;
  if (!img || x < 0 || y < 0 || x >= img->width() || y >= img->height()) return CLR_INVALID;
  if (dc->excluded.contains(QPoint(x, y))) return CLR_INVALID;
  return colorref(img->pixel(x, y));
}

COLORREF SetPixel(HDC h, int x, int y, COLORREF color) {
  DeviceContext* dc = find_dc(h);
  QImage* img = dc ? target(*dc) : nullptr;
  if (!img || x < 0 || y < 0 || x >= img->width() || y >= img->height()) return CLR_INVALID;
  if (dc->excluded.contains(QPoint(x, y))) return CLR_INVALID;
  img->setPixel(x, y, ToQRgb(color));
  mark_painted(*dc);
  return color;
}

int ExcludeClipRect(HDC h, int l, int t, int r, int b) {
  DeviceContext* dc = find_dc(h);
  if (!dc) return 0;
  dc->excluded = dc->excluded.united(QRect(l, t, r - l, b - t));
  return 3;  // COMPLEXREGION
}

BOOL DrawIconEx(HDC h, int x, int y, HICON icon, int width, int height, UINT, HBRUSH brush, UINT) {
  DeviceContext* dc = find_dc(h);
  const QImage* img = IconImage(icon);
  if (!img) img = BitmapImage(reinterpret_cast<HBITMAP>(icon));
  if (!dc || !img) return FALSE;
  DcPainter p(*dc);
  if (!p) return FALSE;
  int w = width ? width : img->width(), hh = height ? height : img->height();
  if (GdiObject* b = find_object(brush); b && !b->null) p->fillRect(QRect(x, y, w, hh), qcolor(b->color));
  p->drawImage(QRect(x, y, w, hh), *img);
  mark_painted(*dc);
  return TRUE;
}

BOOL DrawIcon(HDC h, int x, int y, HICON icon) { return DrawIconEx(h, x, y, icon, 0, 0, 0, nullptr, DI_NORMAL); }

HBITMAP LoadBitmapW(HINSTANCE, LPCWSTR name) {
  const BinaryResource* r = FindBinaryResource(kBitmapResource, ParseResourceRef(name));
  if (!r) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND_VALUE);
    return nullptr;
  }
  QImage image = decode_bitmap(r->data, r->size);
  if (image.isNull()) {
    SetLastError(ERROR_BAD_FORMAT);
    return nullptr;
  }
  return MakeBitmap(image);
}

namespace {

// The icon resource's picture at the asked size (0 x 0: as stored, largest).
HICON load_icon(LPCWSTR name, int cx, int cy) {
  const BinaryResource* r = FindBinaryResource(kIconResource, ParseResourceRef(name));
  if (!r) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND_VALUE);
    return nullptr;
  }
  QImage image = decode_icon(r->data, r->size, cx, cy);
  if (image.isNull()) {
    SetLastError(ERROR_BAD_FORMAT);
    return nullptr;
  }
  if (cx > 0 && cy > 0 && image.size() != QSize(cx, cy))
    image = image.scaled(cx, cy, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  return MakeIcon(image);
}

}  // namespace

HICON LoadIconW(HINSTANCE, LPCWSTR name) { return load_icon(name, 0, 0); }

HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags) {
  if (type == IMAGE_BITMAP) return LoadBitmapW(instance, name);
  if (type != IMAGE_ICON) return nullptr;
  if (cx < 0 || cy < 0 || cx > 1024 || cy > 1024) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!(flags & LR_SHARED)) return load_icon(name, cx, cy);
  // Shared icons: one per resource and size, for the life of the process.
  static std::mutex mutex;
  static auto* shared = new std::map<std::tuple<std::u16string, int, int>, HICON>;
  const ResourceRef ref = ParseResourceRef(name);
  std::lock_guard lock(mutex);
  auto key = std::make_tuple(ref.key(), cx, cy);
  if (auto it = shared->find(key); it != shared->end() && IconImage(it->second)) return it->second;
  HICON icon = load_icon(name, cx, cy);
  if (!icon) return nullptr;
  find_object(icon)->shared = true;
  (*shared)[key] = icon;
  return icon;
}

BOOL DestroyIcon(HICON icon) {
  auto& t = tables();
  auto it = t.objects.find(icon);
  if (it == t.objects.end() || it->second->kind != GdiKind::Icon) return platform::fail(ERROR_INVALID_HANDLE);
  if (!it->second->shared) t.objects.erase(it);
  return TRUE;
}

BOOL GetIconInfo(HICON icon, ICONINFO* info) {
  if (!info) return platform::fail(ERROR_INVALID_PARAMETER);
  const QImage* image = IconImage(icon);
  if (!image) return platform::fail(ERROR_INVALID_HANDLE);
  QImage mask(image->size(), QImage::Format_RGB32);
  for (int y = 0; y < image->height(); ++y)
    for (int x = 0; x < image->width(); ++x)
      mask.setPixel(x, y, qAlpha(image->pixel(x, y)) < 128 ? 0xFFFFFFFFu : 0xFF000000u);
  *info = ICONINFO{TRUE, static_cast<DWORD>(image->width() / 2), static_cast<DWORD>(image->height() / 2),
                   MakeBitmap(mask), MakeBitmap(*image)};
  return TRUE;
}

// ---- image lists ----

HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int, int) {
  if (cx <= 0 || cy <= 0 || cx > 1024 || cy > 1024) return nullptr;
  auto list = std::make_unique<ImageList>();
  list->cx = cx;
  list->cy = cy;
  list->flags = flags;
  HIMAGELIST h = reinterpret_cast<HIMAGELIST>(list.get());
  tables().image_lists[h] = std::move(list);
  return h;
}

BOOL ImageList_Destroy(HIMAGELIST h) {
  if (h == SystemImageList()) return FALSE;
  return tables().image_lists.erase(h) ? TRUE : FALSE;
}

int ImageList_Add(HIMAGELIST h, HBITMAP image, HBITMAP) {
  auto& t = tables();
  auto it = t.image_lists.find(h);
  const QImage* img = BitmapImage(image);
  if (it == t.image_lists.end() || !img) return -1;
  ImageList& list = *it->second;
  // A strip of several images adds each of them.
  int n = std::max(1, img->width() / list.cx);
  int first = static_cast<int>(list.images.size());
  for (int i = 0; i < n; ++i)
    list.images.push_back(img->copy(i * list.cx, 0, list.cx, list.cy).convertToFormat(QImage::Format_ARGB32));
  return first;
}

int ImageList_AddIcon(HIMAGELIST h, HICON icon) {
  auto& t = tables();
  auto it = t.image_lists.find(h);
  const QImage* img = IconImage(icon);
  if (it == t.image_lists.end() || !img) return -1;
  ImageList& list = *it->second;
  list.images.push_back(img->scaled(list.cx, list.cy));
  return static_cast<int>(list.images.size()) - 1;
}

int ImageList_GetImageCount(HIMAGELIST h) {
  auto& t = tables();
  auto it = t.image_lists.find(h);
  return it == t.image_lists.end() ? 0 : static_cast<int>(it->second->images.size());
}

BOOL ImageList_Draw(HIMAGELIST h, int index, HDC hdc, int x, int y, UINT) {
  const QImage* img = ImageListImage(h, index);
  DeviceContext* dc = find_dc(hdc);
  if (!img || !dc) return FALSE;
  DcPainter p(*dc);
  if (!p) return FALSE;
  p->drawImage(x, y, *img);
  mark_painted(*dc);
  return TRUE;
}

// The one framework call that paints by itself (the rest are in gdi_wrappers.cpp).
void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF color) {
  DeviceContext* dc = find_dc(m_hDC);
  if (!dc) return;
  DcPainter p(*dc);
  if (!p) return;
  p->fillRect(QRect(x, y, cx, cy), qcolor(color));
  dc->bk_color = color;  // as on the platform, the background colour is set too
  mark_painted(*dc);
}
