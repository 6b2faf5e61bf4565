#include "platform/ui/message_box.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <map>
#include <memory>

#include "platform/core/error.h"
#include "platform/ui/gdi.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/window.h"

namespace platform::ui {

namespace {

ShellSeam& seam_storage() {
  static ShellSeam* s = new ShellSeam;
  return *s;
}

constexpr UINT kPickerChoose = WM_USER + 0x3F0;

// A window that runs one modal helper: a message box or a picker. Its
// command handler ends the loop; pickers check the choice first.
class HelperWindow : public CWnd {
 public:
  ModalLoop loop;
  MessageBoxInfo box;
  PickerState picker;
  bool is_picker = false;
  std::function<bool(HelperWindow&, const std::u16string&)> accept;  // pickers only
  std::function<void(HelperWindow&, UINT, WPARAM, LPARAM)> on_message;

  BOOL OnCommand(WPARAM w, LPARAM) override {
    int id = LOWORD(w);
    if (!is_picker) {
      bool has = std::find(box.buttons.begin(), box.buttons.end(), id) != box.buttons.end();
      if (id == IDCANCEL && !has) {
        // Escape: OK-only boxes close with IDOK; boxes without Cancel ignore it.
        if (box.buttons.size() == 1 && box.buttons[0] == IDOK)
          id = IDOK;
        else
          return TRUE;
      } else if (!has) {
        return TRUE;
      }
    }
    end(id);
    return TRUE;
  }

  LRESULT WindowProc(UINT message, WPARAM w, LPARAM l) override {
    if (message == kPickerChoose && is_picker) {
      // The choice runs from the loop, so prompts it raises run their own
      // loops that the driver can answer.
      std::u16string path = picker.path;
      if (!accept || accept(*this, path)) end(IDOK);
      return 0;
    }
    if (on_message && message >= WM_USER) {
      on_message(*this, message, w, l);
      return 0;
    }
    return CWnd::WindowProc(message, w, l);
  }

  void end(int result) {
    loop.ended = true;
    loop.result = result;
  }

  // Enter, Escape, Tab, arrows and the buttons' letters (Y, Alt+N) work in
  // message boxes as in dialogs.
  BOOL PreTranslateMessage(MSG* msg) override { return IsDialogMessageW(m_hWnd, msg); }
};

HelperWindow* helper_for(HWND hwnd) {
  Window* w = FindWindowModel(hwnd);
  if (!w) return nullptr;
  return dynamic_cast<HelperWindow*>(w->object);
}

// Disables the owner (or, for task-modal boxes without one, every enabled
// top-level window of the thread) while the helper runs.
struct OwnerDisable {
  std::vector<HWND> disabled;
  OwnerDisable(HWND owner, bool task_modal, HWND self) {
    Window* o = FindWindowModel(owner);
    if (o) {
      Window* top = o->top_level();
      if (top->enabled()) {
        EnableWindow(top->handle, FALSE);
        disabled.push_back(top->handle);
      }
    } else if (task_modal) {
      UiThread& t = CurrentUiThread();
      for (Window* w : TopLevelWindows())
        if (w->thread == &t && !w->is_child() && w->handle != self && w->enabled() && w->visible()) {
          disabled.push_back(w->handle);
        }
      for (HWND h : disabled) EnableWindow(h, FALSE);
    }
  }
  ~OwnerDisable() {
    for (HWND h : disabled)
      if (IsWindow(h)) EnableWindow(h, TRUE);
  }
};

// The 32 x 32 picture a box shows for its MB_ICON kind, or null for none:
// a red disc with a cross (error), a yellow triangle with "!" (warning), a
// blue disc with "?" (question) or "i" (information). Made once per kind.
HICON box_icon(UINT type) {
  const UINT kind = type & MB_ICONMASK;
  if (kind != MB_ICONHAND && kind != MB_ICONQUESTION && kind != MB_ICONEXCLAMATION && kind != MB_ICONASTERISK)
    return nullptr;
  static std::map<UINT, HICON>* made = new std::map<UINT, HICON>;
  if (auto it = made->find(kind); it != made->end()) return it->second;
  QImage image(32, 32, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  if (kind == MB_ICONEXCLAMATION) {
    QPainterPath triangle;
    triangle.moveTo(16, 2);
    triangle.lineTo(31, 29);
    triangle.lineTo(1, 29);
    triangle.closeSubpath();
    p.setBrush(QColor(250, 200, 30));
    p.drawPath(triangle);
    p.setBrush(Qt::black);
    p.drawRect(QRectF(14.5, 10, 3, 11));
    p.drawEllipse(QPointF(16, 25), 2, 2);
  } else {
    p.setBrush(kind == MB_ICONHAND ? QColor(210, 40, 40) : QColor(30, 100, 200));
    p.drawEllipse(QRectF(1, 1, 30, 30));
    p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
    if (kind == MB_ICONHAND) {
      p.drawLine(QPointF(10, 10), QPointF(22, 22));
      p.drawLine(QPointF(22, 10), QPointF(10, 22));
    } else if (kind == MB_ICONASTERISK) {
      p.drawLine(QPointF(16, 14), QPointF(16, 24));
      p.drawPoint(QPointF(16, 8.5));
    } else {
      QPainterPath hook;
      hook.moveTo(11.5, 12);
      hook.cubicTo(11.5, 6, 20.5, 6, 20.5, 12);
      hook.cubicTo(20.5, 16, 16, 16, 16, 20);
      p.setBrush(Qt::NoBrush);
      p.drawPath(hook);
      p.drawPoint(QPointF(16, 25));
    }
  }
  p.end();
  HICON icon = MakeIcon(image);
  (*made)[kind] = icon;
  return icon;
}

const char16_t* button_text(int id) {
  switch (id) {
    case IDOK: return u"OK";
    case IDCANCEL: return u"Cancel";
    case IDABORT: return u"&Abort";
    case IDRETRY: return u"&Retry";
    case IDIGNORE: return u"&Ignore";
    case IDYES: return u"&Yes";
    case IDNO: return u"&No";
  }
  return u"";
}

// The room a message box's text needs, wrapped at `max_width`: estimated
// from its characters with widths generous for the dialog font (a view may
// draw with a wider one) rather than measured, so that showing a box costs
// no font work.
SIZE MessageTextSize(const std::u16string& text, int max_width) {
  constexpr int kNarrow = 7, kWide = 14, kLineHeight = 16;
  max_width = std::max(max_width, 100);
  int widest = 0, lines = 0;
  size_t from = 0;
  while (from <= text.size()) {
    size_t end = text.find(u'\n', from);
    if (end == std::u16string::npos) end = text.size();
    int width = 0;
    for (size_t i = from; i < end; ++i)
      if (text[i] != u'\r') width += text[i] < 0x2E80 ? kNarrow : kWide;
    widest = std::max(widest, std::min(width, max_width));
    // Words wrap short of the full width: one line more for a wrapped line.
    lines += width <= max_width ? 1 : width / max_width + 2;
    from = end + 1;
  }
  return SIZE{widest, lines * kLineHeight};
}

Window* make_helper_window(HelperWindow& helper, HWND owner, const std::u16string& caption,
                           DialogRole role, int width, int height) {
  CreateParams p;
  p.class_name = u"#32770";
  p.text = caption;
  p.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  p.role = role;
  p.owner = FindWindowModel(owner);
  SIZE screen = ScreenSize();
  p.rect = {(screen.cx - width) / 2, (screen.cy - height) / 2, (screen.cx + width) / 2,
            (screen.cy + height) / 2};
  p.object = &helper;
  return CreateWindowModel(p);
}

void run_helper(HelperWindow& helper, Window* window) {
  helper.loop.window = window;
  HWND self = window->handle;
  struct Cleanup {
    HWND self;
    ~Cleanup() {
      if (Window* w = FindWindowModel(self)) DestroyWindowModel(w);
    }
  } cleanup{self};
  ShowWindow(self, SW_SHOW);
  SetActiveWindow(self);
  RunModalLoop(helper.loop);
}

}  // namespace

void set_shell_seam(ShellSeam seam) { seam_storage() = std::move(seam); }
const ShellSeam& shell_seam() { return seam_storage(); }

const MessageBoxInfo* MessageBoxFor(HWND hwnd) {
  HelperWindow* h = helper_for(hwnd);
  return h && !h->is_picker ? &h->box : nullptr;
}

PickerState* PickerFor(HWND hwnd) {
  HelperWindow* h = helper_for(hwnd);
  return h && h->is_picker ? &h->picker : nullptr;
}

bool ChooseInPicker(HWND hwnd, const std::u16string& path) {
  HelperWindow* h = helper_for(hwnd);
  if (!h || !h->is_picker) return false;
  h->picker.path = path;
  PostMessageW(hwnd, kPickerChoose, 0, 0);
  return true;
}

bool EndPickerOrBox(HWND hwnd, int result) {
  HelperWindow* h = helper_for(hwnd);
  if (!h) return false;
  if (h->is_picker) {
    h->end(result);
    return true;
  }
  SendMessageW(hwnd, WM_COMMAND, static_cast<WPARAM>(result), 0);
  return true;
}

}  // namespace platform::ui

using namespace platform::ui;

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  HelperWindow helper;
  helper.box.caption = caption ? caption : u"Error";
  helper.box.text = text ? text : u"";
  helper.box.type = type;
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: helper.box.buttons = {IDOK, IDCANCEL}; break;
    case MB_ABORTRETRYIGNORE: helper.box.buttons = {IDABORT, IDRETRY, IDIGNORE}; break;
    case MB_YESNOCANCEL: helper.box.buttons = {IDYES, IDNO, IDCANCEL}; break;
    case MB_YESNO: helper.box.buttons = {IDYES, IDNO}; break;
    case MB_RETRYCANCEL: helper.box.buttons = {IDRETRY, IDCANCEL}; break;
    default: helper.box.buttons = {IDOK}; break;
  }
  size_t default_index = ((type & MB_DEFMASK) >> 8);
  if (default_index >= helper.box.buttons.size()) default_index = 0;
  HICON icon = box_icon(type);
  const int text_left = icon ? 60 : 16;
  // The box grows to show its whole text: wrapped at a width the screen
  // allows, as tall as the wrapped lines need.
  const SIZE text_size = MessageTextSize(helper.box.text, ScreenSize().cx * 5 / 8 - text_left - 16);
  const int text_bottom = 16 + std::max<int>(icon ? 32 : 0, std::max<int>(54, text_size.cy));
  int width = std::max<int>({200, 90 * static_cast<int>(helper.box.buttons.size()) + 40,
                             text_left + static_cast<int>(text_size.cx) + 16});
  const int buttons_top = text_bottom + 10;
  Window* w = make_helper_window(helper, owner, helper.box.caption, DialogRole::MessageBox, width,
                                 buttons_top + 23 + 37);
  if (type & (MB_TOPMOST | MB_SYSTEMMODAL)) w->ex_style |= WS_EX_TOPMOST;
  if (icon) {
    // The kind's picture left of the text.
    CreateParams picture;
    picture.class_name = u"Static";
    picture.style = WS_CHILD | WS_VISIBLE | SS_ICON;
    picture.id = 0x14;
    picture.parent = w;
    picture.rect = {16, 16, 48, 48};
    Window* pw = CreateWindowModel(picture);
    SendMessageW(pw->handle, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
  }
  CreateParams label;
  label.class_name = u"Static";
  label.text = helper.box.text;
  // The message is shown as it is: an '&' in it is no mnemonic.
  label.style = WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
  label.id = 0xFFFF;
  label.parent = w;
  label.rect = {text_left, 16, width - 16, text_bottom};
  CreateWindowModel(label);
  for (size_t i = 0; i < helper.box.buttons.size(); ++i) {
    CreateParams b;
    b.class_name = u"Button";
    b.text = button_text(helper.box.buttons[i]);
    b.style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (i == default_index ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    b.id = helper.box.buttons[i];
    b.parent = w;
    int x = width - 16 - 85 * static_cast<int>(helper.box.buttons.size() - i);
    b.rect = {x, buttons_top, x + 75, buttons_top + 23};
    Window* bw = CreateWindowModel(b);
    if (i == default_index) SetFocus(bw->handle);
  }
  OwnerDisable disable(owner, (type & MB_TASKMODAL) != 0, w->handle);
  run_helper(helper, w);
  return static_cast<int>(helper.loop.result);
}

int AfxMessageBox(LPCWSTR text, UINT type, UINT) {
  CWinApp* app = AfxGetApp();
  LPCWSTR caption = app && app->m_pszAppName ? app->m_pszAppName : u"";
  CWnd* main = AfxGetMainWnd();
  HWND owner = nullptr;
  if (main && main->m_hWnd && IsWindowVisible(main->m_hWnd)) owner = main->m_hWnd;
  // An owner that is itself disabled (a modal page runs above it) leaves
  // the active window as the owner, as the framework does.
  if (owner && !IsWindowEnabled(owner)) owner = GetActiveWindow();
  return MessageBoxW(owner, text, caption, type);
}

int AfxMessageBox(const std::u16string& text, UINT type, UINT help_id) {
  return AfxMessageBox(text.c_str(), type, help_id);
}

// ---- CFileDialog ----

CFileDialog::CFileDialog(BOOL open, LPCWSTR default_ext, LPCWSTR file_name, DWORD flags,
                         LPCWSTR filter, CWnd* parent)
    : open_(open != FALSE), parent_(parent) {
  if (default_ext) default_ext_ = default_ext;
  if (file_name) initial_name_ = file_name;
  if (filter) {
    // "Name|*.ext|Name|*.a;*.b||": pairs separated by '|'.
    std::u16string f = filter;
    std::vector<std::u16string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= f.size(); ++i) {
      if (i == f.size() || f[i] == u'|') {
        parts.push_back(f.substr(start, i - start));
        start = i + 1;
      }
    }
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
      if (parts[i].empty()) break;
      filters_.emplace_back(parts[i], parts[i + 1]);
    }
    // The platform form: NUL-separated pairs ending in two NULs.
    for (auto& [name, pattern] : filters_) {
      filter_storage_ += name;
      filter_storage_ += u'\0';
      filter_storage_ += pattern;
      filter_storage_ += u'\0';
    }
    filter_storage_ += u'\0';
  }
  file_buffer_ = initial_name_;
  file_buffer_.resize(MAX_PATH, u'\0');
  m_ofn.lStructSize = sizeof(OPENFILENAMEW);
  m_ofn.hwndOwner = parent ? parent->m_hWnd : nullptr;
  m_ofn.lpstrFilter = filters_.empty() ? nullptr : filter_storage_.c_str();
  m_ofn.nFilterIndex = 1;
  m_ofn.lpstrFile = file_buffer_.data();
  m_ofn.nMaxFile = MAX_PATH;
  m_ofn.Flags = flags;
  m_ofn.lpstrDefExt = default_ext_.empty() ? nullptr : default_ext_.c_str();
}

INT_PTR CFileDialog::DoModal() {
  HelperWindow helper;
  helper.is_picker = true;
  std::u16string initial_dir = m_ofn.lpstrInitialDir ? m_ofn.lpstrInitialDir : u"";
  std::u16string start = m_ofn.lpstrFile ? std::u16string(m_ofn.lpstrFile) : initial_name_;
  helper.picker.selection = initial_dir.empty() ? start : initial_dir + u"\\" + start;
  helper.picker.folder = initial_dir;
  // The filters as the program left them in the structure: NUL-separated
  // pairs ending in an empty name (read no further than a sane length).
  if (const WCHAR* f = m_ofn.lpstrFilter) {
    for (int pairs = 0; *f && pairs < 256; ++pairs) {
      std::u16string name = f;
      f += name.size() + 1;
      std::u16string pattern = f;
      if (pattern.empty()) break;  // a name without a pattern ends the list
      f += pattern.size() + 1;
      helper.picker.filters.emplace_back(std::move(name), std::move(pattern));
    }
    if (m_ofn.nFilterIndex >= 1 && m_ofn.nFilterIndex <= helper.picker.filters.size())
      helper.picker.filter_index = m_ofn.nFilterIndex - 1;
  }
  DWORD flags = m_ofn.Flags;
  bool open = open_;
  std::u16string def_ext = default_ext_;
  helper.accept = [flags, open, def_ext, initial_dir](HelperWindow& h, const std::u16string& chosen) {
    std::u16string path = chosen;
    // A bare name is in the folder the dialog opened in.
    if (!initial_dir.empty() && path.find_first_of(u"\\/:") == std::u16string::npos) {
      path = initial_dir;
      if (path.back() != u'\\') path += u'\\';
      path += chosen;
    }
    size_t slash = path.find_last_of(u"\\/");
    std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
    if (!def_ext.empty() && name.find(u'.') == std::u16string::npos) path += u"." + def_ext;
    h.picker.path = path;
    const auto& seam = shell_seam();
    bool exists = seam.exists && seam.exists(path);
    if (open && (flags & OFN_FILEMUSTEXIST) && !exists) {
      MessageBoxW(h.m_hWnd, (path + u"\nFile not found.\nCheck the file name and try again.").c_str(),
                  open ? u"Open" : u"Save As", MB_OK | MB_ICONEXCLAMATION);
      return false;
    }
    if (!open && (flags & OFN_OVERWRITEPROMPT) && exists) {
      int answer = MessageBoxW(h.m_hWnd, (path + u" already exists.\nDo you want to replace it?").c_str(),
                               u"Confirm Save As", MB_YESNO | MB_ICONEXCLAMATION);
      return answer == IDYES;
    }
    return true;
  };
  HWND owner = m_ofn.hwndOwner ? m_ofn.hwndOwner : (parent_ ? parent_->m_hWnd : nullptr);
  if (!owner)
    if (CWnd* main = AfxGetMainWnd()) owner = main->m_hWnd;
  std::u16string title = m_ofn.lpstrTitle ? m_ofn.lpstrTitle : (open_ ? u"Open" : u"Save As");
  Window* w = make_helper_window(helper, owner, title, open_ ? DialogRole::FileOpen : DialogRole::FileSave,
                                 560, 380);
  {
    OwnerDisable disable(owner, false, w->handle);
    run_helper(helper, w);
  }
  if (helper.loop.result != IDOK) return IDCANCEL;
  path_ = helper.picker.path;
  std::u16string copy = path_.substr(0, std::min<size_t>(path_.size(), MAX_PATH - 1));
  if (m_ofn.lpstrFile && m_ofn.nMaxFile > 0) {
    size_t n = std::min<size_t>(copy.size(), m_ofn.nMaxFile - 1);
    std::copy(copy.begin(), copy.begin() + static_cast<long>(n), m_ofn.lpstrFile);
    m_ofn.lpstrFile[n] = 0;
  }
  return IDOK;
}

CString CFileDialog::GetFileName() const {
  size_t slash = path_.find_last_of(u"\\/");
  return CString(slash == std::u16string::npos ? path_ : path_.substr(slash + 1));
}
CString CFileDialog::GetFileExt() const {
  std::u16string name = GetFileName().GetString();
  size_t dot = name.rfind(u'.');
  return CString(dot == std::u16string::npos ? std::u16string() : name.substr(dot + 1));
}
CString CFileDialog::GetFileTitle() const {
  std::u16string name = GetFileName().GetString();
  size_t dot = name.rfind(u'.');
  return CString(dot == std::u16string::npos ? name : name.substr(0, dot));
}
CString CFileDialog::GetFolderPath() const {
  size_t slash = path_.find_last_of(u"\\/");
  return CString(slash == std::u16string::npos ? std::u16string() : path_.substr(0, slash));
}

// ---- folder dialog ----

PIDLIST_ABSOLUTE SHBrowseForFolderW(BROWSEINFOW* info) {
  if (!info) return nullptr;
  HelperWindow helper;
  helper.is_picker = true;
  helper.picker.shows_status = (info->ulFlags & BIF_STATUSTEXT) != 0;
  const BFFCALLBACK callback = info->lpfn;
  const LPARAM data = info->lParam;
  helper.on_message = [](HelperWindow& h, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
      case BFFM_SETSELECTIONW:
        if (w && l) h.picker.selection = reinterpret_cast<LPCWSTR>(l);
        break;
      case BFFM_ENABLEOK:
        h.picker.ok_enabled = l != 0;
        break;
      case BFFM_SETSTATUSTEXTW:
        h.picker.status = l ? reinterpret_cast<LPCWSTR>(l) : u"";
        break;
    }
  };
  helper.accept = [callback, data](HelperWindow& h, const std::u16string& chosen) {
    // The selection moves first (the program sees BFFM_SELCHANGED and may
    // refuse by disabling OK), then OK is pressed.
    h.picker.selection = chosen;
    const auto& seam = shell_seam();
    ITEMIDLIST* item = seam.make_item_list ? seam.make_item_list(chosen) : nullptr;
    if (callback) callback(h.m_hWnd, BFFM_SELCHANGED, reinterpret_cast<LPARAM>(item), data);
    // The list is the dialog's, lent to the callback only.
    if (item && seam.free_item_list) seam.free_item_list(item);
    return h.picker.ok_enabled;
  };
  std::u16string title = info->lpszTitle ? info->lpszTitle : u"Browse For Folder";
  Window* w = make_helper_window(helper, info->hwndOwner, title, DialogRole::FolderBrowse, 320, 400);
  if (callback) callback(w->handle, BFFM_INITIALIZED, 0, data);
  {
    OwnerDisable disable(info->hwndOwner, false, w->handle);
    if (IsWindow(w->handle)) run_helper(helper, w);
  }
  if (helper.loop.result != IDOK) return nullptr;
  const auto& seam = shell_seam();
  if (info->pszDisplayName) {
    std::u16string name = helper.picker.path;
    size_t slash = name.find_last_of(u"\\/");
    if (slash != std::u16string::npos && slash + 1 < name.size()) name = name.substr(slash + 1);
    size_t n = std::min<size_t>(name.size(), MAX_PATH - 1);
    std::copy(name.begin(), name.begin() + static_cast<long>(n), info->pszDisplayName);
    info->pszDisplayName[n] = 0;
  }
  if (!seam.make_item_list) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  return seam.make_item_list(helper.picker.path);
}
