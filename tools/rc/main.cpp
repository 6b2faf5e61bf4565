// drum_rc: compiles a resource script into a C++ source of compiled-in tables,
// or (with --strings) a language library file of its string blocks alone.
//   drum_rc INPUT.rc OUTPUT.cpp TABLE_NAME [-I DIR]...
//   drum_rc --strings INPUT.rc OUTPUT.dll [-I DIR]...
// Exit status 0 on success; on bad input prints FILE:LINE: what, writes
// nothing and exits with 1.
#include <fstream>
#include <iostream>

#include "tools/rc/rc_compiler.h"

int main(int argc, char** argv) {
  const bool strings_only = argc > 1 && std::string(argv[1]) == "--strings";
  if (strings_only) {
    --argc;
    ++argv;
  }
  const int first_option = strings_only ? 3 : 4;
  if (argc < first_option) {
    std::cerr << "usage: drum_rc INPUT.rc OUTPUT.cpp TABLE_NAME [-I DIR]...\n"
                 "       drum_rc --strings INPUT.rc OUTPUT.dll [-I DIR]...\n";
    return 2;
  }
  std::vector<std::string> dirs;
  for (int i = first_option; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-I" && i + 1 < argc) dirs.push_back(argv[++i]);
    else if (a.rfind("-I", 0) == 0 && a.size() > 2) dirs.push_back(a.substr(2));
    else {
      std::cerr << "drum_rc: unknown option " << a << "\n";
      return 2;
    }
  }
  std::string name = strings_only ? "" : argv[3];
  for (char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) {
      std::cerr << "drum_rc: table name '" << name << "' must be letters, digits and '_'\n";
      return 2;
    }
  rc::ResourceFile file;
  rc::Error error;
  if (!rc::ParseFile(argv[1], dirs, file, error)) {
    std::cerr << error.message() << "\n";
    return 1;
  }
  if (strings_only && file.strings.empty()) {
    std::cerr << argv[1] << ": a language library needs a STRINGTABLE\n";
    return 1;
  }
  std::string code = strings_only ? rc::EmitStringBlockFile(file) : rc::EmitCpp(file, name);
  std::string tmp = std::string(argv[2]) + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary);
    out << code;
    if (!out) {
      std::cerr << "drum_rc: cannot write " << tmp << "\n";
      return 1;
    }
  }
  if (std::rename(tmp.c_str(), argv[2]) != 0) {
    std::cerr << "drum_rc: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
