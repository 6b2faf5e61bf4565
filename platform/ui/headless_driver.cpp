#include "platform/ui/headless_driver.h"

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "platform/core/clock.h"
#include "platform/core/text.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_keys.h"
#include "platform/ui/dialog_trace.h"
#include "platform/ui/menu.h"
#include "platform/ui/message_box.h"
#include "platform/ui/render.h"
#include "platform/ui/time_source.h"
#include "platform/ui/window.h"

namespace platform::ui {

namespace {

bool parse_int(const std::string& s, long long& out) {
  if (s.empty() || s.size() > 12) return false;
  size_t i = 0;
  bool neg = false;
  if (s[0] == '-') {
    neg = true;
    i = 1;
  }
  int base = 10;
  if (s.size() > i + 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return false;
  long long v = 0;
  for (; i < s.size(); ++i) {
    int d;
    char c = s[i];
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v * base + d;
  }
  out = neg ? -v : v;
  return true;
}

std::string utf8(const std::u16string& s) { return platform::to_utf8(s); }

Window* innermost(UiThread& t) {
  for (auto it = t.loops.rbegin(); it != t.loops.rend(); ++it)
    if (Window* w = (*it)->handle ? FindWindowModel((*it)->handle) : nullptr) return w;
  for (Window* w : TopLevelWindows())
    if (w->thread == &t && w->visible()) return w;
  return nullptr;
}

Window* find_in(Window* root, int id, int depth) {
  if (!root || depth > 16) return nullptr;
  for (Window* c : root->children)
    if (c->id == id) return c;
  for (Window* c : root->children)
    if (Window* f = find_in(c, id, depth + 1)) return f;
  return nullptr;
}

Window* find_control(UiThread& t, int id) {
  if (Window* f = find_in(innermost(t), id, 0)) return f;
  for (Window* w : TopLevelWindows())
    if (w->visible())
      if (Window* f = find_in(w, id, 0)) return f;
  return nullptr;
}

bool usable(Window* w) {
  for (Window* p = w; p; p = p->is_child() ? p->parent : nullptr)
    if (!p->enabled() || !p->visible()) return false;
  return true;
}


POINT centre(Window* w) {
  RECT c = w->client_rect();
  return {c.right / 2, c.bottom / 2};
}

// Mouse input at a point of `w`: it goes where the mouse lands there (a
// plain static passes it to the window beneath), after that window chose
// the cursor.
void post_mouse(Window* w, POINT at, std::initializer_list<std::pair<UINT, WPARAM>> messages) {
  MouseHit hit = MouseLanding(*w, at);
  for (auto [message, keys] : messages) {
    HWND target = hit.window->handle;
    SetCursorFor(*hit.window, message);
    if (!FindWindowModel(target)) return;  // the handler closed it
    PostMouseInput(hit, message, keys);
  }
}

void post_click(Window* w, POINT at, bool right, WPARAM modifiers = 0) {
  if (right)
    post_mouse(w, at, {{WM_RBUTTONDOWN, MK_RBUTTON | modifiers}, {WM_RBUTTONUP, modifiers}});
  else
    post_mouse(w, at, {{WM_LBUTTONDOWN, MK_LBUTTON | modifiers}, {WM_LBUTTONUP, modifiers}});
}

int answer_id(const std::string& name) {
  static const std::pair<const char*, int> table[] = {{"ok", IDOK},       {"cancel", IDCANCEL},
                                                      {"yes", IDYES},     {"no", IDNO},
                                                      {"retry", IDRETRY}, {"abort", IDABORT},
                                                      {"ignore", IDIGNORE}};
  for (auto& [n, id] : table)
    if (name == n) return id;
  return 0;
}

UINT key_code(const std::string& name) {
  static const std::pair<const char*, UINT> table[] = {
      {"enter", VK_RETURN}, {"escape", VK_ESCAPE}, {"space", VK_SPACE}, {"tab", VK_TAB}, {"shift+tab", VK_TAB},
      {"f1", VK_F1},        {"left", VK_LEFT},     {"right", VK_RIGHT}, {"up", VK_UP},   {"down", VK_DOWN}};
  for (auto& [n, vk] : table)
    if (name == n) return vk;
  return 0;
}

// A letter or digit typed ("y"), or with Alt held ("alt+b"): 0 for other names.
char16_t key_character(const std::string& name, bool* alt) {
  *alt = name.size() == 5 && name.compare(0, 4, "alt+") == 0;
  const std::string rest = *alt ? name.substr(4) : name;
  if (rest.size() != 1 || !std::isalnum(static_cast<unsigned char>(rest[0]))) return 0;
  return static_cast<char16_t>(rest[0]);
}

// A row given as a number or as the text of its first column / item.
int list_row(Window* w, const std::string& arg) {
  long long n;
  if (parse_int(arg, n)) return static_cast<int>(n);
  std::u16string text = platform::to_utf16(arg);
  if (auto* lv = dynamic_cast<ListViewModel*>(w->control.get())) {
    for (size_t i = 0; i < lv->rows.size(); ++i)
      if (!lv->rows[i].texts.empty() && lv->rows[i].texts[0] == text) return static_cast<int>(i);
  }
  if (auto* lb = dynamic_cast<ListBoxModel*>(w->control.get())) {
    for (size_t i = 0; i < lb->items.size(); ++i)
      if (lb->items[i].text == text) return static_cast<int>(i);
  }
  return -1;
}

TreeNode* tree_path(TreeViewModel& tv, const std::string& path) {
  TreeNode* at = &tv.root;
  std::string rest = path;
  int hops = 0;
  while (!rest.empty() && hops++ < 64) {
    size_t slash = rest.find('/');
    std::string part = rest.substr(0, slash);
    rest = slash == std::string::npos ? "" : rest.substr(slash + 1);
    std::u16string want = platform::to_utf16(part);
    TreeNode* next = nullptr;
    for (TreeNode* c : at->children)
      if (c->text == want) {
        next = c;
        break;
      }
    if (!next) return nullptr;
    at = next;
  }
  return at == &tv.root ? nullptr : at;
}

// ---- checks of a verb's words as the script is read ----

std::string needs_number(const std::vector<std::string>& a) {
  long long n;
  return parse_int(a[0], n) ? "" : "'" + a[0] + "' is not a number";
}

std::string check_expect(const std::vector<std::string>& a) {
  static const char* kinds[] = {"dialog",  "text",    "enabled", "disabled", "visible",
                                "hidden",  "checked", "state",   "progress"};
  bool known = false;
  for (const char* k : kinds) known = known || a[0] == k;
  if (!known) return "unknown expectation '" + a[0] + "'";
  long long n;
  if (!parse_int(a[1], n)) return "'" + a[1] + "' is not a number";
  if (a[0] == "text" && a.size() != 3) return "'expect text' needs an id and a quoted text";
  if (a[0] == "state" && (a.size() != 4 || !parse_int(a[3], n)))
    return "'expect state' needs an id, a tree path and a state image number";
  if (a[0] == "progress" && (a.size() != 3 || !parse_int(a[2], n) || n < 0 || n > 100))
    return "'expect progress' needs an id and a percentage from 0 to 100";
  if (a[0] != "text" && a[0] != "checked" && a[0] != "state" && a[0] != "progress" && a.size() != 2)
    return "'expect " + a[0] + "' takes one id";
  if (a[0] == "checked" && a.size() > 3) return "'expect checked' takes an id and a row";
  return "";
}

std::string check_key(const std::vector<std::string>& a) {
  bool alt = false;
  return key_code(a[0]) || key_character(a[0], &alt)
             ? ""
             : "unknown key '" + a[0] + "' (enter, escape, space, tab, shift+tab, f1, left, right, up, down, a letter, alt+letter)";
}

std::string check_answer(const std::vector<std::string>& a) {
  return answer_id(a[0]) ? "" : "unknown answer '" + a[0] + "'";
}

std::string check_device(const std::vector<std::string>& a) {
  if (a[0] != "arrive" && a[0] != "remove") return "'device' takes arrive or remove";
  long long n;
  if (!parse_int(a[1], n) || n < 0) return "'" + a[1] + "' is not a disk number";
  return "";
}

std::string check_wait(const std::vector<std::string>& a) {
  long long n;
  return parse_int(a[0], n) && n >= 0 ? "" : "'" + a[0] + "' is not a time in milliseconds";
}

int id_arg(const std::vector<std::string>& a, size_t i) {
  long long v = 0;
  parse_int(a[i], v);
  return static_cast<int>(v);
}

}  // namespace

const HeadlessDriver::Verb* HeadlessDriver::FindVerb(const std::string& name) {
  using D = HeadlessDriver;
  static const Verb kVerbs[] = {
      {"expect", 2, 4, check_expect, &D::run_expect, 0},
      {"click", 1, 4, needs_number, &D::run_click, kAction | kOnControl | kPointMayHide},
      {"dblclick", 1, 1, needs_number, &D::run_click, kAction | kOnControl},
      {"rclick", 1, 4, needs_number, &D::run_click, kAction | kOnControl | kPointMayHide},
      {"move", 1, 1, needs_number, &D::run_move, kAction | kOnControl},
      {"tick", 1, 2, needs_number, &D::run_tick, kAction | kOnControl},
      {"untick", 1, 2, needs_number, &D::run_tick, kAction | kOnControl},
      {"select", 2, 2, needs_number, &D::run_select, kAction | kOnControl},
      {"expand", 2, 2, needs_number, &D::run_expand, kAction | kOnControl},
      {"type", 2, 2, needs_number, &D::run_type, kAction | kOnControl},
      {"key", 1, 1, check_key, &D::run_key, kAction | kInMessageBox},
      {"menu", 1, 1, needs_number, &D::run_menu, kAction},
      {"answer", 1, 1, check_answer, &D::run_answer, kAction | kInMessageBox},
      {"choose", 1, 1, nullptr, &D::run_choose, kAction},
      {"wait", 1, 1, check_wait, &D::run_wait, kInMessageBox | kPassesTime},
      {"screenshot", 1, 1, nullptr, &D::run_screenshot, kAction | kInMessageBox},
      {"device", 2, 2, check_device, &D::run_device, kAction},
      {"fits", 0, 0, nullptr, &D::run_fits, 0},
      {"logoff", 0, 0, nullptr, &D::run_logoff, kAction},
  };
  for (const Verb& v : kVerbs)
    if (name == v.name) return &v;
  return nullptr;
}

std::string ScriptStep::describe() const {
  std::string s = verb;
  for (const auto& a : args) s += " " + a;
  if (line) s = "line " + std::to_string(line) + ": " + s;
  return s;
}

ScriptParseResult Script::parse(const std::string& text, const std::string& file) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  auto error = [&](const std::string& what) {
    return ScriptParseResult{false, file + ":" + std::to_string(number) + ": " + what};
  };
  while (std::getline(in, line)) {
    ++number;
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
      char c = line[i];
      if (c == ' ' || c == '\t' || c == '\r') {
        ++i;
        continue;
      }
      if (c == '#') break;
      if (c == '"') {
        std::string word;
        ++i;
        bool closed = false;
        while (i < line.size()) {
          char d = line[i++];
          if (d == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\')) {
            // Only \" and \\ are escapes: paths keep their backslashes.
            word += line[i++];
          } else if (d == '"') {
            closed = true;
            break;
          } else {
            word += d;
          }
        }
        if (!closed) return error("unterminated quoted text");
        words.push_back(word);
        continue;
      }
      size_t start = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
      words.push_back(line.substr(start, i - start));
    }
    if (words.empty()) continue;
    std::string verb = words[0];
    const HeadlessDriver::Verb* shape = HeadlessDriver::FindVerb(verb);
    if (!shape) return error("unknown verb '" + verb + "'");
    std::vector<std::string> args(words.begin() + 1, words.end());
    if (args.size() < shape->min_args || args.size() > shape->max_args)
      return error("'" + verb + "' takes " + std::to_string(shape->min_args) +
                   (shape->max_args != shape->min_args ? " to " + std::to_string(shape->max_args) : "") +
                   " arguments, got " + std::to_string(args.size()));
    if (shape->check)
      if (std::string wrong = shape->check(args); !wrong.empty()) return error(wrong);
    steps.push_back(ScriptStep{verb, args, number});
  }
  return {true, ""};
}

ScriptParseResult Script::load(const std::string& path) {
  // A folder opens as an empty stream: it would run as an empty script.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    return {false, path + (std::filesystem::exists(path, ec) ? ": not a file" : ": cannot open the script")};
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return {false, path + ": cannot open the script"};
  std::stringstream buffer;
  buffer << in.rdbuf();
  return parse(buffer.str(), path);
}

Script& Script::add(std::string verb, std::vector<std::string> args) {
  steps.push_back(ScriptStep{std::move(verb), std::move(args), 0});
  return *this;
}
Script& Script::expect_dialog(int id) { return add("expect", {"dialog", std::to_string(id)}); }
Script& Script::expect_text(int id, const std::string& t) { return add("expect", {"text", std::to_string(id), t}); }
Script& Script::expect_enabled(int id) { return add("expect", {"enabled", std::to_string(id)}); }
Script& Script::expect_disabled(int id) { return add("expect", {"disabled", std::to_string(id)}); }
Script& Script::expect_visible(int id) { return add("expect", {"visible", std::to_string(id)}); }
Script& Script::expect_hidden(int id) { return add("expect", {"hidden", std::to_string(id)}); }
Script& Script::expect_state(int id, const std::string& path, int image) {
  return add("expect", {"state", std::to_string(id), path, std::to_string(image)});
}
Script& Script::expect_progress(int id, int percent) {
  return add("expect", {"progress", std::to_string(id), std::to_string(percent)});
}
Script& Script::expect_checked(int id, int row) {
  if (row < 0) return add("expect", {"checked", std::to_string(id)});
  return add("expect", {"checked", std::to_string(id), std::to_string(row)});
}
Script& Script::click(int id) { return add("click", {std::to_string(id)}); }
Script& Script::dblclick(int id) { return add("dblclick", {std::to_string(id)}); }
Script& Script::rclick(int id, int row) {
  if (row < 0) return add("rclick", {std::to_string(id)});
  return add("rclick", {std::to_string(id), std::to_string(row)});
}
Script& Script::click_at(int id, int x, int y, bool shift) {
  std::vector<std::string> a = {std::to_string(id), std::to_string(x), std::to_string(y)};
  if (shift) a.push_back("shift");
  return add("click", std::move(a));
}
Script& Script::rclick_at(int id, int x, int y, bool shift) {
  std::vector<std::string> a = {std::to_string(id), std::to_string(x), std::to_string(y)};
  if (shift) a.push_back("shift");
  return add("rclick", std::move(a));
}
Script& Script::shift_click(int id) { return add("click", {std::to_string(id), "shift"}); }
Script& Script::move(int id) { return add("move", {std::to_string(id)}); }
Script& Script::tick(int id, int row) { return add("tick", {std::to_string(id), std::to_string(row)}); }
Script& Script::tick_text(int id, const std::string& t) { return add("tick", {std::to_string(id), t}); }
Script& Script::untick(int id, int row) { return add("untick", {std::to_string(id), std::to_string(row)}); }
Script& Script::tick_path(int id, const std::string& p) { return add("tick", {std::to_string(id), p}); }
Script& Script::untick_path(int id, const std::string& p) { return add("untick", {std::to_string(id), p}); }
Script& Script::select(int id, int row) { return add("select", {std::to_string(id), std::to_string(row)}); }
Script& Script::select_text(int id, const std::string& t) { return add("select", {std::to_string(id), t}); }
Script& Script::expand(int id, const std::string& p) { return add("expand", {std::to_string(id), p}); }
Script& Script::type(int id, const std::string& t) { return add("type", {std::to_string(id), t}); }
Script& Script::key(const std::string& name) { return add("key", {name}); }
Script& Script::menu(int command) { return add("menu", {std::to_string(command)}); }
Script& Script::answer(const std::string& b) { return add("answer", {b}); }
Script& Script::choose(const std::string& p) { return add("choose", {p}); }
Script& Script::wait(uint64_t ms) { return add("wait", {std::to_string(ms)}); }
Script& Script::screenshot(const std::string& f) { return add("screenshot", {f}); }
Script& Script::fits() { return add("fits", {}); }
Script& Script::logoff() { return add("logoff", {}); }
Script& Script::device(bool arrive, int disk) { return add("device", {arrive ? "arrive" : "remove", std::to_string(disk)}); }

// ---- the driver ----

HeadlessDriver::HeadlessDriver(Script script, DriverOptions options)
    : script_(std::move(script)), options_(std::move(options)) {
  // Each window's answer to a log-off the script asked for goes to the log.
  SetEndSessionObserver([this](HWND window, LRESULT answer) {
    log(std::string("logoff ") + (answer ? "allowed" : "refused") + " by " + DescribeWindow(FindWindowModel(window)));
  });
}
HeadlessDriver::~HeadlessDriver() { SetEndSessionObserver(nullptr); }

void HeadlessDriver::log(const std::string& line) {
  log_lines_.push_back(line);
  std::ostream& out = options_.log ? *options_.log : std::cerr;
  out << line << "\n";
  out.flush();
}

void HeadlessDriver::fail(const std::string& message) {
  log("script failed: " + message);
  next_ = script_.steps.size();  // nothing more runs after a failure
  throw ScriptFailure(message);
}

void HeadlessDriver::modal_started(ModalLoop& loop) {
  if (std::string line = ModalStartedLine(loop); !line.empty()) log(line);
}

void HeadlessDriver::modal_ended(ModalLoop& loop) {
  if (std::string line = ModalEndedLine(loop); !line.empty()) log(line);
}

void BroadcastDeviceChange(UINT event, LPARAM data) {
  for (Window* w : TopLevelWindows()) PostMessageW(w->handle, WM_DEVICECHANGE, event, data);
}

HeadlessDriver::Outcome HeadlessDriver::run_step(const ScriptStep& s, bool may_wait, std::string& error) {
  const Verb* verb = FindVerb(s.verb);
  if (!verb) {
    error = "cannot run " + s.describe();
    return Outcome::Failed;
  }
  UiThread& t = CurrentUiThread();
  Window* top = innermost(t);
  // An open message box or picker accepts only its own verbs.
  if (top && top->role == DialogRole::MessageBox && !(verb->flags & kInMessageBox)) {
    const MessageBoxInfo* box = MessageBoxFor(top->handle);
    error = "unexpected message box \"" + utf8(top->text) + "\": \"" + (box ? utf8(box->text) : "") +
            "\" while the script wanted: " + s.describe();
    return Outcome::Failed;
  }
  StepRun run{s, t, top, nullptr, may_wait, error};
  if (verb->flags & kOnControl) {
    const auto& a = s.args;
    int id = id_arg(a, 0);
    Window* c = find_control(t, id);
    if (!c) {
      error = "no control " + std::to_string(id) + " in " + DescribeWindow(top);
      return Outcome::Waiting;
    }
    // A click at a point only takes its place from the control, which may be a
    // hidden frame marking a drawn area: the click lands on what lies there.
    const bool at_point = (verb->flags & kPointMayHide) && a.size() >= 3 && a[1] != "shift";
    if (!usable(c) && !(at_point && c->enabled())) {
      error = "control " + std::to_string(id) + " of " + DescribeWindow(top) + " is " +
              (c->showing() ? "disabled" : "hidden");
      return Outcome::Failed;
    }
    run.control = c;
  }
  return (this->*verb->run)(run);
}

HeadlessDriver::Outcome HeadlessDriver::run_expect(StepRun& run) {
  UiThread& t = run.thread;
  Window* top = run.top;
  const auto& a = run.step.args;
  std::string& error = run.error;
  const std::string& kind = a[0];
  int id = id_arg(a, 1);
  if (kind == "dialog") {
    bool open = top && top->template_id == id && top->visible();
    if (!open)
      for (Window* w : TopLevelWindows())
        if (w->template_id == id && w->visible() && w->enabled()) open = true;
    if (open) return Outcome::Done;
    error = "dialog " + std::to_string(id) + " did not open; open: " + DescribeWindow(top);
    return Outcome::Waiting;
  }
  Window* c = find_control(t, id);
  if (!c) {
    error = "no control " + std::to_string(id) + " in " + DescribeWindow(top);
    return Outcome::Waiting;
  }
  bool holds = false;
  std::string actual;
  if (kind == "text") {
    std::u16string text = c->text;
    if (auto* combo = dynamic_cast<ComboBoxModel*>(c->control.get()))
      if (combo->current >= 0 && combo->current < static_cast<int>(combo->items.size()))
        text = combo->items[static_cast<size_t>(combo->current)].text;
    holds = text == platform::to_utf16(a[2]);
    actual = "text is \"" + utf8(text) + "\"";
  } else if (kind == "enabled" || kind == "disabled") {
    holds = c->enabled() == (kind == "enabled");
    actual = c->enabled() ? "enabled" : "disabled";
  } else if (kind == "visible" || kind == "hidden") {
    holds = c->showing() == (kind == "visible");
    actual = c->showing() ? "visible" : "hidden";
  } else if (kind == "checked") {
    if (a.size() == 3) {
      if (auto* lv = dynamic_cast<ListViewModel*>(c->control.get())) {
        int row = list_row(c, a[2]);
        holds = row >= 0 && row < static_cast<int>(lv->rows.size()) &&
                ((lv->rows[static_cast<size_t>(row)].state & LVIS_STATEIMAGEMASK) >> 12) == 2;
      } else if (auto* tv = dynamic_cast<TreeViewModel*>(c->control.get())) {
        TreeNode* node = tree_path(*tv, a[2]);
        holds = node && ((node->state & TVIS_STATEIMAGEMASK) >> 12) == 2;
      }
    } else if (auto* b = dynamic_cast<ButtonModel*>(c->control.get())) {
      holds = b->check == BST_CHECKED;
    }
    actual = "not checked";
  } else if (kind == "state") {
    auto* tv = dynamic_cast<TreeViewModel*>(c->control.get());
    TreeNode* node = tv ? tree_path(*tv, a[2]) : nullptr;
    long long n = -1;
    parse_int(a[3], n);
    const long long image = node ? static_cast<long long>((node->state & TVIS_STATEIMAGEMASK) >> 12) : -1;
    holds = image == n;
    actual = node ? "its state image is " + std::to_string(image) : "there is no item " + a[2];
  } else if (kind == "progress") {
    // Holds when the bar passes that share of its range: it stands at or
    // above it, having been seen below it while this step waited (at once
    // for 0). A bar left full by an earlier stage waits for the next.
    auto* bar = dynamic_cast<ProgressModel*>(c->control.get());
    long long percent = 0;
    parse_int(a[2], percent);
    if (bar) {
      const long long span = static_cast<long long>(bar->high) - bar->low;
      const long long done = static_cast<long long>(bar->pos) - bar->low;
      const bool reached = span > 0 && done * 100 >= percent * span;
      if (!reached) progress_below_step_ = next_;
      holds = reached && (percent == 0 || progress_below_step_ == next_);
      actual = "it stands at " + std::to_string(span > 0 ? done * 100 / span : 0) + "%" +
               (reached ? ", not yet seen below" : "");
    } else {
      actual = "it is no progress bar";
    }
  }
  if (holds) return Outcome::Done;
  error = "control " + std::to_string(id) + " of " + DescribeWindow(top) + ": expected " + kind +
          (kind == "text" ? " \"" + a[2] + "\"" : "") + ", but " + actual;
  return Outcome::Waiting;
}

HeadlessDriver::Outcome HeadlessDriver::run_wait(StepRun& run) {
  UiThread& t = run.thread;
  const auto& a = run.step.args;
  bool may_wait = run.may_wait;
  long long n = 0;
  parse_int(a[0], n);
  uint64_t now = time_source().now_ms();
  if (!wait_started_) {
    wait_started_ = true;
    wait_until_ = now + static_cast<uint64_t>(n);
  }
  if (now >= wait_until_) {
    wait_started_ = false;
    return Outcome::Done;
  }
  if (!may_wait) return Outcome::Waiting;
  uint64_t due = NextTimerDue(t);
  time_source().advance_to(std::min(due, wait_until_));
  if (time_source().now_ms() >= wait_until_) {
    wait_started_ = false;
    return Outcome::Done;
  }
  return Outcome::Waiting;
}

HeadlessDriver::Outcome HeadlessDriver::run_answer(StepRun& run) {
  Window* top = run.top;
  const auto& a = run.step.args;
  std::string& error = run.error;
  int want = answer_id(a[0]);
  const MessageBoxInfo* box = top ? MessageBoxFor(top->handle) : nullptr;
  if (box) {
    if (std::find(box->buttons.begin(), box->buttons.end(), want) == box->buttons.end()) {
      error = "message box \"" + utf8(box->caption) + "\": \"" + utf8(box->text) + "\" has no " + a[0] + " button";
      return Outcome::Failed;
    }
    log("answer " + a[0]);
    EndPickerOrBox(top->handle, want);
    return Outcome::Done;
  }
  if (top && PickerFor(top->handle) && (want == IDCANCEL || want == IDOK)) {
    EndPickerOrBox(top->handle, want);
    return Outcome::Done;
  }
  error = "no message box to answer; open: " + DescribeWindow(top);
  return Outcome::Waiting;
}

HeadlessDriver::Outcome HeadlessDriver::run_choose(StepRun& run) {
  Window* top = run.top;
  const auto& a = run.step.args;
  std::string& error = run.error;
  if (top && PickerFor(top->handle)) {
    log("choose \"" + a[0] + "\"");
    ChooseInPicker(top->handle, platform::to_utf16(a[0]));
    return Outcome::Done;
  }
  error = "no file or folder dialog to choose in; open: " + DescribeWindow(top);
  return Outcome::Waiting;
}

HeadlessDriver::Outcome HeadlessDriver::run_screenshot(StepRun& run) {
  Window* top = run.top;
  const auto& a = run.step.args;
  std::string& error = run.error;
  if (!top) {
    error = "no window to take a picture of";
    return Outcome::Failed;
  }
  std::string path = a[0];
  if (!options_.screenshots_dir.empty() && !path.empty() && path[0] != '/')
    path = options_.screenshots_dir + "/" + path;
  std::string why;
  if (!SaveWindowPicture(*top, path, &why)) {
    error = why;
    return Outcome::Failed;
  }
  log("screenshot " + path);
  return Outcome::Done;
}

HeadlessDriver::Outcome HeadlessDriver::run_fits(StepRun& run) {
  Window* top = run.top;
  std::string& error = run.error;
  if (!top) {
    error = "no window to measure";
    return Outcome::Failed;
  }
  std::vector<TextOverflow> cut;
  if (!FindTextOverflows(*top, &cut)) {
    error = "texts are measured in the widget view, which this run lacks";
    return Outcome::Failed;
  }
  if (cut.empty()) {
    log("texts fit in " + DescribeWindow(top));
    return Outcome::Done;
  }
  error = "texts cut off in " + DescribeWindow(top) + ":";
  for (const TextOverflow& c : cut)
    error += " control " + std::to_string(c.id) + " needs " + std::to_string(c.needed) + " px, has " +
             std::to_string(c.available) + " (\"" + utf8(c.text) + "\");";
  return Outcome::Failed;
}

namespace {
constexpr LPARAM kEndSessionLogOff = static_cast<LPARAM>(0x80000000u);
}  // namespace

HeadlessDriver::Outcome HeadlessDriver::run_logoff(StepRun&) {
  log("logoff");
  for (Window* w : TopLevelWindows()) PostMessageW(w->handle, WM_QUERYENDSESSION, 0, kEndSessionLogOff);
  return Outcome::Done;
}

HeadlessDriver::Outcome HeadlessDriver::run_device(StepRun& run) {
  const auto& a = run.step.args;
  std::string& error = run.error;
  long long n = 0;
  parse_int(a[1], n);
  bool arrive = a[0] == "arrive";
  log(std::string("device ") + (arrive ? "arrive " : "remove ") + std::to_string(n));
  if (options_.device_hook) {
    std::string why;
    if (!options_.device_hook(arrive, static_cast<int>(n), &why)) {
      error = "device " + a[0] + " " + a[1] + ": " + why;
      return Outcome::Failed;
    }
  } else {
    BroadcastDeviceChange(arrive ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE, 0);
  }
  return Outcome::Done;
}

HeadlessDriver::Outcome HeadlessDriver::run_key(StepRun& run) {
  UiThread& t = run.thread;
  Window* top = run.top;
  const auto& a = run.step.args;
  std::string& error = run.error;
  UINT vk = key_code(a[0]);
  HWND target = t.focus ? t.focus : (top ? top->handle : nullptr);
  if (!target) {
    error = "no window takes the key";
    return Outcome::Failed;
  }
  bool alt = false;
  if (char16_t c = key_character(a[0], &alt)) {
    // As the view sends them: the character, WM_SYSCHAR with Alt held.
    PostInputMessage(target, alt ? WM_SYSCHAR : WM_CHAR, c, 1);
    return Outcome::Done;
  }
  // Bit 0 of a Tab's lParam asks the dialog for Shift+Tab; a scripted
  // `key tab` moves forwards like the Tab key alone.
  LPARAM flags = vk == VK_TAB ? (a[0] == "shift+tab" ? 1 : 0) : 1;
  PostInputMessage(target, WM_KEYDOWN, vk, flags);
  PostInputMessage(target, WM_KEYUP, vk, flags);
  return Outcome::Done;
}

HeadlessDriver::Outcome HeadlessDriver::run_menu(StepRun& run) {
  Window* top = run.top;
  const auto& a = run.step.args;
  std::string& error = run.error;
  UINT command = static_cast<UINT>(id_arg(a, 0));
  if (TrackedMenu* tracked = CurrentTrackedMenu(); tracked && top && top->class_name == u"#32768") {
    Menu* m = FindMenu(tracked->menu);
    MenuItem* item = m ? m->find(command, MF_BYCOMMAND) : nullptr;
    if (!item) {
      error = "the popup menu has no item " + a[0];
      return Outcome::Failed;
    }
    if (item->flags & (MF_GRAYED | MF_DISABLED)) {
      error = "menu item " + a[0] + " is disabled";
      return Outcome::Failed;
    }
    tracked->chosen = command;
    if (auto* loop = reinterpret_cast<ModalLoop*>(top->user_data)) loop->ended = true;
    return Outcome::Done;
  }
  if (!top) {
    error = "no window has menu item " + a[0];
    return Outcome::Failed;
  }
  HMENU popup = nullptr;
  int where = MenuOwningCommand(*top, command, &popup);
  if (!where) {
    error = DescribeWindow(top) + " has no menu item " + a[0];
    return Outcome::Failed;
  }
  HWND h = top->handle;
  SendMessageW(h, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), MAKELONG(0, where == 2));
  // The pop-up opens: its owner-drawn and callback pictures are drawn.
  DrawPopupMenu(h, popup);
  Menu* m = FindMenu(popup);
  MenuItem* item = m ? m->find(command, MF_BYCOMMAND) : nullptr;
  if (!item || (item->flags & (MF_GRAYED | MF_DISABLED))) {
    error = "menu item " + a[0] + " is disabled";
    return Outcome::Failed;
  }
  if (where == 2)
    PostMessageW(h, WM_SYSCOMMAND, command, 0);
  else
    PostMessageW(h, WM_COMMAND, command, 0);
  return Outcome::Done;
}

HeadlessDriver::Outcome HeadlessDriver::run_click(StepRun& run) {
  Window* c = run.control;
  const auto& a = run.step.args;
  const ScriptStep& s = run.step;
  std::string& error = run.error;
  int id = id_arg(a, 0);
  POINT at = centre(c);
  // Optional words after the id: a point "X Y" of the control's client
  // area (or, for rclick, a list row), then "shift".
  std::vector<std::string> rest(a.begin() + 1, a.end());
  WPARAM modifiers = 0;
  if (!rest.empty() && rest.back() == "shift") {
    modifiers = MK_SHIFT;
    rest.pop_back();
  }
  if (rest.size() == 2) {
    long long x = 0, y = 0;
    if (!parse_int(rest[0], x) || !parse_int(rest[1], y)) {
      error = "bad point '" + rest[0] + " " + rest[1] + "'";
      return Outcome::Failed;
    }
    RECT r = c->client_rect();
    // A hidden control only places the point, which may lie beyond it.
    if (c->showing() && (x < r.left || y < r.top || x >= r.right || y >= r.bottom)) {
      error = "point " + rest[0] + "," + rest[1] + " lies outside control " + std::to_string(id);
      return Outcome::Failed;
    }
    at = {static_cast<LONG>(x), static_cast<LONG>(y)};
  } else if (rest.size() > 2 || (rest.size() == 1 && s.verb == "click")) {
    error = s.verb + " takes a point X Y" + (s.verb == "rclick" ? " or a ROW" : "") + ", then \"shift\"";
    return Outcome::Failed;
  } else if (s.verb == "rclick" && rest.size() == 1) {
    int row = list_row(c, rest[0]);
    if (auto* lv = dynamic_cast<ListViewModel*>(c->control.get())) {
      lv->ensure_visible(*c, row);  // scrolled to first, as a user does
      RECT r = lv->row_rect(*c, row);
      at = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
  }
  if (s.verb == "dblclick") {
    post_mouse(c, at, {{WM_LBUTTONDBLCLK, MK_LBUTTON}});
  } else {
    post_click(c, at, s.verb == "rclick", modifiers);
  }
  return Outcome::Done;
}

HeadlessDriver::Outcome HeadlessDriver::run_move(StepRun& run) {
  Window* c = run.control;
  post_mouse(c, centre(c), {{WM_MOUSEMOVE, 0}});
  return Outcome::Done;
}

HeadlessDriver::Outcome HeadlessDriver::run_tick(StepRun& run) {
  Window* c = run.control;
  const auto& a = run.step.args;
  const ScriptStep& s = run.step;
  std::string& error = run.error;
  bool want = s.verb == "tick";
  bool is_list = dynamic_cast<ListViewModel*>(c->control.get()) || dynamic_cast<TreeViewModel*>(c->control.get());
  if (is_list && a.size() < 2) {
    error = "'" + s.verb + "' on list " + a[0] + " needs a row";
    return Outcome::Failed;
  }
  if (auto* lv = dynamic_cast<ListViewModel*>(c->control.get())) {
    int row = list_row(c, a[1]);
    if (row < 0 || row >= static_cast<int>(lv->rows.size())) {
      error = "list " + a[0] + " has no row " + a[1];
      return Outcome::Failed;
    }
    bool checked = ((lv->rows[static_cast<size_t>(row)].state & LVIS_STATEIMAGEMASK) >> 12) == 2;
    if (checked != want) {
      lv->ensure_visible(*c, row);
      RECT r = lv->row_rect(*c, row);
      post_click(c, {5, (r.top + r.bottom) / 2}, false);
    }
    return Outcome::Done;
  }
  if (auto* tv = dynamic_cast<TreeViewModel*>(c->control.get())) {
    TreeNode* node = tree_path(*tv, a[1]);
    if (!node) {
      error = "tree " + a[0] + " has no item " + a[1];
      return Outcome::Failed;
    }
    RECT r = tv->state_icon_rect(*c, node);
    if (r.right == 0) {
      error = "tree item " + a[1] + " is not shown (expand its parent first)";
      return Outcome::Failed;
    }
    const TreeTick next = NextTreeTick(*tv, *node, want, tree_tick_clicks_, error);
    if (next == TreeTick::Click) post_click(c, {(r.left + r.right) / 2, (r.top + r.bottom) / 2}, false);
    // One click per step: a box with partly ticked looks may need the step again.
    return next == TreeTick::Failed ? Outcome::Failed : Outcome::Done;
  }
  if (auto* b = dynamic_cast<ButtonModel*>(c->control.get())) {
    if ((b->check == BST_CHECKED) != want) post_click(c, centre(c), false);
    return Outcome::Done;
  }
  error = "control " + a[0] + " has no check boxes";
  return Outcome::Failed;
}

HeadlessDriver::Outcome HeadlessDriver::run_select(StepRun& run) {
  Window* c = run.control;
  const auto& a = run.step.args;
  std::string& error = run.error;
  long long n = 0;
  if (auto* lv = dynamic_cast<ListViewModel*>(c->control.get())) {
    int row = list_row(c, a[1]);
    if (row < 0 || row >= static_cast<int>(lv->rows.size())) {
      error = "list " + a[0] + " has no row " + a[1];
      return Outcome::Failed;
    }
    lv->ensure_visible(*c, row);
    RECT r = lv->row_rect(*c, row);
    post_click(c, {std::min<LONG>(40, r.right - 1), (r.top + r.bottom) / 2}, false);
    return Outcome::Done;
  }
  if (auto* lb = dynamic_cast<ListBoxModel*>(c->control.get())) {
    int row = list_row(c, a[1]);
    if (row < 0 || row >= static_cast<int>(lb->items.size())) {
      error = "list " + a[0] + " has no item " + a[1];
      return Outcome::Failed;
    }
    lb->current = row;
    NotifyWindowRepainted(*c);
    HWND handle = c->handle;
    NotifyParentCommand(*c, c->kind == WindowKind::ComboBox ? CBN_SELCHANGE : LBN_SELCHANGE);
    // A drop-down combo's field takes the picked text after the
    // notification, as on the platform (the handler still reads the old text).
    if (Window* still = FindWindowModel(handle)) lb->show_current(*still);
    return Outcome::Done;
  }
  if (auto* tv = dynamic_cast<TreeViewModel*>(c->control.get())) {
    TreeNode* node = tree_path(*tv, a[1]);
    if (!node) {
      error = "tree " + a[0] + " has no item " + a[1];
      return Outcome::Failed;
    }
    tv->select(*c, node, TVC_BYMOUSE);
    return Outcome::Done;
  }
  if (auto* sl = dynamic_cast<SliderModel*>(c->control.get())) {
    if (!parse_int(a[1], n)) {
      error = "'" + a[1] + "' is not a slider position";
      return Outcome::Failed;
    }
    sl->drag_to(*c, static_cast<int>(n));
    return Outcome::Done;
  }
  error = "control " + a[0] + " has nothing to select";
  return Outcome::Failed;
}

HeadlessDriver::Outcome HeadlessDriver::run_expand(StepRun& run) {
  Window* c = run.control;
  const auto& a = run.step.args;
  std::string& error = run.error;
  auto* tv = dynamic_cast<TreeViewModel*>(c->control.get());
  TreeNode* node = tv ? tree_path(*tv, a[1]) : nullptr;
  if (!node) {
    error = "tree " + a[0] + " has no item " + a[1];
    return Outcome::Failed;
  }
  tv->expand(*c, node, TVE_EXPAND, true);
  return Outcome::Done;
}

HeadlessDriver::Outcome HeadlessDriver::run_type(StepRun& run) {
  Window* c = run.control;
  const auto& a = run.step.args;
  std::string& error = run.error;
  if (!dynamic_cast<EditModel*>(c->control.get()) && c->kind != WindowKind::ComboBox) {
    error = "control " + a[0] + " takes no typing";
    return Outcome::Failed;
  }
  SetFocus(c->handle);
  for (char16_t ch : platform::to_utf16(a[1])) PostInputMessage(c->handle, WM_CHAR, ch, 1);
  return Outcome::Done;
}

namespace {
// Another thread may still post: a second message queue, or work in
// progress on the clock. Only then is waiting in real time worth it.
bool others_may_post() {
  return UiThreadCount() > 1 || platform::Clock::instance().active_threads() > 0;
}
}  // namespace

IdleResult HeadlessDriver::wait(UiThread& t) {
  if (!finished()) {
    Outcome o = step_once(true);
    if (o == Outcome::Done) return IdleResult::Retry;
    const ScriptStep& step = script_.steps[next_];
    const Verb* verb = FindVerb(step.verb);
    if (verb && (verb->flags & kPassesTime)) return IdleResult::Retry;
    // Waiting for something: let time pass up to the budget.
    uint64_t now = time_source().now_ms();
    if (waiting_since_ == UINT64_MAX) waiting_since_ = now;
    uint64_t deadline = waiting_since_ + options_.wait_budget_ms;
    uint64_t due = NextTimerDue(t);
    if (due != UINT64_MAX && due <= deadline) {
      time_source().advance_to(due);
      return IdleResult::Retry;
    }
    // Nothing due in time: another thread may still post (a worker).
    if (others_may_post()) {
      std::unique_lock lock(t.mutex);
      if (t.wake.wait_for(lock, std::chrono::milliseconds(options_.real_grace_ms), [&] {
            return !t.posted.empty() || !t.cross_sent.empty() || t.quit_posted;
          }))
        return IdleResult::Retry;
    }
    time_source().advance_to(deadline);
    fail(step.describe() + ": " + last_error_ + " (waited " + std::to_string(options_.wait_budget_ms) + " ms)");
  }
  // The script is done (or absent): time runs on while timers are set.
  uint64_t due = NextTimerDue(t);
  if (due != UINT64_MAX) {
    time_source().advance_to(due);
    return IdleResult::Retry;
  }
  if (!others_may_post()) return IdleResult::Stalled;
  std::unique_lock lock(t.mutex);
  bool woke = t.wake.wait_for(lock, std::chrono::milliseconds(options_.real_grace_ms), [&] {
    return !t.posted.empty() || !t.cross_sent.empty() || t.quit_posted;
  });
  return woke ? IdleResult::Retry : IdleResult::Stalled;
}

void HeadlessDriver::peek_idle(UiThread&) {
  // A message pump inside a long operation: run steps that act at once
  // (a Cancel click), never ones that need time to pass.
  if (finished()) return;
  const Verb* verb = FindVerb(script_.steps[next_].verb);
  if (verb && (verb->flags & kPassesTime)) return;
  step_once(false);
}

HeadlessDriver::Outcome HeadlessDriver::step_once(bool may_wait) {
  // Actions count as done before they run: their handlers may open dialogs
  // whose loops run the steps after them.
  size_t index = next_;
  ScriptStep step = script_.steps[index];
  const Verb* verb = FindVerb(step.verb);
  bool action = verb && (verb->flags & kAction);
  if (action) {
    ++next_;
    waiting_since_ = UINT64_MAX;
  }
  std::string error;
  Outcome o = run_step(step, may_wait, error);
  if (o == Outcome::Failed) fail(step.describe() + ": " + error);
  if (o == Outcome::Done) {
    if (!action) {
      ++next_;
      waiting_since_ = UINT64_MAX;
    }
  } else if (action && next_ == index + 1) {
    next_ = index;  // nothing happened yet; try again later
  }
  last_error_ = error;
  return o;
}

void HeadlessDriver::stalled(UiThread& t) {
  fail(std::string(finished() ? "the script ended" : "the script is stuck") + " while " +
       DescribeWindow(innermost(t)) + " waits for input");
}

HeadlessSession::HeadlessSession(Script script, DriverOptions options)
    : driver_(std::make_unique<HeadlessDriver>(std::move(script), std::move(options))) {
  // Headless runs use virtual time on the platform clock, shared with Sleep.
  platform::Clock::instance().set_mode(platform::Clock::Mode::Virtual);
  set_time_source(nullptr);
  set_loop_backend(driver_.get());
}

HeadlessSession::~HeadlessSession() { set_loop_backend(nullptr); }

}  // namespace platform::ui
