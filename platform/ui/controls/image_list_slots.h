// The three image-list slots of list and tree views (normal, small, state).
#pragma once

#include "platform/ui/gdi.h"

namespace platform::ui {

// Puts `list` in slot `which` and returns the old one; a slot outside the
// three gives null and changes nothing.
inline CImageList* set_image_list(HIMAGELIST (&lists)[3], CImageList* list, int which) {
  if (which < 0 || which > 2) return nullptr;
  HIMAGELIST old = lists[which];
  lists[which] = list ? list->m_hImageList : nullptr;
  return CImageList::FromHandle(old);
}
inline CImageList* image_list(const HIMAGELIST (&lists)[3], int which) {
  return which >= 0 && which <= 2 ? CImageList::FromHandle(lists[which]) : nullptr;
}

}  // namespace platform::ui
