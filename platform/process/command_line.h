// Command lines and program paths on the simulated PC.
//
// SplitCommandLine follows the platform's argument rules (blanks separate,
// double quotes group, 2n backslashes before a quote give n backslashes and a
// quote that groups, 2n+1 give n backslashes and a literal quote).
// ResolveProgram finds the file a start refers to, as process creation does:
// a quoted first token is the program; an unquoted one is tried at every blank
// from the left ("C:\Program Files\a b.exe x" tries "C:\Program", then
// "C:\Program Files\a", ...); a name without a folder is searched for in the
// starting program's folder, the current folder, the system folder, the
// Windows folder and the PATH folders; ".exe" is appended to a name without an
// extension; trailing blanks and dots of the name are dropped.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/core/types.h"

namespace platform::process {

std::vector<std::u16string> SplitCommandLine(std::u16string_view command_line);

// The first argument as the platform's parser sees it, and the text after it
// with leading blanks removed (what a program takes as its parameters).
struct CommandLineHead {
  std::u16string program;
  std::u16string arguments;
};
CommandLineHead SplitProgram(std::u16string_view command_line);

// Quotes an argument only when it needs it.
std::u16string QuoteArgument(std::u16string_view argument);

struct SearchFolders {
  std::u16string application;  // folder of the program that starts the new one
  std::u16string current;
  std::u16string system;
  std::u16string windows;
  std::u16string path_variable;  // ';'-separated
};

// Whether a full path names a program that can be started.
using ProgramProbe = std::function<bool(const std::u16string& full_path)>;

struct Resolution {
  DWORD error = 0;             // ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND
  std::u16string image_path;   // full path of the program
  std::u16string arguments;    // the rest of the command line after the program
};

// `application` set: it is the program (relative to the current folder, no
// search, no ".exe" appended). Otherwise the program comes from the command line.
Resolution ResolveProgram(const std::u16string* application, std::u16string_view command_line,
                          const SearchFolders& folders, const ProgramProbe& exists);

// Path helpers on simulated paths ("C:\a\b").
std::u16string JoinPath(std::u16string_view folder, std::u16string_view name);
std::u16string ParentFolder(std::u16string_view path);
std::u16string FileNamePart(std::u16string_view path);
bool IsAbsolutePath(std::u16string_view path);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
std::u16string UpperCase(std::u16string_view text);
// Drops trailing blanks and dots, and folds "." and ".." components.
std::u16string NormalizePath(std::u16string_view path);

}  // namespace platform::process
