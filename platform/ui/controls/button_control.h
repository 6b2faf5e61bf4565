// Push buttons, check boxes, radio buttons and group boxes.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/control_model.h"
#include "platform/ui/gdi.h"

constexpr UINT BST_UNCHECKED = 0;
constexpr UINT BST_CHECKED = 1;
constexpr UINT BST_INDETERMINATE = 2;

namespace platform::ui {

class ButtonModel : public ControlModel {
 public:
  UINT check = BST_UNCHECKED;
  HBITMAP bitmap = nullptr;
  HICON icon = nullptr;
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
  // A user's click: toggles auto check boxes and radio groups, notifies.
  void click(Window& w);
};

}  // namespace platform::ui
