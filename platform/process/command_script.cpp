#include "platform/process/command_script.h"

#include <cstring>
#include <map>
#include <optional>

#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/formatter.h"
#include "platform/process/command_builtins.h"
#include "platform/process/command_line.h"
#include "platform/process/machine_link.h"
#include "platform/process/simulated_files.h"
#include "platform/process/standin_programs.h"

namespace platform::process {

namespace {

constexpr DWORD kNotRecognized = 9009;
constexpr int kMaxCallDepth = 16;
constexpr size_t kMaxScriptLines = 100000;

std::string Narrow(const std::u16string& text) { return platform::to_utf8(text); }

struct Redirections {
  std::u16string input;
  std::u16string output;
  bool append = false;
};

// Splits off "<", ">" and ">>" targets outside quotes.
std::u16string TakeRedirections(const std::u16string& line, Redirections* r) {
  std::u16string rest;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char16_t c = line[i];
    if (c == u'"') quoted = !quoted;
    bool error_stream = !quoted && c == u'2' && i + 1 < line.size() && line[i + 1] == u'>' &&
                        (i == 0 || line[i - 1] == u' ');
    if (quoted || (c != u'<' && c != u'>' && !error_stream)) {
      rest.push_back(c);
      continue;
    }
    bool input = c == u'<';
    bool append = false;
    if (error_stream) ++i;  // "2>": the error stream is not kept
    if (!input && i + 1 < line.size() && line[i + 1] == u'>') {
      append = true;
      ++i;
    }
    if (i + 1 < line.size() && line[i + 1] == u'&') {  // "2>&1"
      i += 2;
      continue;
    }
    ++i;
    while (i < line.size() && line[i] == u' ') ++i;
    std::u16string target;
    bool in_quotes = false;
    for (; i < line.size(); ++i) {
      if (line[i] == u'"') {
        in_quotes = !in_quotes;
        continue;
      }
      if (!in_quotes && (line[i] == u' ' || line[i] == u'<' || line[i] == u'>')) break;
      target.push_back(line[i]);
    }
    --i;
    if (error_stream) continue;
    if (input) {
      r->input = target;
    } else {
      r->output = target;
      r->append = append;
    }
  }
  while (!rest.empty() && rest.back() == u' ') rest.pop_back();
  return rest;
}

// Format's callback has no context; the run on this thread keeps its result here.
thread_local int format_result = -1;
BOOLEAN FormatCallback(DWORD command, DWORD, PVOID info) {
  if (command == FMIFS_DONE && info) format_result = *static_cast<BOOLEAN*>(info) ? 1 : 0;
  return TRUE;
}

class Interpreter {
 public:
  Interpreter(std::u16string folder, HANDLE input, HANDLE output)
      : folder_(std::move(folder)), input_(input), output_(output) {}

  DWORD run_line(std::u16string line, int depth) {
    while (!line.empty() && (line.front() == u' ' || line.front() == u'\t')) line.erase(0, 1);
    while (!line.empty() && (line.back() == u'\r' || line.back() == u' ')) line.pop_back();
    if (!line.empty() && line.front() == u'@') line.erase(0, 1);
    if (line.empty() || line.rfind(u"::", 0) == 0) return last_;
    Redirections redirect;
    // The redirections of "if ... command" belong to the command, which runs
    // (and opens them) only when the condition holds.
    bool conditional = UpperCase(line.substr(0, 3)) == u"IF ";
    std::u16string command = conditional ? line : TakeRedirections(line, &redirect);
    HANDLE in = input_, out = output_;
    HANDLE opened_in = nullptr, opened_out = nullptr;
    if (!redirect.input.empty()) {
      opened_in = OpenSimulatedFile(full_path(redirect.input), false, false);
      if (!opened_in) {
        say("The system cannot find the file specified.\r\n");
        return last_ = 1;
      }
      in = opened_in;
    }
    if (!redirect.output.empty()) {
      opened_out = OpenSimulatedFile(full_path(redirect.output), true, redirect.append);
      if (!opened_out) {
        say("The system cannot find the path specified.\r\n");
        if (opened_in) CloseHandle(opened_in);
        return last_ = 1;
      }
      out = opened_out;
    }
    std::swap(in, input_);
    std::swap(out, output_);
    last_ = dispatch(command, depth);
    std::swap(in, input_);
    std::swap(out, output_);
    if (opened_in) CloseHandle(opened_in);
    if (opened_out) CloseHandle(opened_out);
    return last_;
  }

  bool exiting() const { return exit_; }

 private:
  std::u16string full_path(const std::u16string& path) const {
    if (IsAbsolutePath(path)) return NormalizePath(path);
    if (path.size() >= 2 && path[1] == u':') return NormalizePath(path.substr(0, 2) + u"\\" + path.substr(2));
    return NormalizePath(JoinPath(folder_, path));
  }

  void say(std::string_view text) {
    if (!output_ || text.empty()) return;
    DWORD written = 0;
    WriteFile(output_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }

  bool read_answer(std::string* line) {
    ProgramStart io;
    io.std_input = input_;
    return ReadInputLine(io, line);
  }

  DWORD dispatch(const std::u16string& command, int depth) {
    auto head = SplitProgram(command);
    std::u16string verb = UpperCase(head.program);
    auto args = SplitCommandLine(head.arguments);
    if (verb == u"REM") return last_;
    if (verb == u"ECHO") {
      std::u16string text = head.arguments;
      if (UpperCase(text) == u"OFF" || UpperCase(text) == u"ON") return last_;
      say(Narrow(text) + "\r\n");
      return 0;
    }
    if (verb.size() == 2 && verb[1] == u':' && head.arguments.empty()) {
      std::u16string root = verb + u"\\";
      DWORD a = GetFileAttributesW(root.c_str());
      if (a == INVALID_FILE_ATTRIBUTES) {
        say("The system cannot find the drive specified.\r\n");
        return 1;
      }
      folder_ = root;
      return 0;
    }
    if (verb == u"CD" || verb == u"CHDIR") {
      std::u16string target = head.arguments;
      if (UpperCase(target).rfind(u"/D ", 0) == 0) target = target.substr(3);
      auto parts = SplitCommandLine(target);
      if (parts.empty()) {
        say(Narrow(folder_) + "\r\n");
        return 0;
      }
      std::u16string path = full_path(parts[0]);
      DWORD a = GetFileAttributesW(path.c_str());
      if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) {
        say("The system cannot find the path specified.\r\n");
        return 1;
      }
      folder_ = path;
      return 0;
    }
    if (verb == u"MD" || verb == u"MKDIR") {
      // Missing folders on the way are made too; an existing one is an error.
      DWORD result = 0;
      for (const auto& a : args) {
        std::u16string path = full_path(a);
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES || !MakeSimulatedFolders(path)) result = 1;
      }
      return result;
    }
    if (verb == u"DEL" || verb == u"ERASE") {
      DWORD result = 0;
      for (const auto& a : args)
        if (a[0] != u'/' && !DeleteFileW(full_path(a).c_str())) result = 1;
      return result;
    }
    if (verb == u"EXIT") {
      exit_ = true;
      for (const auto& a : args)
        if (a[0] != u'/') return ParseNumber(a);
      return last_;
    }
    if (verb == u"CALL") return call_script(head.arguments, depth);
    if (auto code = run_builtin(verb, head.arguments, depth)) return *code;
    if (verb == u"FORMAT") return format(args);
    if (verb == u"MKLINK") return mklink(args);
    // A script runs in this interpreter; anything else is a program.
    std::u16string name = UpperCase(FileNamePart(head.program));
    if (name.size() > 4 && (name.substr(name.size() - 4) == u".CMD" || name.substr(name.size() - 4) == u".BAT"))
      return call_script(command, depth);
    HANDLE process = StartProgram(command, folder_, input_, output_, SW_HIDE);
    if (!process) {
      say("'" + Narrow(head.program) + "' is not recognized as an internal or external command,\r\n"
          "operable program or batch file.\r\n");
      return kNotRecognized;
    }
    WaitForSingleObject(process, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
  }

  static DWORD ParseNumber(const std::u16string& text) {
    DWORD value = 0;
    for (char16_t c : text) {
      if (c < u'0' || c > u'9') break;
      value = value * 10 + static_cast<DWORD>(c - u'0');
    }
    return value;
  }

  DWORD call_script(const std::u16string& command, int depth) {
    if (depth >= kMaxCallDepth) {
      say("The batch file calls nest too deeply.\r\n");
      return 1;
    }
    auto head = SplitProgram(command);
    std::u16string path = full_path(head.program);
    std::vector<uint8_t> bytes;
    if (!ReadSimulatedFile(path, &bytes, 4u << 20)) {
      say("The system cannot find the path specified.\r\n");
      return 1;
    }
    auto params = SplitCommandLine(head.arguments);
    std::string text(bytes.begin(), bytes.end());
    size_t start = 0, lines = 0;
    while (start <= text.size() && lines++ < kMaxScriptLines && !exit_) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      // Script files are 8-bit text; each byte stands for one character.
      std::u16string line;
      for (size_t i = start; i < end; ++i) line.push_back(static_cast<unsigned char>(text[i]));
      run_line(Expand(ExpandVariables(line, variables_), path, params), depth + 1);
      start = end + 1;
    }
    exit_ = false;  // "exit /b" ends only the script
    return last_;
  }

  static std::u16string Expand(const std::u16string& line, const std::u16string& script,
                               const std::vector<std::u16string>& params) {
    std::u16string out;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == u'%' && i + 1 < line.size()) {
        char16_t n = line[i + 1];
        if (n == u'%') {
          out.push_back(u'%');
          ++i;
          continue;
        }
        if (n >= u'0' && n <= u'9') {
          size_t k = static_cast<size_t>(n - u'0');
          if (k == 0)
            out += script;
          else if (k <= params.size())
            out += params[k - 1];
          ++i;
          continue;
        }
      }
      out.push_back(line[i]);
    }
    return out;
  }

  std::optional<DWORD> run_builtin(const std::u16string& verb, const std::u16string& arguments, int depth) {
    BuiltinContext context;
    context.full_path = [this](const std::u16string& path) { return full_path(path); };
    context.say = [this](std::string_view text) { say(text); };
    context.run = [this, depth](const std::u16string& line) { return run_line(line, depth); };
    context.variables = &variables_;
    context.last = last_;
    return RunBuiltin(verb, arguments, context);
  }

  DWORD format(const std::vector<std::u16string>& args) {
    std::u16string drive, file_system, label;
    bool quick = false, confirmed = false;
    for (const auto& a : args) {
      std::u16string upper = UpperCase(a);
      if (upper.size() == 2 && upper[1] == u':')
        drive = upper;
      else if (upper.rfind(u"/FS:", 0) == 0)
        file_system = upper.substr(4);
      else if (upper == u"/Q")
        quick = true;
      else if (upper == u"/Y")
        confirmed = true;
      else if (upper.rfind(u"/V:", 0) == 0)
        label = a.substr(3);
      else {
        say("Invalid parameter - " + Narrow(a) + "\r\n");
        return 1;
      }
    }
    if (drive.empty() || drive[0] < u'A' || drive[0] > u'Z') {
      say("Required parameter missing -\r\n");
      return 1;
    }
    if (file_system.empty()) file_system = u"NTFS";  // what the volume gets when none is named
    if (!confirmed) {
      say("Proceed with Format (Y/N)? ");
      std::string answer;
      if (!read_answer(&answer) || answer.empty() || (answer[0] != 'y' && answer[0] != 'Y')) {
        say("\r\n");
        return 5;
      }
      say(answer + "\r\n");
    }
    std::u16string root = drive + u"\\";
    format_result = -1;
    FormatEx(root.data(), FMIFS_FIXED_MEDIA, file_system.data(), label.data(), quick ? TRUE : FALSE, 0,
             &FormatCallback);
    bool ok = format_result == 1;
    MachineLog("format " + Narrow(drive) + " fs=" + Narrow(file_system) + (quick ? " quick" : "") +
               (ok ? " done" : " failed"));
    // The label question that follows a format reads the next answer, if any.
    std::string ignored;
    if (ok && label.empty()) read_answer(&ignored);
    say(ok ? "Format complete.\r\n" : "Format failed.\r\n");
    return ok ? 0 : 4;
  }

  DWORD mklink(const std::vector<std::u16string>& args) {
    bool folder_link = false;
    std::vector<std::u16string> names;
    for (const auto& a : args) {
      if (UpperCase(a) == u"/D")
        folder_link = true;
      else
        names.push_back(a);
    }
    if (names.size() != 2) {
      say("The syntax of the command is incorrect.\r\n");
      return 1;
    }
    std::u16string link = full_path(names[0]);
    const std::u16string& target = names[1];
    if (GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) {
      say("Cannot create a file when that file already exists.\r\n");
      return 1;
    }
    if (folder_link ? !CreateDirectoryW(link.c_str(), nullptr) : !WriteSimulatedFile(link, std::string_view())) {
      say("The system cannot find the path specified.\r\n");
      return 1;
    }
    DWORD error = SetSymbolicLink(link, target, folder_link);
    if (error) {
      if (folder_link)
        RemoveDirectoryW(link.c_str());
      else
        DeleteFileW(link.c_str());
      say("The file system does not support symbolic links here.\r\n");
      return 1;
    }
    say("symbolic link created for " + Narrow(names[0]) + " <<===>> " + Narrow(target) + "\r\n");
    return 0;
  }

  // Writes a symbolic-link reparse point onto an existing file or folder.
  static DWORD SetSymbolicLink(const std::u16string& link, const std::u16string& target, bool folder) {
    HANDLE h = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0), nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    const bool relative = !IsAbsolutePath(target);
    std::u16string substitute = relative ? target : u"\\??\\" + target;
    const std::u16string& print = target;
    // Reparse data: tag, data length, reserved, then the symbolic-link body.
    std::vector<uint8_t> buffer(8 + 12 + (substitute.size() + print.size()) * 2);
    auto put16 = [&](size_t at, size_t v) {
      buffer[at] = static_cast<uint8_t>(v & 0xFF);
      buffer[at + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    };
    auto put32 = [&](size_t at, uint32_t v) {
      put16(at, v & 0xFFFF);
      put16(at + 2, v >> 16);
    };
    put32(0, 0xA000000C);                   // +0x00 IO_REPARSE_TAG_SYMLINK
    put16(4, buffer.size() - 8);            // +0x04 data length
    put16(8, 0);                            // +0x08 substitute name offset
    put16(10, substitute.size() * 2);       // +0x0a substitute name length
    put16(12, substitute.size() * 2);       // +0x0c print name offset
    put16(14, print.size() * 2);            // +0x0e print name length
    put32(16, relative ? 1 : 0);            // +0x10 flags: 1 = relative target
    std::memcpy(buffer.data() + 20, substitute.data(), substitute.size() * 2);
    std::memcpy(buffer.data() + 20 + substitute.size() * 2, print.data(), print.size() * 2);
    DWORD returned = 0;
    constexpr DWORD kSetReparsePoint = 0x000900A4;  // FSCTL_SET_REPARSE_POINT
    BOOL ok = DeviceIoControl(h, kSetReparsePoint, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, 0,
                              &returned, nullptr);
    DWORD error = ok ? 0 : GetLastError();
    CloseHandle(h);
    return error;
  }

  std::u16string folder_;
  HANDLE input_;
  HANDLE output_;
  DWORD last_ = 0;
  bool exit_ = false;
  std::map<std::u16string, std::u16string> variables_;  // set in scripts, upper-case names
};

}  // namespace

DWORD RunCommandLine(const std::u16string& line, const std::u16string& folder, HANDLE std_input, HANDLE std_output) {
  Interpreter interpreter(folder, std_input, std_output);
  return interpreter.run_line(line, 0);
}

DWORD RunCommandInterpreter(const ProgramStart& start) {
  // Everything after "/C" (or "/K", which here also ends when the line is done) is the command.
  const std::u16string& a = start.arguments;
  size_t i = 0;
  while (i + 1 < a.size()) {
    if (a[i] == u'/' && (a[i + 1] == u'C' || a[i + 1] == u'c' || a[i + 1] == u'K' || a[i + 1] == u'k') &&
        (i + 2 == a.size() || a[i + 2] == u' ' || a[i + 2] == u'"'))
      break;
    ++i;
  }
  if (i + 1 >= a.size()) return 0;  // an interactive shell: nothing to run here
  std::u16string line = a.substr(i + 2);
  // "cmd /C "a b" c": cmd keeps the text as typed, only dropping one pair of
  // outer quotes when the line starts and ends with a quote and has no other.
  while (!line.empty() && line.front() == u' ') line.erase(0, 1);
  if (line.size() >= 2 && line.front() == u'"' && line.back() == u'"' &&
      line.find(u'"', 1) == line.size() - 1 && line.find(u' ') == std::u16string::npos)
    line = line.substr(1, line.size() - 2);
  MachineLog("cmd run \"" + Narrow(line) + "\" folder=\"" + Narrow(start.current_folder) + "\"");
  return RunCommandLine(line, start.current_folder, start.std_input, start.std_output);
}

}  // namespace platform::process
