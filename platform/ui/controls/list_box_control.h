// List boxes; combo boxes keep their items the same way.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/control_model.h"
#include "platform/ui/gdi.h"

constexpr int LB_ERR = -1;
constexpr int CB_ERR = -1;

namespace platform::ui {

struct ListEntry {
  std::u16string text;
  DWORD_PTR data = 0;
};

class ListBoxModel : public ControlModel {
 public:
  std::vector<ListEntry> items;
  int current = -1;
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
  int add(Window& w, const std::u16string& text);
  // The first item after `start` (wrapping) whose text begins with `text`, or
  // equals it when `exact`, ignoring case; -1 (LB_ERR, CB_ERR) when none does.
  int find(const std::u16string& text, int start, bool exact) const;
  // After the current item changed: combos show it in their field.
  virtual void show_current(Window&) {}
};

}  // namespace platform::ui
