// settings_record: writes a program's record (Resources\inf.dll).
//   settings_record OUTPUT --language English|Japanese [--text1 T] [--text2 T]
//                   [--text3 T] [--number N]
//     Drummetworks' (and Fennick's) 530-byte settings record;
//   settings_record OUTPUT --branding --language English|Japanese
//                   [--company T] [--product T] [--image NAME] [--flags N]
//     Pellimor's 17,380-byte branding record.
// Texts are UTF-8 on the command line; each is checked against its field's
// room before anything is written. Exit status 0 on success, 1 on a bad
// value or a failed write, 2 on bad usage.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "platform/core/text.h"
#include "program_support/settings_record.h"
#include "usbwriter/branding/branding_record.h"

namespace {

int Usage() {
  std::cerr << "usage: settings_record OUTPUT --language English|Japanese [--text1 T] [--text2 T] "
               "[--text3 T] [--number N]\n"
               "       settings_record OUTPUT --branding --language English|Japanese [--company T] "
               "[--product T] [--image NAME] [--flags N]\n";
  return 2;
}

bool IsLanguage(const std::u16string& value) {
  if (value == u"English" || value == u"Japanese") return true;
  std::cerr << "settings_record: language must be English or Japanese\n";
  return false;
}

// Options after "--branding": Pellimor's record.
int ParseBranding(int argc, char** argv, std::vector<uint8_t>& record) {
  BrandingFields fields;
  bool have_language = false;
  for (int i = 3; i < argc; ++i) {
    std::string option = argv[i];
    if (i + 1 >= argc) return Usage();
    std::string raw = argv[++i];
    std::u16string value = platform::to_utf16(raw);
    if (option == "--company") fields.company = value;
    else if (option == "--product") fields.product = value;
    else if (option == "--image") fields.imageName = value;
    else if (option == "--flags") fields.flags = static_cast<uint32_t>(std::stoul(raw, nullptr, 0));
    else if (option == "--language") {
      if (!IsLanguage(value)) return 1;
      fields.language = value;
      have_language = true;
    } else {
      return Usage();
    }
  }
  if (!have_language) return Usage();
  std::string error;
  if (!EncodeBrandingRecord(fields, record, &error)) {
    std::cerr << "settings_record: " << error << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

// Writes the record through a temporary file, so a failed write leaves no half record.
static int WriteRecord(const std::string& output, const std::vector<uint8_t>& record);

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string output = argv[1];
  std::vector<uint8_t> record;
  if (argc > 2 && std::string(argv[2]) == "--branding") {
    if (int status = ParseBranding(argc, argv, record)) return status;
    return WriteRecord(output, record);
  }
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
      if (!IsLanguage(value)) return 1;
      fields.language = value;
      have_language = true;
    } else {
      return Usage();
    }
  }
  if (!have_language) return Usage();
  std::string error;
  if (!shell::EncodeSettingsRecord(fields, record, &error)) {
    std::cerr << "settings_record: " << error << "\n";
    return 1;
  }
  return WriteRecord(output, record);
}

static int WriteRecord(const std::string& output, const std::vector<uint8_t>& record) {
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
