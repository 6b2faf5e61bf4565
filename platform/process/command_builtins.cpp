#include "platform/process/command_builtins.h"

#include <vector>

#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/process/command_line.h"
#include "platform/process/simulated_files.h"

namespace platform::process {

namespace {

constexpr int kMaxTreeDepth = 128;

std::string Narrow(const std::u16string& text) { return platform::to_utf8(text); }

bool IsFolder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

struct Entry {
  std::u16string name;
  DWORD attributes = 0;
};

// The entries of a folder matching `pattern` ("*" for all), without "." and "..".
std::vector<Entry> List(const std::u16string& folder, const std::u16string& pattern) {
  std::vector<Entry> entries;
  WIN32_FIND_DATAW data;
  std::u16string search = JoinPath(folder, pattern);
  HANDLE find = FindFirstFileW(search.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return entries;
  do {
    std::u16string name = data.cFileName;
    if (name == u"." || name == u"..") continue;
    entries.push_back({name, data.dwFileAttributes});
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return entries;
}

// Removes a folder with everything below it. Links are removed themselves,
// never followed. False when anything stayed.
bool RemoveTree(const std::u16string& folder, int depth) {
  if (depth > kMaxTreeDepth) return false;
  bool ok = true;
  DWORD attributes = GetFileAttributesW(folder.c_str());
  if (!IsLink(attributes)) {
    for (const Entry& e : List(folder, u"*")) {
      std::u16string path = JoinPath(folder, e.name);
      if (IsFolder(e.attributes) && !IsLink(e.attributes)) {
        ok = RemoveTree(path, depth + 1) && ok;
      } else if (IsFolder(e.attributes)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ok = RemoveDirectoryW(path.c_str()) && ok;
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ok = DeleteFileW(path.c_str()) && ok;
      }
    }
  }
  SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
  return RemoveDirectoryW(folder.c_str()) && ok;
}

struct Switches {
  std::vector<std::u16string> names;
  std::u16string flags;  // upper-case letters of the /x switches
};

Switches Parse(const std::u16string& arguments) {
  Switches s;
  for (const auto& a : SplitCommandLine(arguments)) {
    if (a.size() >= 2 && a[0] == u'/') {
      s.flags += UpperCase(a.substr(1, 1));
    } else {
      s.names.push_back(a);
    }
  }
  return s;
}

bool Has(const Switches& s, char16_t flag) { return s.flags.find(flag) != std::u16string::npos; }

DWORD Copy(const std::u16string& arguments, BuiltinContext& c) {
  Switches s = Parse(arguments);
  if (s.names.empty() || s.names.size() > 2) {
    c.say("The syntax of the command is incorrect.\r\n");
    return 1;
  }
  std::u16string source = c.full_path(s.names[0]);
  std::u16string target = s.names.size() == 2 ? c.full_path(s.names[1]) : c.full_path(u".");
  std::u16string folder = source.substr(0, source.rfind(u'\\'));
  std::u16string pattern = FileNamePart(source);
  std::vector<Entry> files;
  if (IsFolder(GetFileAttributesW(source.c_str()))) {
    folder = source;
    pattern = u"*";
  }
  for (const Entry& e : List(folder, pattern))
    if (!IsFolder(e.attributes)) files.push_back(e);
  if (files.empty()) {
    c.say("The system cannot find the file specified.\r\n");
    return 1;
  }
  bool into_folder = IsFolder(GetFileAttributesW(target.c_str()));
  if (!into_folder && files.size() > 1) {
    c.say("The system cannot find the path specified.\r\n");
    return 1;
  }
  int copied = 0;
  for (const Entry& e : files) {
    std::u16string from = JoinPath(folder, e.name);
    std::u16string to = into_folder ? JoinPath(target, e.name) : target;
    if (UpperCase(NormalizePath(from)) == UpperCase(NormalizePath(to))) {
      c.say("The file cannot be copied onto itself.\r\n");
      return 1;
    }
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
      c.say("Access is denied.\r\n");
      return 1;
    }
    ++copied;
  }
  c.say("        " + std::to_string(copied) + " file(s) copied.\r\n");
  return 0;
}

// Copies the files of `from` (and with `tree` its folders) into `to`.
bool CopyTree(const std::u16string& from, const std::u16string& pattern, const std::u16string& to, bool tree,
              bool empty_folders, bool hidden, int depth, int* files) {
  if (depth > kMaxTreeDepth || !MakeSimulatedFolders(to)) return false;
  bool ok = true;
  for (const Entry& e : List(from, pattern)) {
    if (!hidden && (e.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) continue;
    if (IsLink(e.attributes)) continue;  // never followed out of the tree
    std::u16string source = JoinPath(from, e.name), target = JoinPath(to, e.name);
    if (IsFolder(e.attributes)) {
      if (!tree) continue;
      if (!empty_folders && List(source, u"*").empty()) continue;
      ok = CopyTree(source, u"*", target, tree, empty_folders, hidden, depth + 1, files) && ok;
    } else if (CopyFileW(source.c_str(), target.c_str(), FALSE)) {
      ++*files;
    } else {
      ok = false;
    }
  }
  return ok;
}

DWORD Xcopy(const std::u16string& arguments, BuiltinContext& c) {
  Switches s = Parse(arguments);
  if (s.names.size() != 2) {
    c.say("Invalid number of parameters\r\n");
    return 4;
  }
  std::u16string source = c.full_path(s.names[0]);
  std::u16string target = c.full_path(s.names[1]);
  std::u16string pattern = u"*";
  if (!IsFolder(GetFileAttributesW(source.c_str()))) {
    pattern = FileNamePart(source);
    source = source.substr(0, source.rfind(u'\\'));
    if (!IsFolder(GetFileAttributesW(source.c_str()))) {
      c.say("File not found - " + Narrow(s.names[0]) + "\r\n");
      return 4;
    }
  }
  // Below its own source the copy would feed itself for ever.
  std::u16string up_source = UpperCase(NormalizePath(source)) + u"\\";
  if ((UpperCase(NormalizePath(target)) + u"\\").rfind(up_source, 0) == 0) {
    c.say("Cannot perform a cyclic copy\r\n");
    return 4;
  }
  int files = 0;
  bool ok = CopyTree(source, pattern, target, Has(s, u'S') || Has(s, u'E'), Has(s, u'E'), Has(s, u'H'), 0, &files);
  c.say(std::to_string(files) + " File(s) copied\r\n");
  return ok ? 0 : 4;
}

DWORD Rd(const std::u16string& arguments, BuiltinContext& c) {
  Switches s = Parse(arguments);
  if (s.names.empty()) {
    c.say("The syntax of the command is incorrect.\r\n");
    return 1;
  }
  DWORD result = 0;
  for (const auto& name : s.names) {
    std::u16string folder = c.full_path(name);
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (!IsFolder(attributes)) {
      c.say("The system cannot find the file specified.\r\n");
      result = 2;
      continue;
    }
    bool ok = Has(s, u'S') ? RemoveTree(folder, 0) : RemoveDirectoryW(folder.c_str());
    if (!ok) {
      c.say(Has(s, u'S') ? "Access is denied.\r\n" : "The directory is not empty.\r\n");
      result = 1;
    }
  }
  return result;
}

DWORD Set(const std::u16string& arguments, BuiltinContext& c) {
  std::u16string text = arguments;
  if (text.size() >= 2 && text.front() == u'"' && text.back() == u'"') text = text.substr(1, text.size() - 2);
  size_t eq = text.find(u'=');
  if (eq == std::u16string::npos) {
    std::u16string prefix = UpperCase(text);
    for (const auto& [name, value] : *c.variables)
      if (name.rfind(prefix, 0) == 0) c.say(Narrow(name) + "=" + Narrow(value) + "\r\n");
    return 0;
  }
  std::u16string name = UpperCase(text.substr(0, eq));
  std::u16string value = text.substr(eq + 1);
  if (name.empty()) {
    c.say("The syntax of the command is incorrect.\r\n");
    return 1;
  }
  if (value.empty())
    c.variables->erase(name);
  else
    (*c.variables)[name] = value;
  return 0;
}

// The next blank-separated word of `text` from `at` (quotes kept), advancing `at`.
std::u16string Word(const std::u16string& text, size_t* at) {
  while (*at < text.size() && text[*at] == u' ') ++*at;
  size_t start = *at;
  bool quoted = false;
  while (*at < text.size() && (quoted || text[*at] != u' ')) {
    if (text[*at] == u'"') quoted = !quoted;
    ++*at;
  }
  return text.substr(start, *at - start);
}

std::u16string Unquote(const std::u16string& s) {
  return s.size() >= 2 && s.front() == u'"' && s.back() == u'"' ? s.substr(1, s.size() - 2) : s;
}

DWORD If(const std::u16string& arguments, BuiltinContext& c) {
  size_t at = 0;
  std::u16string word = Word(arguments, &at);
  bool negate = false;
  if (UpperCase(word) == u"NOT") {
    negate = true;
    word = Word(arguments, &at);
  }
  bool condition = false;
  std::u16string upper = UpperCase(word);
  if (upper == u"EXIST") {
    std::u16string path = c.full_path(Unquote(Word(arguments, &at)));
    condition = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  } else if (upper == u"ERRORLEVEL") {
    std::u16string n = Word(arguments, &at);
    DWORD level = 0;
    for (char16_t ch : n) level = level * 10 + static_cast<DWORD>(ch - u'0');
    condition = c.last >= level;
  } else {
    size_t eq = word.find(u"==");
    std::u16string left = word, right;
    if (eq != std::u16string::npos) {
      left = word.substr(0, eq);
      right = word.substr(eq + 2);
      if (right.empty()) right = Word(arguments, &at);
    } else {
      std::u16string op = Word(arguments, &at);
      if (op.rfind(u"==", 0) != 0) {
        c.say("The syntax of the command is incorrect.\r\n");
        return 1;
      }
      right = op.size() > 2 ? op.substr(2) : Word(arguments, &at);
    }
    condition = Unquote(left) == Unquote(right);
  }
  while (at < arguments.size() && arguments[at] == u' ') ++at;
  if (condition != negate && at < arguments.size()) return c.run(arguments.substr(at));
  return c.last;
}

}  // namespace

std::optional<DWORD> RunBuiltin(const std::u16string& verb, const std::u16string& arguments, BuiltinContext& context) {
  if (verb == u"SET") return Set(arguments, context);
  if (verb == u"IF") return If(arguments, context);
  if (verb == u"COPY") return Copy(arguments, context);
  if (verb == u"XCOPY") return Xcopy(arguments, context);
  if (verb == u"RD" || verb == u"RMDIR") return Rd(arguments, context);
  return std::nullopt;
}

std::u16string ExpandVariables(const std::u16string& line, const std::map<std::u16string, std::u16string>& variables) {
  std::u16string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != u'%' || i + 1 >= line.size()) {
      out.push_back(line[i]);
      continue;
    }
    char16_t next = line[i + 1];
    if (next == u'%' || (next >= u'0' && next <= u'9') || next == u'~') {
      out.push_back(line[i]);  // the caller's %%, %0-%9
      continue;
    }
    size_t close = line.find(u'%', i + 1);
    std::u16string name = close == std::u16string::npos ? std::u16string() : line.substr(i + 1, close - i - 1);
    if (name.empty() || name.find(u' ') != std::u16string::npos) {
      out.push_back(line[i]);
      continue;
    }
    auto it = variables.find(UpperCase(name));
    if (it != variables.end()) out += it->second;
    i = close;
  }
  return out;
}

}  // namespace platform::process
