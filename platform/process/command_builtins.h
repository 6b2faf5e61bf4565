// The interpreter's built-in commands for file work and script logic, as
// generated build scripts use them:
//   set NAME=value          (set alone lists the variables)
//   if [not] exist PATH command
//   if [not] "a"=="b" command   (also without quotes)
//   if [not] errorlevel N command
//   copy [/y] [/b] SOURCE [TARGET]   (SOURCE may end in a * or ? pattern)
//   xcopy SOURCE TARGET [/e] [/s] [/i] [/y] [/h] [/q]
//   rd|rmdir [/s] [/q] FOLDER
// and %NAME% expansion of variables (an undefined one expands to nothing).
// A folder link met by rd /s is removed as a link: what it points to is
// never entered or deleted; xcopy does not follow links either.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/core/types.h"

namespace platform::process {

struct BuiltinContext {
  std::function<std::u16string(const std::u16string&)> full_path;  // relative -> absolute
  std::function<void(std::string_view)> say;
  std::function<DWORD(const std::u16string&)> run;  // another command line (if)
  std::map<std::u16string, std::u16string>* variables;  // upper-case names
  DWORD last = 0;
};

// Runs `verb` (upper case) when it is one of the commands above; nullopt
// when it is not.
std::optional<DWORD> RunBuiltin(const std::u16string& verb, const std::u16string& arguments, BuiltinContext& context);

// Replaces %NAME% by the variable's value (case-blind names); "%%" and the
// script parameters %0-%9 are left for the caller.
std::u16string ExpandVariables(const std::u16string& line, const std::map<std::u16string, std::u16string>& variables);

}  // namespace platform::process
