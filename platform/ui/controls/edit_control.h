// Single- and multi-line edit fields.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/control_model.h"
#include "platform/ui/gdi.h"

constexpr UINT EM_GETSEL = 0x00B0;
constexpr UINT EM_SETSEL = 0x00B1;
constexpr UINT EM_REPLACESEL = 0x00C2;
constexpr UINT EM_LIMITTEXT = 0x00C5;
constexpr UINT EM_SETREADONLY = 0x00CF;

namespace platform::ui {

class EditModel : public ControlModel {
 public:
  int sel_start = 0;
  int sel_end = 0;
  int limit = 0x7FFFFFFE;
  bool modified = false;
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
  // Replaces the selection as typing would; false when the control refuses.
  bool type_text(Window& w, const std::u16string& text);
};

}  // namespace platform::ui
