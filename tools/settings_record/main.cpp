// settings_record: writes the program's settings record (Resources\inf.dll).
//   settings_record OUTPUT --language English|Japanese [--text1 T] [--text2 T]
//                   [--text3 T] [--number N]
// Texts are UTF-8 on the command line; each is checked against its field's
// room before anything is written. Exit status 0 on success, 1 on a bad
// value or a failed write, 2 on bad usage.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "mainapp/shell/settings_record.h"
#include "platform/core/text.h"

namespace {

int Usage() {
  std::cerr << "usage: settings_record OUTPUT --language English|Japanese [--text1 T] [--text2 T] "
               "[--text3 T] [--number N]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string output = argv[1];
  shell::SettingsFields fields;
  bool have_language = false;
  for (int i = 2; i < argc; ++i) {
    std::string option = argv[i];
    if (i + 1 >= argc) return Usage();
    std::u16string value = platform::to_utf16(argv[++i]);
    if (option == "--text1") fields.text1 = value;
    else if (option == "--text2") fields.text2 = value;
    else if (option == "--text3") fields.text3 = value;
    else if (option == "--number") fields.number = value;
    else if (option == "--language") {
      if (value != u"English" && value != u"Japanese") {
        std::cerr << "settings_record: language must be English or Japanese\n";
        return 1;
      }
      fields.language = value;
      have_language = true;
    } else {
      return Usage();
    }
  }
  if (!have_language) return Usage();
  std::vector<uint8_t> record;
  std::string error;
  if (!shell::EncodeSettingsRecord(fields, record, &error)) {
    std::cerr << "settings_record: " << error << "\n";
    return 1;
  }
  std::string tmp = output + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary);
    out.write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
    if (!out) {
      std::cerr << "settings_record: cannot write " << tmp << "\n";
      return 1;
    }
  }
  if (std::rename(tmp.c_str(), output.c_str()) != 0) {
    std::cerr << "settings_record: cannot write " << output << "\n";
    return 1;
  }
  return 0;
}
