#include "platform/ui/dialog_trace.h"

#include "platform/core/text.h"
#include "platform/ui/message_box.h"
#include "platform/ui/window.h"

namespace platform::ui {

namespace {
bool is_popup_menu(const Window& w) { return w.class_name == u"#32768"; }
}  // namespace

std::string DescribeWindow(const Window* w) {
  if (!w) return "nothing";
  std::string s;
  switch (w->role) {
    case DialogRole::MessageBox: s = "message box"; break;
    case DialogRole::FileOpen: case DialogRole::FileSave: s = "file dialog"; break;
    case DialogRole::FolderBrowse: s = "folder dialog"; break;
    case DialogRole::Page:
      s = is_popup_menu(*w) ? "popup menu" : w->template_id ? "dialog " + std::to_string(w->template_id) : "window";
  }
  return s + " \"" + platform::to_utf8(w->text) + "\"";
}

std::string ModalStartedLine(const ModalLoop& loop) {
  const Window* w = loop.handle ? FindWindowModel(loop.handle) : nullptr;
  if (!w || is_popup_menu(*w)) return {};
  if (const MessageBoxInfo* box = MessageBoxFor(w->handle)) {
    static const char* const names[] = {"", "ok", "cancel", "abort", "retry", "ignore", "yes", "no"};
    std::string buttons;
    for (int id : box->buttons)
      buttons += (buttons.empty() ? "" : ",") + std::string(id >= 1 && id <= 7 ? names[id] : "?");
    return "message box \"" + platform::to_utf8(box->caption) + "\": \"" + platform::to_utf8(box->text) + "\" [" +
           buttons + "]";
  }
  return DescribeWindow(w) + " opened";
}

std::string ModalEndedLine(const ModalLoop& loop) {
  // The window may be gone already (destroyed by a handler).
  const Window* w = loop.handle ? FindWindowModel(loop.handle) : nullptr;
  if (!w || is_popup_menu(*w)) return {};
  if (w->role == DialogRole::MessageBox) return "message box answered " + std::to_string(loop.result);
  return DescribeWindow(w) + " closed with " + std::to_string(loop.result);
}

}  // namespace platform::ui
