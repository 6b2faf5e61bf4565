// Static controls: text, bitmaps, icons, frames and rectangles.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/control_model.h"
#include "platform/ui/gdi.h"

namespace platform::ui {

class StaticModel : public ControlModel {
 public:
  HBITMAP bitmap = nullptr;
  HICON icon = nullptr;
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
};

// Shows a bitmap or icon resource in a static or button made from a template.
void AttachResourceImage(Window& w, int image_id);

}  // namespace platform::ui
