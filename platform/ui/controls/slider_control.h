// Sliders (track bars).
#pragma once

#include <string>
#include <vector>

#include "platform/ui/control_model.h"
#include "platform/ui/gdi.h"

constexpr UINT TB_THUMBPOSITION = 4;
constexpr UINT TB_ENDTRACK = 8;

namespace platform::ui {

class SliderModel : public ControlModel {
 public:
  int low = 0, high = 100, pos = 0;
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
  // A user's drag ending at `value`: scroll messages and NM_RELEASEDCAPTURE.
  void drag_to(Window& w, int value);
};

}  // namespace platform::ui
