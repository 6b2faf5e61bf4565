// The small images of the disk lists: 0 disk row, 1 partition row, 2 disabled
// disk row (the destination lists mark the source disk with it), 3 disabled
// partition row.
#pragma once

class CImageList;

enum DiskListImage : int {
  kImageDiskRow = 0,
  kImagePartitionRow = 1,
  kImageDisabledDiskRow = 2,
  kImageDisabledPartitionRow = 3,
};

// The image list of the disk list on screen; null until a list page opens.
extern CImageList* DiskListImages;

// Replaces DiskListImages with a new list (16 x 16, 16-bit colour) holding
// bitmaps 143, 144, 180 and 181 in that order; a bitmap that does not load
// is a blank (white) image, so the numbers above always hold.
CImageList* CreateDiskListImages();
