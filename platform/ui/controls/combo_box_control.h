// Combo boxes: a list box with a field (or a drop-down list).
#pragma once

#include <string>
#include <vector>

#include "platform/ui/controls/list_box_control.h"

namespace platform::ui {

// Sent before CBN_EDITCHANGE when the user changes an editable combo's text.
constexpr UINT CBN_EDITUPDATE = 6;

class ComboBoxModel : public ListBoxModel {
 public:
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
  // Drop-down combos (CBS_DROPDOWN, CBS_SIMPLE) have a field the user types
  // into; its text is the window text. Drop-down lists have none.
  static bool editable(const Window& w);
  // The user's edit of the field: the text changes, then the parent gets
  // CBN_EDITUPDATE and CBN_EDITCHANGE (in that order). False when nothing
  // changed or the combo has no field.
  bool user_edit(Window& w, const std::u16string& text);
  // A new current item (the program's or the user's pick) shows its text
  // in the field, without notifications.
  void show_current(Window& w) override;
};

}  // namespace platform::ui
