#include "mainapp/records/disk_list_images.h"

#include "platform/ui/gdi.h"

CImageList* DiskListImages = nullptr;

namespace {

// A white 16 x 16 image: on the list's white rows it shows as nothing.
void MakeBlankImage(CBitmap& bitmap) {
  bitmap.CreateCompatibleBitmap(nullptr, 16, 16);
  CDC dc;
  if (!dc.CreateCompatibleDC(nullptr)) return;
  CBitmap* old = dc.SelectObject(&bitmap);
  dc.FillSolidRect(0, 0, 16, 16, RGB(255, 255, 255));
  dc.SelectObject(old);
}

}  // namespace

CImageList* CreateDiskListImages() {
  delete DiskListImages;
  DiskListImages = new CImageList;
  DiskListImages->Create(16, 16, ILC_COLOR16, 2, 2);
  for (unsigned id : {143u, 144u, 180u, 181u}) {
    CBitmap bitmap;
    // A blank image stands in for a bitmap that does not load, so that the
    // images after it keep their numbers.
    if (!bitmap.LoadBitmap(id)) MakeBlankImage(bitmap);
    DiskListImages->Add(&bitmap, nullptr);
  }
  return DiskListImages;
}
