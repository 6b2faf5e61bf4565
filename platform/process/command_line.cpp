#include "platform/process/command_line.h"

#include "platform/core/ascii_case.h"

namespace platform::process {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

bool HasFolderPart(std::u16string_view name) {
  return name.find(u'\\') != std::u16string_view::npos || name.find(u'/') != std::u16string_view::npos ||
         name.find(u':') != std::u16string_view::npos;
}

bool HasExtension(std::u16string_view path) {
  std::u16string name = FileNamePart(path);
  return name.find(u'.') != std::u16string::npos;
}

}  // namespace

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) { return AsciiEqualNoCase(a, b); }

std::u16string UpperCase(std::u16string_view text) { return AsciiUpper(text); }

std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
  std::vector<std::u16string> args;
  size_t i = 0;
  const size_t n = line.size();
  while (true) {
    while (i < n && IsBlank(line[i])) ++i;
    if (i >= n) break;
    std::u16string arg;
    bool quoted = false;
    while (i < n) {
      char16_t c = line[i];
      if (c == u'\\') {
        size_t slashes = 0;
        while (i < n && line[i] == u'\\') {
          ++slashes;
          ++i;
        }
        if (i < n && line[i] == u'"') {
          arg.append(slashes / 2, u'\\');
          if (slashes % 2) {
            arg.push_back(u'"');
            ++i;
          }
        } else {
          arg.append(slashes, u'\\');
        }
        continue;
      }
      if (c == u'"') {
        if (quoted && i + 1 < n && line[i + 1] == u'"') {  // "" inside quotes is one quote
          arg.push_back(u'"');
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      if (!quoted && IsBlank(c)) break;
      arg.push_back(c);
      ++i;
    }
    args.push_back(std::move(arg));
  }
  return args;
}

CommandLineHead SplitProgram(std::u16string_view line) {
  // The program name has simpler rules than the other arguments: quotes
  // group, backslashes are literal, and it ends at the first blank outside quotes.
  CommandLineHead head;
  size_t i = 0;
  bool quoted = false;
  while (i < line.size()) {
    char16_t c = line[i];
    if (c == u'"') {
      quoted = !quoted;
      ++i;
      continue;
    }
    if (!quoted && IsBlank(c)) break;
    head.program.push_back(c);
    ++i;
  }
  while (i < line.size() && IsBlank(line[i])) ++i;
  head.arguments = std::u16string(line.substr(i));
  return head;
}

std::u16string QuoteArgument(std::u16string_view argument) {
  bool needs = argument.empty();
  for (char16_t c : argument)
    if (IsBlank(c) || c == u'"') needs = true;
  if (!needs) return std::u16string(argument);
  std::u16string out = u"\"";
  size_t slashes = 0;
  for (char16_t c : argument) {
    if (c == u'\\') {
      ++slashes;
      continue;
    }
    if (c == u'"') {
      out.append(slashes * 2 + 1, u'\\');
    } else {
      out.append(slashes, u'\\');
    }
    slashes = 0;
    out.push_back(c);
  }
  out.append(slashes * 2, u'\\');
  out.push_back(u'"');
  return out;
}

bool IsAbsolutePath(std::u16string_view path) {
  if (path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/')) return true;
  return path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\';
}

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) {
  if (folder.empty()) return std::u16string(name);
  std::u16string out(folder);
  if (out.back() != u'\\' && out.back() != u'/') out.push_back(u'\\');
  out.append(name);
  return out;
}

std::u16string ParentFolder(std::u16string_view path) {
  size_t slash = path.find_last_of(u"\\/");
  if (slash == std::u16string_view::npos) return {};
  if (slash == 2 && path.size() > 1 && path[1] == u':') return std::u16string(path.substr(0, 3));
  return std::u16string(path.substr(0, slash));
}

std::u16string FileNamePart(std::u16string_view path) {
  size_t slash = path.find_last_of(u"\\/:");
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

std::u16string NormalizePath(std::u16string_view path) {
  std::u16string text(path);
  for (auto& c : text)
    if (c == u'/') c = u'\\';
  // Prefix that is kept as it stands: "C:\" or "\\server\" style.
  size_t start = 0;
  std::u16string prefix;
  if (text.size() >= 2 && text[1] == u':') {
    start = text.size() >= 3 && text[2] == u'\\' ? 3 : 2;
    prefix = text.substr(0, 2) + u"\\";
  } else if (text.rfind(u"\\\\", 0) == 0) {
    start = 2;
    prefix = u"\\\\";
  }
  std::vector<std::u16string> parts;
  size_t i = start;
  while (i <= text.size()) {
    size_t end = text.find(u'\\', i);
    if (end == std::u16string::npos) end = text.size();
    std::u16string part = text.substr(i, end - i);
    // The platform drops trailing blanks and dots of every component.
    while (!part.empty() && (part.back() == u' ' || part.back() == u'.') && part != u"." && part != u"..")
      part.pop_back();
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(std::move(part));
    }
    i = end + 1;
  }
  std::u16string out = prefix;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k) out.push_back(u'\\');
    out.append(parts[k]);
  }
  return out;
}

namespace {

// Candidate files for one program name, in search order.
std::vector<std::u16string> Candidates(std::u16string name, const SearchFolders& folders, bool search,
                                       bool append_exe) {
  while (!name.empty() && (name.back() == u' ' || name.back() == u'.')) name.pop_back();
  if (name.empty()) return {};
  if (append_exe && !HasExtension(name)) name += u".exe";
  std::vector<std::u16string> out;
  if (IsAbsolutePath(name)) {
    out.push_back(NormalizePath(name));
    return out;
  }
  if (!search || HasFolderPart(name)) {
    if (name.size() >= 2 && name[1] == u':')  // "C:name": relative to that drive's root here
      out.push_back(NormalizePath(name.substr(0, 2) + u"\\" + name.substr(2)));
    else if (name[0] == u'\\')
      out.push_back(NormalizePath(folders.current.substr(0, 2) + name));
    else
      out.push_back(NormalizePath(JoinPath(folders.current, name)));
    return out;
  }
  auto add = [&](const std::u16string& folder) {
    if (!folder.empty()) out.push_back(NormalizePath(JoinPath(folder, name)));
  };
  add(folders.application);
  add(folders.current);
  add(folders.system);
  add(folders.windows);
  std::u16string_view rest = folders.path_variable;
  while (!rest.empty()) {
    size_t semi = rest.find(u';');
    std::u16string_view folder = rest.substr(0, semi);
    if (!folder.empty() && folder.front() == u'"' && folder.back() == u'"' && folder.size() >= 2)
      folder = folder.substr(1, folder.size() - 2);
    add(std::u16string(folder));
    if (semi == std::u16string_view::npos) break;
    rest = rest.substr(semi + 1);
  }
  return out;
}

}  // namespace

Resolution ResolveProgram(const std::u16string* application, std::u16string_view command_line,
                          const SearchFolders& folders, const ProgramProbe& exists) {
  Resolution result;
  if (application) {
    for (const auto& candidate : Candidates(*application, folders, false, false)) {
      if (exists(candidate)) {
        result.image_path = candidate;
        result.arguments = SplitProgram(command_line).arguments;
        return result;
      }
    }
    result.error = 2;  // ERROR_FILE_NOT_FOUND
    return result;
  }

  size_t i = 0;
  while (i < command_line.size() && IsBlank(command_line[i])) ++i;
  std::u16string_view line = command_line.substr(i);
  if (line.empty()) {
    result.error = 2;
    return result;
  }
  // Each way of reading the first token, in the order the platform tries them.
  std::vector<std::pair<std::u16string, std::u16string_view>> readings;
  if (line[0] == u'"') {
    size_t close = line.find(u'"', 1);
    std::u16string name(line.substr(1, close == std::u16string_view::npos ? std::u16string_view::npos : close - 1));
    std::u16string_view rest = close == std::u16string_view::npos ? std::u16string_view() : line.substr(close + 1);
    readings.emplace_back(name, rest);
  } else {
    size_t pos = 0;
    while (true) {
      size_t blank = line.find_first_of(u" \t", pos);
      if (blank == std::u16string_view::npos) {
        readings.emplace_back(std::u16string(line), std::u16string_view());
        break;
      }
      readings.emplace_back(std::u16string(line.substr(0, blank)), line.substr(blank));
      pos = blank + 1;
      while (pos < line.size() && IsBlank(line[pos])) ++pos;
      if (pos >= line.size()) break;
    }
  }
  for (const auto& [name, rest] : readings) {
    for (const auto& candidate : Candidates(name, folders, true, true)) {
      if (exists(candidate)) {
        result.image_path = candidate;
        size_t k = 0;
        while (k < rest.size() && IsBlank(rest[k])) ++k;
        result.arguments = std::u16string(rest.substr(k));
        return result;
      }
    }
  }
  result.error = 2;
  return result;
}

}  // namespace platform::process
