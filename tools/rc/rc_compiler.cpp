#include "tools/rc/rc_compiler.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>

#include "platform/core/ascii_case.h"

namespace rc {

namespace {

namespace fs = std::filesystem;

// Names the resource scripts use from the platform's headers, with their values.
const std::pair<const char*, long long> kBuiltins[] = {
    {"WS_OVERLAPPED", 0x0}, {"WS_POPUP", 0x80000000LL}, {"WS_CHILD", 0x40000000}, {"WS_MINIMIZE", 0x20000000},
    {"WS_VISIBLE", 0x10000000}, {"WS_DISABLED", 0x08000000}, {"WS_CLIPSIBLINGS", 0x04000000},
    {"WS_CLIPCHILDREN", 0x02000000}, {"WS_MAXIMIZE", 0x01000000}, {"WS_CAPTION", 0x00C00000},
    {"WS_BORDER", 0x00800000}, {"WS_DLGFRAME", 0x00400000}, {"WS_VSCROLL", 0x00200000},
    {"WS_HSCROLL", 0x00100000}, {"WS_SYSMENU", 0x00080000}, {"WS_THICKFRAME", 0x00040000},
    {"WS_GROUP", 0x00020000}, {"WS_TABSTOP", 0x00010000}, {"WS_MINIMIZEBOX", 0x00020000},
    {"WS_MAXIMIZEBOX", 0x00010000}, {"WS_OVERLAPPEDWINDOW", 0x00CF0000}, {"WS_POPUPWINDOW", 0x80880000LL},
    {"WS_EX_DLGMODALFRAME", 0x1}, {"WS_EX_NOPARENTNOTIFY", 0x4}, {"WS_EX_TOPMOST", 0x8},
    {"WS_EX_ACCEPTFILES", 0x10}, {"WS_EX_TRANSPARENT", 0x20}, {"WS_EX_TOOLWINDOW", 0x80},
    {"WS_EX_WINDOWEDGE", 0x100}, {"WS_EX_CLIENTEDGE", 0x200}, {"WS_EX_CONTEXTHELP", 0x400},
    {"WS_EX_RIGHT", 0x1000}, {"WS_EX_STATICEDGE", 0x20000}, {"WS_EX_APPWINDOW", 0x40000},
    {"DS_ABSALIGN", 0x1}, {"DS_SYSMODAL", 0x2}, {"DS_3DLOOK", 0x4}, {"DS_FIXEDSYS", 0x8},
    {"DS_NOFAILCREATE", 0x10}, {"DS_LOCALEDIT", 0x20}, {"DS_SETFONT", 0x40}, {"DS_MODALFRAME", 0x80},
    {"DS_NOIDLEMSG", 0x100}, {"DS_SETFOREGROUND", 0x200}, {"DS_CONTROL", 0x400}, {"DS_CENTER", 0x800},
    {"DS_CENTERMOUSE", 0x1000}, {"DS_CONTEXTHELP", 0x2000}, {"DS_SHELLFONT", 0x48},
    {"BS_PUSHBUTTON", 0x0}, {"BS_DEFPUSHBUTTON", 0x1}, {"BS_CHECKBOX", 0x2}, {"BS_AUTOCHECKBOX", 0x3},
    {"BS_RADIOBUTTON", 0x4}, {"BS_3STATE", 0x5}, {"BS_AUTO3STATE", 0x6}, {"BS_GROUPBOX", 0x7},
    {"BS_AUTORADIOBUTTON", 0x9}, {"BS_OWNERDRAW", 0xB}, {"BS_LEFTTEXT", 0x20}, {"BS_ICON", 0x40},
    {"BS_BITMAP", 0x80}, {"BS_LEFT", 0x100}, {"BS_RIGHT", 0x200}, {"BS_CENTER", 0x300}, {"BS_TOP", 0x400},
    {"BS_BOTTOM", 0x800}, {"BS_VCENTER", 0xC00}, {"BS_PUSHLIKE", 0x1000}, {"BS_MULTILINE", 0x2000},
    {"BS_NOTIFY", 0x4000}, {"BS_FLAT", 0x8000},
    {"SS_LEFT", 0x0}, {"SS_CENTER", 0x1}, {"SS_RIGHT", 0x2}, {"SS_ICON", 0x3}, {"SS_BLACKRECT", 0x4},
    {"SS_GRAYRECT", 0x5}, {"SS_WHITERECT", 0x6}, {"SS_BLACKFRAME", 0x7}, {"SS_GRAYFRAME", 0x8},
    {"SS_WHITEFRAME", 0x9}, {"SS_SIMPLE", 0xB}, {"SS_LEFTNOWORDWRAP", 0xC}, {"SS_OWNERDRAW", 0xD},
    {"SS_BITMAP", 0xE}, {"SS_ETCHEDHORZ", 0x10}, {"SS_ETCHEDVERT", 0x11}, {"SS_ETCHEDFRAME", 0x12},
    {"SS_REALSIZECONTROL", 0x40}, {"SS_NOPREFIX", 0x80}, {"SS_NOTIFY", 0x100}, {"SS_CENTERIMAGE", 0x200},
    {"SS_RIGHTJUST", 0x400}, {"SS_REALSIZEIMAGE", 0x800}, {"SS_SUNKEN", 0x1000},
    {"ES_LEFT", 0x0}, {"ES_CENTER", 0x1}, {"ES_RIGHT", 0x2}, {"ES_MULTILINE", 0x4}, {"ES_UPPERCASE", 0x8},
    {"ES_LOWERCASE", 0x10}, {"ES_PASSWORD", 0x20}, {"ES_AUTOVSCROLL", 0x40}, {"ES_AUTOHSCROLL", 0x80},
    {"ES_NOHIDESEL", 0x100}, {"ES_OEMCONVERT", 0x400}, {"ES_READONLY", 0x800}, {"ES_WANTRETURN", 0x1000},
    {"ES_NUMBER", 0x2000}, {"ES_SAVESEL", 0x8000}, {"ES_SUNKEN", 0x4000}, {"ES_DISABLENOSCROLL", 0x2000},
    {"LBS_NOTIFY", 0x1}, {"LBS_SORT", 0x2}, {"LBS_NOREDRAW", 0x4}, {"LBS_MULTIPLESEL", 0x8},
    {"LBS_OWNERDRAWFIXED", 0x10}, {"LBS_HASSTRINGS", 0x40}, {"LBS_USETABSTOPS", 0x80},
    {"LBS_NOINTEGRALHEIGHT", 0x100}, {"LBS_WANTKEYBOARDINPUT", 0x400}, {"LBS_EXTENDEDSEL", 0x800},
    {"LBS_DISABLENOSCROLL", 0x1000}, {"LBS_NOSEL", 0x4000}, {"LBS_STANDARD", 0xA00003},
    {"CBS_SIMPLE", 0x1}, {"CBS_DROPDOWN", 0x2}, {"CBS_DROPDOWNLIST", 0x3}, {"CBS_OWNERDRAWFIXED", 0x10},
    {"CBS_AUTOHSCROLL", 0x40}, {"CBS_OEMCONVERT", 0x80}, {"CBS_SORT", 0x100}, {"CBS_HASSTRINGS", 0x200},
    {"CBS_NOINTEGRALHEIGHT", 0x400}, {"CBS_DISABLENOSCROLL", 0x800},
    {"LVS_ICON", 0x0}, {"LVS_REPORT", 0x1}, {"LVS_SMALLICON", 0x2}, {"LVS_LIST", 0x3}, {"LVS_SINGLESEL", 0x4},
    {"LVS_SHOWSELALWAYS", 0x8}, {"LVS_SORTASCENDING", 0x10}, {"LVS_SORTDESCENDING", 0x20},
    {"LVS_SHAREIMAGELISTS", 0x40}, {"LVS_NOLABELWRAP", 0x80}, {"LVS_AUTOARRANGE", 0x100},
    {"LVS_EDITLABELS", 0x200}, {"LVS_NOSCROLL", 0x2000}, {"LVS_ALIGNLEFT", 0x800},
    {"LVS_OWNERDRAWFIXED", 0x400}, {"LVS_NOCOLUMNHEADER", 0x4000}, {"LVS_NOSORTHEADER", 0x8000},
    {"TVS_HASBUTTONS", 0x1}, {"TVS_HASLINES", 0x2}, {"TVS_LINESATROOT", 0x4}, {"TVS_EDITLABELS", 0x8},
    {"TVS_DISABLEDRAGDROP", 0x10}, {"TVS_SHOWSELALWAYS", 0x20}, {"TVS_RTLREADING", 0x40},
    {"TVS_NOTOOLTIPS", 0x80}, {"TVS_CHECKBOXES", 0x100}, {"TVS_TRACKSELECT", 0x200},
    {"TVS_SINGLEEXPAND", 0x400}, {"TVS_INFOTIP", 0x800}, {"TVS_FULLROWSELECT", 0x1000},
    {"TVS_NOSCROLL", 0x2000}, {"TVS_NONEVENHEIGHT", 0x4000},
    {"PBS_SMOOTH", 0x1}, {"PBS_VERTICAL", 0x4}, {"PBS_MARQUEE", 0x8},
    {"TBS_AUTOTICKS", 0x1}, {"TBS_VERT", 0x2}, {"TBS_HORZ", 0x0}, {"TBS_TOP", 0x4}, {"TBS_BOTTOM", 0x0},
    {"TBS_LEFT", 0x4}, {"TBS_RIGHT", 0x0}, {"TBS_BOTH", 0x8}, {"TBS_NOTICKS", 0x10},
    {"TBS_ENABLESELRANGE", 0x20}, {"TBS_FIXEDLENGTH", 0x40}, {"TBS_NOTHUMB", 0x80}, {"TBS_TOOLTIPS", 0x100},
    {"SBS_HORZ", 0x0}, {"SBS_VERT", 0x1},
    {"IDOK", 1}, {"IDCANCEL", 2}, {"IDABORT", 3}, {"IDRETRY", 4}, {"IDIGNORE", 5}, {"IDYES", 6},
    {"IDNO", 7}, {"IDCLOSE", 8}, {"IDHELP", 9}, {"IDC_STATIC", -1},
    {"MFT_STRING", 0x0}, {"MFT_BITMAP", 0x4}, {"MFT_MENUBARBREAK", 0x20}, {"MFT_MENUBREAK", 0x40},
    {"MFT_OWNERDRAW", 0x100}, {"MFT_RADIOCHECK", 0x200}, {"MFT_SEPARATOR", 0x800},
    {"MFT_RIGHTORDER", 0x2000}, {"MFT_RIGHTJUSTIFY", 0x4000}, {"MFS_GRAYED", 0x3}, {"MFS_DISABLED", 0x3},
    {"MFS_CHECKED", 0x8}, {"MFS_HILITE", 0x80}, {"MFS_ENABLED", 0x0}, {"MFS_UNCHECKED", 0x0},
    {"MFS_UNHILITE", 0x0}, {"MFS_DEFAULT", 0x1000},
    {"VS_FF_DEBUG", 0x1}, {"VS_FF_PRERELEASE", 0x2}, {"VS_FF_PATCHED", 0x4}, {"VS_FF_PRIVATEBUILD", 0x8},
    {"VS_FF_INFOINFERRED", 0x10}, {"VS_FF_SPECIALBUILD", 0x20}, {"VS_FFI_FILEFLAGSMASK", 0x3F},
    {"VOS_NT_WINDOWS32", 0x40004}, {"VOS__WINDOWS32", 0x4}, {"VOS_NT", 0x40000}, {"VOS_UNKNOWN", 0x0},
    {"VFT_APP", 0x1}, {"VFT_DLL", 0x2}, {"VFT_UNKNOWN", 0x0}, {"VFT2_UNKNOWN", 0x0},
    {"LANG_NEUTRAL", 0x0}, {"LANG_ENGLISH", 0x9}, {"LANG_JAPANESE", 0x11}, {"SUBLANG_NEUTRAL", 0x0},
    {"SUBLANG_DEFAULT", 0x1}, {"SUBLANG_ENGLISH_US", 0x1},
};

// Headers of the platform that scripts include; their names are built in.
const char* kSystemHeaders[] = {"windows.h", "winres.h", "afxres.h", "winresrc.h", "commctrl.h",
                                "richedit.h", "winuser.h", "verrsrc.h", "afxres.rc", "dlgs.h"};

struct Token {
  enum Kind { Ident, Number, String, Punct, End } kind = End;
  std::string text;     // identifiers and punctuation
  long long value = 0;  // numbers
  std::u16string str;   // strings
  std::string file;
  int line = 0;
};

struct ParseFailure {
  Error error;
};

// Printable ASCII of a text for messages; others show as '?'.
std::string narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  return out;
}

class Lexer {
 public:
  Lexer(ResourceFile& out, const std::vector<std::string>& include_dirs) : out_(out), dirs_(include_dirs) {
    for (auto& [name, value] : kBuiltins) builtins_[name] = value;
  }

  void run_text(const std::string& text, const std::string& path, int depth) {
    if (depth > 16) fail(path, 0, "includes nest deeper than 16 files");
    if (text.size() >= 2 && ((unsigned char)text[0] == 0xFF && (unsigned char)text[1] == 0xFE))
      fail(path, 1, "UTF-16 resource scripts are not read; save the file as UTF-8");
    std::istringstream in(text);
    std::string line;
    int number = 0;
    bool in_comment = false;
    std::vector<int> cond;  // 1 active, 0 inactive, 2 a branch was taken
    auto active = [&] {
      for (int c : cond)
        if (c != 1) return false;
      return true;
    };
    while (std::getline(in, line)) {
      ++number;
      // Lines ending in a backslash continue.
      while (!line.empty() && line.back() == '\\') {
        std::string next;
        if (!std::getline(in, next)) break;
        ++number;
        line.pop_back();
        line += next;
      }
      std::string stripped = strip_comments(line, in_comment);
      size_t first = stripped.find_first_not_of(" \t\r");
      if (first != std::string::npos && stripped[first] == '#') {
        directive(stripped.substr(first + 1), path, number, depth, cond, active());
        continue;
      }
      if (!active()) continue;
      tokenize(stripped, path, number);
    }
    if (!cond.empty()) fail(path, number, "#if without #endif");
  }

  std::vector<Token> tokens;
  std::map<std::string, long long> defines;
  std::set<std::string> defined_names;
  std::map<std::string, long long> builtins_;

  [[noreturn]] void fail(const std::string& file, int line, const std::string& what) {
    throw ParseFailure{Error{file, line, what}};
  }

  std::optional<long long> lookup(const std::string& name) const {
    auto it = defines.find(name);
    if (it != defines.end()) return it->second;
    auto b = builtins_.find(name);
    if (b != builtins_.end()) return b->second;
    return std::nullopt;
  }

 private:
  ResourceFile& out_;
  const std::vector<std::string>& dirs_;

  static std::string strip_comments(const std::string& line, bool& in_comment) {
    std::string out;
    bool in_string = false;
    for (size_t i = 0; i < line.size(); ++i) {
      if (in_comment) {
        if (line.compare(i, 2, "*/") == 0) {
          in_comment = false;
          ++i;
        }
        continue;
      }
      char c = line[i];
      if (in_string) {
        out += c;
        if (c == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') out += line[++i];
          else in_string = false;
        } else if (c == '\\' && i + 1 < line.size()) {
          out += line[++i];
        }
        continue;
      }
      if (c == '"') {
        in_string = true;
        out += c;
      } else if (line.compare(i, 2, "//") == 0) {
        break;
      } else if (line.compare(i, 2, "/*") == 0) {
        in_comment = true;
        ++i;
      } else {
        out += c;
      }
    }
    return out;
  }

  void tokenize(const std::string& s, const std::string& file, int line) {
    size_t i = 0;
    while (i < s.size()) {
      char c = s[i];
      if (c == ' ' || c == '\t' || c == '\r') { ++i; continue; }
      Token t;
      t.file = file;
      t.line = line;
      if (c == '"') {
        std::string raw;
        ++i;
        bool closed = false;
        while (i < s.size()) {
          char d = s[i++];
          if (d == '"') {
            if (i < s.size() && s[i] == '"') { raw += '"'; ++i; continue; }
            closed = true;
            break;
          }
          if (d == '\\' && i < s.size()) {
            char e = s[i++];
            switch (e) {
              case 'n': raw += '\n'; break;
              case 't': raw += '\t'; break;
              case 'r': raw += '\r'; break;
              case '\\': raw += '\\'; break;
              case '"': raw += '"'; break;
              case '0': raw += '\0'; break;
              default: raw += '\\'; raw += e; break;
            }
            continue;
          }
          raw += d;
        }
        if (!closed) fail(file, line, "unterminated string");
        t.kind = Token::String;
        t.str = Utf16FromUtf8(raw);
        tokens.push_back(t);
        continue;
      }
      if (std::isdigit(static_cast<unsigned char>(c))) {
        size_t start = i;
        long long v = 0;
        if (c == '0' && i + 1 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
          i += 2;
          size_t digits = 0;
          while (i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i]))) {
            if (++digits > 16) fail(file, line, "number too long");
            char d = s[i++];
            // Sixteen hex digits fill all 64 bits: shift as unsigned, the value
            // keeps the bit pattern.
            const unsigned long long digit =
                std::isdigit(static_cast<unsigned char>(d)) ? d - '0' : (std::tolower(d) - 'a' + 10);
            v = static_cast<long long>(static_cast<unsigned long long>(v) * 16 + digit);
          }
          if (digits == 0) fail(file, line, "hexadecimal number without digits");
        } else {
          while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            // 18 digits always fit a long long; a 19th could overflow it.
            if (i - start >= 18) fail(file, line, "number too long");
            v = v * 10 + (s[i++] - '0');
          }
        }
        while (i < s.size() && (s[i] == 'L' || s[i] == 'l' || s[i] == 'U' || s[i] == 'u')) ++i;
        if (i < s.size() && (std::isalpha(static_cast<unsigned char>(s[i])) || s[i] == '_'))
          fail(file, line, "malformed number '" + s.substr(start, i - start + 1) + "'");
        t.kind = Token::Number;
        t.value = v;
        t.text = s.substr(start, i - start);
        tokens.push_back(t);
        continue;
      }
      if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
        size_t start = i;
        while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_')) ++i;
        t.kind = Token::Ident;
        t.text = s.substr(start, i - start);
        tokens.push_back(t);
        continue;
      }
      if (std::strchr(",|(){}+-~&", c)) {
        t.kind = Token::Punct;
        t.text = std::string(1, c);
        tokens.push_back(t);
        ++i;
        continue;
      }
      fail(file, line, std::string("unexpected character '") + c + "'");
    }
  }

  // Evaluates a #define or #if expression; nullopt when it is not numeric.
  std::optional<long long> eval(const std::string& text) {
    std::vector<Token> saved;
    saved.swap(tokens);
    try {
      tokenize(text, "", 0);
    } catch (ParseFailure&) {
      tokens.swap(saved);
      return std::nullopt;
    }
    std::vector<Token> expr;
    expr.swap(tokens);
    tokens.swap(saved);
    size_t pos = 0;
    std::function<std::optional<long long>()> primary, term, orx;
    primary = [&]() -> std::optional<long long> {
      if (pos >= expr.size()) return std::nullopt;
      Token& t = expr[pos++];
      if (t.kind == Token::Number) return t.value;
      if (t.kind == Token::Ident) {
        if (t.text == "defined") {
          bool paren = pos < expr.size() && expr[pos].text == "(";
          if (paren) ++pos;
          if (pos >= expr.size()) return std::nullopt;
          std::string name = expr[pos++].text;
          if (paren) {
            if (pos >= expr.size() || expr[pos].text != ")") return std::nullopt;
            ++pos;
          }
          return defined_names.count(name) || builtins_.count(name) ? 1 : 0;
        }
        return lookup(t.text);
      }
      if (t.text == "(") {
        auto v = orx();
        if (!v || pos >= expr.size() || expr[pos].text != ")") return std::nullopt;
        ++pos;
        return v;
      }
      if (t.text == "-") { auto v = primary(); return v ? std::optional(-*v) : std::nullopt; }
      if (t.text == "~") { auto v = primary(); return v ? std::optional(~*v) : std::nullopt; }
      return std::nullopt;
    };
    term = [&]() -> std::optional<long long> {
      auto v = primary();
      while (v && pos < expr.size() && (expr[pos].text == "+" || expr[pos].text == "-" || expr[pos].text == "&")) {
        std::string op = expr[pos++].text;
        auto r = primary();
        if (!r) return std::nullopt;
        v = op == "+" ? *v + *r : op == "-" ? *v - *r : (*v & *r);
      }
      return v;
    };
    orx = [&]() -> std::optional<long long> {
      auto v = term();
      while (v && pos < expr.size() && expr[pos].text == "|") {
        ++pos;
        auto r = term();
        if (!r) return std::nullopt;
        v = *v | *r;
      }
      return v;
    };
    auto v = orx();
    if (pos != expr.size()) return std::nullopt;
    return v;
  }

  void directive(const std::string& text, const std::string& path, int line, int depth,
                 std::vector<int>& cond, bool active) {
    std::istringstream in(text);
    std::string word;
    in >> word;
    std::string rest;
    std::getline(in, rest);
    size_t f = rest.find_first_not_of(" \t");
    rest = f == std::string::npos ? "" : rest.substr(f);
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t' || rest.back() == '\r')) rest.pop_back();
    if (word == "ifdef" || word == "ifndef") {
      bool is = defined_names.count(rest) || builtins_.count(rest);
      cond.push_back(active ? ((word == "ifdef") == is ? 1 : 0) : 2);
      return;
    }
    if (word == "if") {
      auto v = active ? eval(rest) : std::optional<long long>(0);
      cond.push_back(active ? (v && *v ? 1 : 0) : 2);
      return;
    }
    if (word == "elif") {
      if (cond.empty()) fail(path, line, "#elif without #if");
      if (cond.back() == 1) cond.back() = 2;
      else if (cond.back() == 0) {
        bool outer = std::all_of(cond.begin(), cond.end() - 1, [](int c) { return c == 1; });
        auto v = outer ? eval(rest) : std::nullopt;
        cond.back() = v && *v ? 1 : 0;
      }
      return;
    }
    if (word == "else") {
      if (cond.empty()) fail(path, line, "#else without #if");
      cond.back() = cond.back() == 0 ? 1 : 2;
      return;
    }
    if (word == "endif") {
      if (cond.empty()) fail(path, line, "#endif without #if");
      cond.pop_back();
      return;
    }
    if (!active) return;
    if (word == "define") {
      std::istringstream d(rest);
      std::string name;
      d >> name;
      if (name.empty()) fail(path, line, "#define without a name");
      if (name.find('(') != std::string::npos) return;  // function-like macros are not ids
      std::string value;
      std::getline(d, value);
      defined_names.insert(name);
      if (auto v = eval(value)) {
        defines[name] = *v;
        out_.defines[name] = *v;
      }
      return;
    }
    if (word == "undef") {
      defines.erase(rest);
      defined_names.erase(rest);
      return;
    }
    if (word == "include") {
      if (rest.size() < 2) fail(path, line, "#include without a file name");
      char open = rest[0];
      char close = open == '<' ? '>' : '"';
      size_t end = rest.find(close, 1);
      if ((open != '<' && open != '"') || end == std::string::npos) fail(path, line, "malformed #include");
      std::string name = rest.substr(1, end - 1);
      std::string lower = name;
      std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
      for (const char* sys : kSystemHeaders)
        if (lower == sys) return;
      if (open == '<') return;  // other system headers add nothing the scripts use
      std::vector<fs::path> candidates{fs::path(path).parent_path() / name};
      for (const auto& d : dirs_) candidates.push_back(fs::path(d) / name);
      for (const auto& c : candidates) {
        std::error_code ec;
        if (fs::is_regular_file(c, ec)) {
          std::ifstream f(c, std::ios::binary);
          std::stringstream buffer;
          buffer << f.rdbuf();
          run_text(buffer.str(), c.string(), depth + 1);
          return;
        }
      }
      fail(path, line, "cannot find included file '" + name + "'");
    }
    if (word == "pragma" || word == "line" || word.empty()) return;
    if (word == "error") fail(path, line, "#error " + rest);
    fail(path, line, "unknown directive '#" + word + "'");
  }
};

class Parser {
 public:
  Parser(Lexer& lex, ResourceFile& out, const std::string& path) : lex_(lex), t_(lex.tokens), out_(out), path_(path) {}

  void run() {
    while (!at_end()) statement();
  }

 private:
  Lexer& lex_;
  std::vector<Token>& t_;
  ResourceFile& out_;
  std::string path_;
  size_t pos_ = 0;

  bool at_end() const { return pos_ >= t_.size(); }
  const Token& peek(size_t ahead = 0) const {
    static Token end;
    if (pos_ + ahead < t_.size()) return t_[pos_ + ahead];
    end.file = t_.empty() ? path_ : t_.back().file;
    end.line = t_.empty() ? 0 : t_.back().line;
    return end;
  }
  [[noreturn]] void fail(const std::string& what) {
    const Token& t = peek();
    lex_.fail(t.file.empty() ? path_ : t.file, t.line, what);
  }
  [[noreturn]] void fail_at(const Token& t, const std::string& what) { lex_.fail(t.file, t.line, what); }
  std::string show(const Token& t) const {
    switch (t.kind) {
      case Token::End: return "the end of the file";
      case Token::String: return "a string";
      case Token::Number: return "'" + t.text + "'";
      default: return "'" + t.text + "'";
    }
  }
  bool is_word(const char* w, size_t ahead = 0) const {
    const Token& t = peek(ahead);
    return t.kind == Token::Ident && t.text == w;
  }
  bool is_punct(const char* p) const { return peek().kind == Token::Punct && peek().text == p; }
  void expect_punct(const char* p, const char* where) {
    if (!is_punct(p)) fail(std::string("expected '") + p + "' " + where + ", found " + show(peek()));
    ++pos_;
  }
  bool accept_punct(const char* p) {
    if (!is_punct(p)) return false;
    ++pos_;
    return true;
  }
  bool is_begin() const { return is_word("BEGIN") || is_punct("{"); }
  bool is_end() const { return is_word("END") || is_punct("}"); }
  void expect_begin(const char* what) {
    if (!is_begin()) fail(std::string("expected BEGIN to open ") + what + ", found " + show(peek()));
    ++pos_;
  }

  std::u16string string(const char* what) {
    if (peek().kind != Token::String) fail(std::string("expected ") + what + " in quotes, found " + show(peek()));
    return t_[pos_++].str;
  }

  long long primary() {
    const Token& t = peek();
    if (t.kind == Token::Number) { ++pos_; return t.value; }
    if (t.kind == Token::Ident) {
      auto v = lex_.lookup(t.text);
      if (!v) fail("unknown name '" + t.text + "' (define it in the header)");
      ++pos_;
      return *v;
    }
    if (accept_punct("(")) {
      long long v = expr();
      expect_punct(")", "to close the bracket");
      return v;
    }
    if (accept_punct("-")) return -primary();
    if (accept_punct("~")) return ~primary();
    fail("expected a number, found " + show(t));
  }
  long long term() {
    long long v = primary();
    while (is_punct("+") || is_punct("-") || is_punct("&")) {
      std::string op = t_[pos_++].text;
      long long r = primary();
      v = op == "+" ? v + r : op == "-" ? v - r : (v & r);
    }
    return v;
  }
  long long expr() {
    long long v = term();
    while (accept_punct("|")) v |= term();
    return v;
  }
  int number(const char* what) {
    if (at_end()) fail(std::string("expected ") + what + ", found the end of the file");
    long long v = expr();
    if (v < INT32_MIN || v > UINT32_MAX) fail(std::string(what) + " is out of range");
    return static_cast<int>(v);
  }
  // A style list: items joined by '|', "NOT x" clears x from the defaults.
  uint32_t style(uint32_t defaults) {
    uint32_t set = 0, clear = 0;
    do {
      if (is_word("NOT")) {
        ++pos_;
        clear |= static_cast<uint32_t>(term());
      } else {
        set |= static_cast<uint32_t>(term());
      }
    } while (accept_punct("|"));
    return (defaults & ~clear) | set;
  }

  // Resource ids: numbers or names defined in the header.
  int resource_id() {
    const Token& t = peek();
    if (t.kind == Token::Ident && !lex_.lookup(t.text))
      fail("resource name '" + t.text + "' is not a number (define it in the header)");
    return number("a resource id");
  }

  // What a resource statement starts with: a number (or a name defined as
  // one), or else a word or quoted text that names the resource.
  struct Key {
    int id = 0;
    std::u16string name;
  };
  static std::string describe(const Key& k) {
    return k.name.empty() ? std::to_string(k.id) : "'" + narrow(k.name) + "'";
  }
  Key resource_key() {
    const Token& t = peek();
    const bool word = t.kind == Token::Ident && !lex_.lookup(t.text) && peek(1).kind == Token::Ident;
    if (!word && t.kind != Token::String) return Key{resource_id(), {}};
    if (word && lex_.defined_names.count(t.text))
      fail("resource name '" + t.text + "' is defined, but not as a number");
    std::u16string name = t.kind == Token::String ? t.str : Utf16FromUtf8(t.text);
    if (name.empty()) fail("resource name is empty");
    if (name.size() > kMaxNameLength)
      fail("resource name '" + narrow(name.substr(0, 32)) + "...' is longer than " + std::to_string(kMaxNameLength) +
           " characters");
    if (name[0] == u'#') fail("resource name '" + narrow(name) + "' starts with '#', which marks a number");
    if (name.find(u'\0') != std::u16string::npos) fail("resource name holds a NUL character");
    for (auto& c : name) c = platform::AsciiUpper(c);
    ++pos_;
    return Key{0, std::move(name)};
  }

  void skip_block() {
    // Options before BEGIN, then a balanced BEGIN ... END.
    while (!at_end() && !is_begin()) ++pos_;
    if (at_end()) fail("expected BEGIN");
    int depth = 0;
    do {
      if (is_begin()) ++depth;
      else if (is_end()) --depth;
      ++pos_;
    } while (!at_end() && depth > 0);
    if (depth > 0) fail("BEGIN without END");
  }

  void skip_load_options() {
    static const char* opts[] = {"DISCARDABLE", "MOVEABLE", "FIXED", "PURE", "IMPURE", "PRELOAD", "LOADONCALL", "SHARED", "NONSHARED"};
    while (peek().kind == Token::Ident) {
      bool known = false;
      for (const char* o : opts) known = known || peek().text == o;
      if (!known) return;
      ++pos_;
    }
  }

  void statement() {
    if (is_word("LANGUAGE")) {
      ++pos_;
      number("a language");
      expect_punct(",", "after the language");
      number("a sub-language");
      return;
    }
    if (is_word("STRINGTABLE")) {
      ++pos_;
      return string_table();
    }
    const Token& id_token = peek();
    if (peek(1).kind == Token::Ident) {
      static const char* skipped[] = {"TEXTINCLUDE", "DESIGNINFO", "GUIDELINES", "AFX_DIALOG_LAYOUT", "ACCELERATORS", "TOOLBAR", "DLGINIT"};
      for (const char* s : skipped)
        if (peek(1).text == s) {
          pos_ += 2;
          skip_block();
          return;
        }
    }
    const Key id = resource_key();
    if (peek().kind != Token::Ident) fail("expected a resource type after " + describe(id) + ", found " + show(peek()));
    std::string type = t_[pos_++].text;
    if (type == "DIALOG" || type == "DIALOGEX") return dialog(id, type == "DIALOGEX");
    if (type == "MENU" || type == "MENUEX") return menu(id, type == "MENUEX");
    if (type == "VERSIONINFO") return version(id);
    if (type == "BITMAP" || type == "ICON" || type == "CURSOR") return file_resource(id, type == "BITMAP" ? 2 : type == "ICON" ? 14 : 12, id_token);
    fail_at(id_token, "unsupported resource type '" + type + "'");
  }

  // STRINGTABLE [options] BEGIN id[,] "text" ... END: strings by number,
  // each id once in the whole script.
  void string_table() {
    while (!at_end() && !is_begin()) {
      if (is_word("LANGUAGE")) {
        ++pos_;
        number("a language");
        expect_punct(",", "after the language");
        number("a sub-language");
      } else if (is_word("CHARACTERISTICS") || is_word("VERSION")) {
        ++pos_;
        number("a value");
      } else {
        const size_t before = pos_;
        skip_load_options();
        if (pos_ == before) fail("expected BEGIN to open the string table, found " + show(peek()));
      }
    }
    expect_begin("the string table");
    while (!is_end()) {
      if (at_end()) fail("string table has no END");
      const Token& id_token = peek();
      const int id = number("a string id");
      if (id < 0 || id > 0xFFFF) fail_at(id_token, "string id " + std::to_string(id) + " is out of range 0..65535");
      accept_punct(",");
      std::u16string text = string("the string's text");
      if (text.size() > 0xFFFF) fail_at(id_token, "string " + std::to_string(id) + " is longer than 65535 characters");
      if (!out_.strings.emplace(id, std::move(text)).second)
        fail_at(id_token, "string " + std::to_string(id) + " is defined twice");
    }
    ++pos_;
  }

  void file_resource(const Key& id, int type, const Token&) {
    skip_load_options();
    std::u16string name16 = string("a file name");
    std::string name;
    for (char16_t c : name16) name += c < 0x80 ? static_cast<char>(c) : '?';
    fs::path file = fs::path(t_[pos_ - 1].file.empty() ? path_ : t_[pos_ - 1].file).parent_path() / name;
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) lex_.fail(t_[pos_ - 1].file, t_[pos_ - 1].line, "cannot find file '" + name + "'");
    auto size = fs::file_size(file, ec);
    if (ec || size > (64u << 20)) lex_.fail(t_[pos_ - 1].file, t_[pos_ - 1].line, "file '" + name + "' is unreadable or larger than 64 MiB");
    std::ifstream in(file, std::ios::binary);
    Binary b;
    b.type = type;
    b.id = id.id;
    b.name = id.name;
    b.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (type == 2 && (b.data.size() < 26 || b.data[0] != 'B' || b.data[1] != 'M'))
      lex_.fail(t_[pos_ - 1].file, t_[pos_ - 1].line, "file '" + name + "' is not a BMP picture");
    if (type == 14 && (b.data.size() < 22 || b.data[0] != 0 || b.data[1] != 0 || b.data[2] != 1 || b.data[3] != 0))
      lex_.fail(t_[pos_ - 1].file, t_[pos_ - 1].line, "file '" + name + "' is not an icon file");
    out_.binaries.push_back(std::move(b));
  }

  void dialog(const Key& id, bool extended) {
    Dialog d;
    d.id = id.id;
    d.name = id.name;
    skip_load_options();
    d.x = number("the dialog's x");
    expect_punct(",", "after the dialog's x");
    d.y = number("the dialog's y");
    expect_punct(",", "after the dialog's y");
    d.cx = number("the dialog's width");
    expect_punct(",", "after the dialog's width");
    d.cy = number("the dialog's height");
    if (extended && accept_punct(",")) number("the help id");
    bool has_style = false, has_caption = false;
    uint32_t style_value = 0;
    while (!at_end() && !is_begin()) {
      if (peek().kind != Token::Ident) fail("expected a dialog statement or BEGIN, found " + show(peek()));
      std::string word = t_[pos_++].text;
      if (word == "STYLE") { style_value = style(0); has_style = true; }
      else if (word == "EXSTYLE") d.ex_style = style(0);
      else if (word == "CAPTION") { d.caption = string("the caption"); has_caption = true; }
      else if (word == "MENU") d.menu_id = resource_id();
      else if (word == "CLASS") { if (peek().kind == Token::String) ++pos_; else number("a class"); }
      else if (word == "LANGUAGE") { number("a language"); expect_punct(",", "after the language"); number("a sub-language"); }
      else if (word == "CHARACTERISTICS" || word == "VERSION") number("a value");
      else if (word == "FONT") {
        d.font_points = number("the font size");
        expect_punct(",", "after the font size");
        d.font_face = string("the font name");
        if (accept_punct(",")) {
          d.font_weight = number("the font weight");
          if (accept_punct(",")) {
            d.font_italic = number("the italic flag");
            if (accept_punct(",")) number("the character set");
          }
        }
      } else fail_at(t_[pos_ - 1], "unknown dialog statement '" + word + "'");
    }
    d.style = has_style ? style_value : (0x80000000u | 0x00800000u | 0x00080000u);
    if (has_caption) d.style |= 0x00C00000u;
    if (!d.font_face.empty()) d.style |= 0x40;  // DS_SETFONT
    expect_begin("the dialog's controls");
    while (!at_end() && !is_end()) control(d, extended);
    if (at_end()) fail("dialog " + describe(id) + " has no END");
    ++pos_;
    out_.dialogs.push_back(std::move(d));
  }

  void control(Dialog& d, bool extended) {
    if (peek().kind != Token::Ident) fail("expected a control, found " + show(peek()));
    const Token& verb_token = t_[pos_];
    std::string verb = t_[pos_++].text;
    constexpr uint32_t kChild = 0x40000000u | 0x10000000u;  // WS_CHILD | WS_VISIBLE
    constexpr uint32_t kTab = 0x00010000u, kGroup = 0x00020000u, kBorder = 0x00800000u;
    struct Shape {
      const char* verb;
      const char* cls;
      uint32_t defaults;
      bool has_text;
    };
    static const Shape shapes[] = {
        {"LTEXT", "Static", 0x0 | kGroup, true},         {"RTEXT", "Static", 0x2 | kGroup, true},
        {"CTEXT", "Static", 0x1 | kGroup, true},         {"PUSHBUTTON", "Button", 0x0 | kTab, true},
        {"DEFPUSHBUTTON", "Button", 0x1 | kTab, true},   {"CHECKBOX", "Button", 0x2 | kTab, true},
        {"AUTOCHECKBOX", "Button", 0x3 | kTab, true},    {"RADIOBUTTON", "Button", 0x4, true},
        {"AUTORADIOBUTTON", "Button", 0x9, true},        {"STATE3", "Button", 0x5 | kTab, true},
        {"AUTO3STATE", "Button", 0x6 | kTab, true},      {"GROUPBOX", "Button", 0x7, true},
        {"PUSHBOX", "Button", 0xA | kTab, true},         {"EDITTEXT", "Edit", 0x0 | kBorder | kTab, false},
        {"COMBOBOX", "ComboBox", 0x1 | kTab, false},     {"LISTBOX", "ListBox", 0x1 | kBorder, false},
        {"SCROLLBAR", "ScrollBar", 0x0, false},          {"ICON", "Static", 0x3, true},
    };
    Control c;
    if (verb == "CONTROL") {
      text_or_image(c);
      expect_punct(",", "after the control text");
      c.id = number("the control id");
      expect_punct(",", "after the control id");
      if (peek().kind == Token::String) {
        std::u16string cls = t_[pos_++].str;
        for (char16_t ch : cls) c.class_name += static_cast<char>(ch < 0x80 ? ch : '?');
      } else if (peek().kind == Token::Ident) {
        std::string cls = t_[pos_++].text;
        static const std::pair<const char*, const char*> names[] = {
            {"BUTTON", "Button"}, {"STATIC", "Static"}, {"EDIT", "Edit"}, {"COMBOBOX", "ComboBox"},
            {"LISTBOX", "ListBox"}, {"SCROLLBAR", "ScrollBar"}, {"WC_LISTVIEW", "SysListView32"},
            {"WC_TREEVIEW", "SysTreeView32"}, {"PROGRESS_CLASS", "msctls_progress32"},
            {"TRACKBAR_CLASS", "msctls_trackbar32"}, {"RICHEDIT_CLASS", "RichEdit20W"}};
        bool found = false;
        for (auto& [k, v] : names)
          if (cls == k) { c.class_name = v; found = true; }
        if (!found) fail_at(t_[pos_ - 1], "unknown control class '" + cls + "'");
      } else {
        fail("expected the control class, found " + show(peek()));
      }
      expect_punct(",", "after the control class");
      c.style = style(kChild);
      expect_punct(",", "after the control style");
      position(c, true);
      if (accept_punct(",")) c.ex_style = style(0);
      if (extended && accept_punct(",")) number("the help id");
      d.controls.push_back(std::move(c));
      return;
    }
    const Shape* shape = nullptr;
    for (const auto& s : shapes)
      if (verb == s.verb) shape = &s;
    if (!shape) fail_at(verb_token, "unknown control statement '" + verb + "'");
    c.class_name = shape->cls;
    if (shape->has_text) {
      text_or_image(c);
      expect_punct(",", "after the control text");
    }
    c.id = number("the control id");
    expect_punct(",", "after the control id");
    bool is_icon = verb == "ICON";
    position(c, !is_icon);
    c.style = kChild | shape->defaults;
    if (accept_punct(",")) {
      if (is_icon) {
        // ICON text, id, x, y [, cx, cy [, style [, exstyle]]]
        c.cx = number("the width");
        expect_punct(",", "after the width");
        c.cy = number("the height");
        if (accept_punct(",")) c.style = style(c.style);
      } else {
        c.style = style(c.style);
      }
      if (accept_punct(",")) c.ex_style = style(0);
      if (extended && accept_punct(",")) number("the help id");
    }
    d.controls.push_back(std::move(c));
  }

  void text_or_image(Control& c) {
    if (peek().kind == Token::String) {
      c.text = t_[pos_++].str;
    } else {
      c.image_id = number("the control text or picture id");
    }
  }

  void position(Control& c, bool with_size) {
    c.x = number("the control's x");
    expect_punct(",", "after the control's x");
    c.y = number("the control's y");
    if (!with_size) return;
    expect_punct(",", "after the control's y");
    c.cx = number("the control's width");
    expect_punct(",", "after the control's width");
    c.cy = number("the control's height");
  }

  void menu(const Key& id, bool extended) {
    Menu m;
    m.id = id.id;
    m.name = id.name;
    skip_load_options();
    expect_begin("the menu");
    menu_items(m, 0, extended);
    out_.menus.push_back(std::move(m));
  }

  void menu_items(Menu& m, int depth, bool extended) {
    if (depth > 16) fail("menus nest deeper than 16 levels");
    while (!at_end() && !is_end()) {
      if (peek().kind != Token::Ident) fail("expected MENUITEM or POPUP, found " + show(peek()));
      std::string word = t_[pos_++].text;
      MenuItem item;
      item.depth = depth;
      if (word == "MENUITEM") {
        if (!extended && is_word("SEPARATOR")) {
          ++pos_;
          item.flags = 0x800;
          m.items.push_back(item);
          continue;
        }
        item.text = string("the menu text");
        if (extended) {
          if (accept_punct(",")) {
            if (!is_punct(",")) item.id = number("the command id");
            if (accept_punct(",")) {
              if (!is_punct(",")) item.flags |= static_cast<uint32_t>(number("the item type"));
              if (accept_punct(",")) item.flags |= static_cast<uint32_t>(number("the item state"));
            }
          }
        } else {
          expect_punct(",", "after the menu text");
          item.id = number("the command id");
          item.flags |= options();
        }
        m.items.push_back(item);
      } else if (word == "POPUP") {
        item.text = string("the pop-up text");
        item.flags = 0x10;
        if (extended) {
          while (accept_punct(",")) {
            if (!is_punct(",") && !is_begin()) item.flags |= static_cast<uint32_t>(number("a pop-up value")) & 0x80B;
          }
        } else {
          item.flags |= options();
        }
        m.items.push_back(item);
        expect_begin("the pop-up");
        menu_items(m, depth + 1, extended);
      } else {
        fail_at(t_[pos_ - 1], "unknown menu statement '" + word + "'");
      }
    }
    if (at_end()) fail("menu without END");
    ++pos_;
  }

  uint32_t options() {
    uint32_t flags = 0;
    for (;;) {
      accept_punct(",");
      if (is_word("GRAYED")) flags |= 0x1;
      else if (is_word("INACTIVE")) flags |= 0x2;
      else if (is_word("CHECKED")) flags |= 0x8;
      else if (is_word("MENUBARBREAK")) flags |= 0x20;
      else if (is_word("MENUBREAK")) flags |= 0x40;
      else if (is_word("HELP")) flags |= 0x4000;
      else return flags;
      ++pos_;
    }
  }

  void version(const Key& id) {
    FixedVersion fixed;
    auto quad = [&](uint32_t& ms, uint32_t& ls) {
      int v[4] = {0, 0, 0, 0};
      for (int i = 0; i < 4; ++i) {
        v[i] = number("a version number");
        if (i < 3 && !accept_punct(",")) break;
      }
      ms = (static_cast<uint32_t>(v[0]) << 16) | (static_cast<uint32_t>(v[1]) & 0xFFFF);
      ls = (static_cast<uint32_t>(v[2]) << 16) | (static_cast<uint32_t>(v[3]) & 0xFFFF);
    };
    while (!at_end() && !is_begin()) {
      if (peek().kind != Token::Ident) fail("expected a version statement or BEGIN, found " + show(peek()));
      std::string word = t_[pos_++].text;
      if (word == "FILEVERSION") quad(fixed.file_ms, fixed.file_ls);
      else if (word == "PRODUCTVERSION") quad(fixed.product_ms, fixed.product_ls);
      else if (word == "FILEFLAGSMASK") fixed.flags_mask = static_cast<uint32_t>(number("the flags mask"));
      else if (word == "FILEFLAGS") fixed.flags = static_cast<uint32_t>(number("the flags"));
      else if (word == "FILEOS") fixed.os = static_cast<uint32_t>(number("the OS"));
      else if (word == "FILETYPE") fixed.type = static_cast<uint32_t>(number("the file type"));
      else if (word == "FILESUBTYPE") fixed.subtype = static_cast<uint32_t>(number("the file subtype"));
      else fail_at(t_[pos_ - 1], "unknown version statement '" + word + "'");
    }
    expect_begin("the version block");
    std::vector<VersionNode> children = version_nodes(0);
    Binary b;
    b.type = 16;
    b.id = id.id;
    b.name = id.name;
    b.data = BuildVersionBlock(fixed, children);
    out_.binaries.push_back(std::move(b));
  }

  std::vector<VersionNode> version_nodes(int depth) {
    if (depth > 8) fail("version blocks nest deeper than 8 levels");
    std::vector<VersionNode> nodes;
    while (!at_end() && !is_end()) {
      if (is_word("BLOCK")) {
        ++pos_;
        VersionNode n;
        n.key = string("the block name");
        expect_begin("the block");
        n.children = version_nodes(depth + 1);
        nodes.push_back(std::move(n));
      } else if (is_word("VALUE")) {
        ++pos_;
        VersionNode n;
        n.key = string("the value name");
        expect_punct(",", "after the value name");
        if (peek().kind == Token::String) {
          n.is_text = true;
          n.text = t_[pos_++].str;
        } else {
          do {
            n.words.push_back(static_cast<uint16_t>(number("a value word")));
          } while (accept_punct(","));
        }
        nodes.push_back(std::move(n));
      } else {
        fail("expected BLOCK, VALUE or END in the version block, found " + show(peek()));
      }
    }
    if (at_end()) fail("version block without END");
    ++pos_;
    return nodes;
  }
};

}  // namespace

bool ParseText(const std::string& text, const std::string& path, const std::vector<std::string>& include_dirs,
               ResourceFile& out, Error& error) {
  try {
    Lexer lexer(out, include_dirs);
    lexer.run_text(text, path, 0);
    Parser parser(lexer, out, path);
    parser.run();
    // Ids must be unique per kind: a later duplicate would hide the first.
    std::set<int> seen;
    for (const auto& d : out.dialogs)
      if (d.name.empty() && !seen.insert(d.id).second) {
        error = Error{path, 0, "dialog " + std::to_string(d.id) + " is defined twice"};
        return false;
      }
    // So must names per kind (they are upper-cased already).
    std::set<std::pair<int, std::u16string>> names;
    auto unique = [&](int kind, const std::u16string& name, const char* what) {
      if (name.empty() || names.insert({kind, name}).second) return true;
      error = Error{path, 0, std::string(what) + " '" + narrow(name) + "' is defined twice"};
      return false;
    };
    for (const auto& d : out.dialogs)
      if (!unique(-1, d.name, "dialog")) return false;
    for (const auto& m : out.menus)
      if (!unique(-2, m.name, "menu")) return false;
    for (const auto& b : out.binaries)
      if (!unique(b.type, b.name, b.type == 2 ? "bitmap" : b.type == 14 ? "icon" : "resource")) return false;
    for (auto& block : BuildStringBlocks(out.strings)) out.binaries.push_back(std::move(block));
    return true;
  } catch (ParseFailure& f) {
    error = f.error;
    return false;
  }
}

bool ParseFile(const std::string& path, const std::vector<std::string>& include_dirs, ResourceFile& out,
               Error& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = Error{path, 0, "cannot open the resource script"};
    return false;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  return ParseText(buffer.str(), path, include_dirs, out, error);
}

}  // namespace rc
