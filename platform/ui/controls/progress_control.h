// Progress bars.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/control_model.h"
#include "platform/ui/gdi.h"

namespace platform::ui {

class ProgressModel : public ControlModel {
 public:
  int low = 0, high = 100, pos = 0, step = 10;
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
};

}  // namespace platform::ui
