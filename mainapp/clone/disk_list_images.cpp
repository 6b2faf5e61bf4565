#include "mainapp/clone/disk_list_images.h"

#include "platform/ui/gdi.h"

CImageList* DiskListImages = nullptr;

CImageList* CreateDiskListImages() {
  delete DiskListImages;
  DiskListImages = new CImageList;
  DiskListImages->Create(16, 16, ILC_COLOR16, 2, 2);
  for (unsigned id : {143u, 144u, 180u, 181u}) {
    CBitmap bitmap;
    // A blank image stands in for a bitmap that does not load, so that the
    // images after it keep their numbers.
    if (!bitmap.LoadBitmap(id)) bitmap.CreateCompatibleBitmap(nullptr, 16, 16);
    DiskListImages->Add(&bitmap, nullptr);
  }
  return DiskListImages;
}
