#include "mainapp/records/disk_bars.h"

#include "disk/disk_map.h"
#include "disk/listed_disks.h"
#include "disk/partition_list.h"
#include "platform/ui/gdi.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kGrey = RGB(125, 125, 125);
constexpr COLORREF kYellow = RGB(255, 255, 42);
constexpr COLORREF kNavy = RGB(0, 0, 128);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kNearBlack = RGB(25, 25, 25);
constexpr COLORREF kRed = RGB(255, 0, 0);

}  // namespace

CString DiskBarPartitionName(const DiskMapItem& item, bool markUnformatted) {
  CString name;
  // A map built without refreshing carries letter 0: the type name alone.
  if (item.driveLetter > 0) {
    name = u" (";
    name += static_cast<WCHAR>(item.driveLetter);
    name += u":) ";
  }
  const bool unformatted =
      markUnformatted && item.driveLetter > 0 && !VolumeHasFileSystem(static_cast<WCHAR>(item.driveLetter));
  name += unformatted ? LookupString(u"IDS_Unformatted") : PartitionTypeName(item.type);
  return name;
}

CString DiskBarSegmentLabel(const DiskMapItem& item, int32_t index, const DiskBarStyle& style) {
  if (item.partitionIndex >= 0) {
    if (style.newPartitionType != 0 && item.type == style.newPartitionType) return LookupString(u"IDS_new");
    // A partition without a recognised file system has no type name.
    if (item.type == FS_RAW) return CString(u"Raw");
    return DiskBarPartitionName(item, style.markUnformatted);
  }
  if (item.outsideExtended) {
    if (style.gptDisk && index == style.msrIndex) return CString(u"GPTHDR");
    return LookupString(u"IDS_Unallocated");
  }
  return LookupString(u"IDS_Free");
}

int32_t LayoutDiskBarWidths(DiskMapItem* items, int32_t count, uint64_t diskSectors, int barWidth) {
  if (count <= 0) return 0;
  if (count > kMaxDiskMapItems) count = kMaxDiskMapItems;
  const int64_t available = static_cast<int64_t>(barWidth) - 4 * static_cast<int64_t>(count);
  // A bar without room for the segments, or a disk without a size, gives
  // every segment the narrowest width instead of dividing by zero.
  if (available <= 0 || diskSectors == 0) {
    for (int32_t i = 0; i < count; ++i) items[i].pixelWidth = kMinimumSegmentWidth;
    return count;
  }
  int64_t whole = static_cast<int64_t>(diskSectors) / available;
  // A disk with fewer sectors than pixels: the exact quotient, never 0.
  float perPixel = whole > 0 ? static_cast<float>(whole)
                             : static_cast<float>(static_cast<double>(diskSectors) / static_cast<double>(available));
  int64_t sum = 0;
  for (int32_t i = 0; i < count; ++i) {
    int64_t w = static_cast<int64_t>(static_cast<float>(items[i].length) / perPixel);
    if (w < kMinimumSegmentWidth) w = kMinimumSegmentWidth;
    if (w > 0x7fffffff) w = 0x7fffffff;
    items[i].pixelWidth = static_cast<int32_t>(w);
    sum += w;
  }
  for (int pass = 0; pass < 11; ++pass) {
    if (pass > 0 && sum <= available) break;
    const float scale = static_cast<float>(sum) / static_cast<float>(available);
    sum = 0;
    for (int32_t i = 0; i < count; ++i) {
      int32_t& w = items[i].pixelWidth;
      if (scale * 44.0f < static_cast<float>(w))
        w = static_cast<int32_t>(static_cast<float>(w) / scale);
      else
        w = kMinimumSegmentWidth;
      sum += w;
    }
  }
  return count;
}

int32_t LayoutDiskBar(ListedDiskIndex listed, DiskMapItem* items, const RECT& bar, bool refresh, int32_t count) {
  if (count == 0) count = BuildDiskMap(listed, items, refresh);
  if (count == 0) return 0;
  return LayoutDiskBarWidths(items, count, ListedSize(listed), bar.right - bar.left);
}

void PaintDiskBar(CDC& screen, const RECT& bar, const DiskMapItem* items, int32_t count, const DiskBarStyle& style) {
  const int width = bar.right - bar.left;
  const int height = bar.bottom - bar.top;
  if (width <= 0 || height <= 0) return;
  CDC dc;
  dc.CreateCompatibleDC(&screen);
  CBitmap bitmap;
  bitmap.CreateCompatibleBitmap(&screen, width + 1, height + 1);
  CBitmap* oldBitmap = dc.SelectObject(&bitmap);
  dc.FillSolidRect(0, 0, width + 1, height + 1, kWhite);
  CPen whitePen(PS_SOLID, 1, kWhite), greyPen(PS_SOLID, 2, kGrey), yellowPen(PS_SOLID, 2, kYellow),
      redPen(PS_SOLID, 2, kRed);
  CBrush navy(kNavy), blue(kBlue), green(kGreen), nearBlack(kNearBlack), white(kWhite);
  CFont font, sizeFont;
  font.CreateFont(style.labelHeight, 0, 0, 0, style.labelWeight, 0, 0, 0, 0, 0, 0, 0, 0, style.fontFace);
  sizeFont.CreateFont(style.sizeHeight, 0, 0, 0, style.sizeWeight, 0, 0, 0, 0, 0, 0, 0, 0, style.fontFace);
  CPen* oldPen = dc.SelectObject(&greyPen);
  CBrush* oldBrush = dc.SelectObject(&white);
  CFont* oldFont = dc.SelectObject(&font);
  dc.SetBkMode(TRANSPARENT);
  dc.SetTextColor(RGB(0, 0, 0));
  if (count <= 0) {
    dc.SelectObject(&yellowPen);
    dc.Rectangle(1, 0, width, height);
    dc.SelectObject(&greyPen);
    dc.SelectObject(&nearBlack);
    dc.Rectangle(3, 2, width - 2, 16);
    dc.SelectObject(&sizeFont);
    RECT label{9, 42, 101, 60};
    dc.DrawText(LookupString(u"IDS_Unallocated").GetString(), &label, DT_LEFT | DT_SINGLELINE);
    RECT size{9, 24, 101, 40};
    dc.DrawText(FormatSectorCount(style.diskSectors).GetString(), &size, DT_LEFT | DT_SINGLELINE);
  } else {
    int x = 1;
    for (int32_t i = 0; i < count && i < kMaxDiskMapItems; ++i) {
      const DiskMapItem& item = items[i];
      int w = item.pixelWidth;
      if (i == count - 1) w = (width - 2) - x + 1;
      if (w < 1) w = 1;
      CBrush* fill = item.partitionIndex >= 0 ? (item.outsideExtended ? &navy : &blue)
                                              : (item.outsideExtended ? &nearBlack : &green);
      const bool lit = style.highlighted && style.highlighted(item, i, style.context);
      CPen* outline = i == style.alertItem && item.partitionIndex >= 0 ? &redPen : lit ? &yellowPen : &greyPen;
      dc.SelectObject(outline);
      dc.SelectObject(fill);
      dc.Rectangle(x, 1, x + w + 1, 21);
      dc.SelectObject(&white);
      dc.Rectangle(x, 16, x + w + 1, 17);
      dc.Rectangle(x, 18, x + w + 1, height);
      dc.SelectObject(&whitePen);
      dc.MoveTo(x, 1);
      dc.LineTo(x + w, 1);
      dc.MoveTo(x, 1);
      dc.LineTo(x, 16);
      RECT label{x + 1, 24, x + w - 1, 40};
      dc.SelectObject(&font);
      dc.DrawText(DiskBarSegmentLabel(item, i, style).GetString(), &label, DT_LEFT | DT_SINGLELINE | DT_END_ELLIPSIS);
      dc.SelectObject(&sizeFont);
      RECT size{x + 1, 42, x + w - 1, 60};
      dc.DrawText(FormatSectorCount(item.length).GetString(), &size, DT_LEFT | DT_SINGLELINE | DT_END_ELLIPSIS);
      x += w + 2;
    }
  }
  screen.BitBlt(bar.left, bar.top, width, height, &dc, 0, 0, SRCCOPY);
  dc.SelectObject(oldFont);
  dc.SelectObject(oldBrush);
  dc.SelectObject(oldPen);
  dc.SelectObject(oldBitmap);
}
