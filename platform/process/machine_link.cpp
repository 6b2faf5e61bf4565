#include "platform/process/machine_link.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/machine/machine.h"

namespace platform::process {

namespace {

std::filesystem::path DefaultFolder() {
  if (auto machine = platform::machine::CurrentIfOpen()) return machine->folder();
  if (const char* dir = std::getenv("DRUM_MACHINE"); dir && *dir) return dir;
  if (const char* dir = std::getenv("DRUM_MACHINE_DIR"); dir && *dir) return dir;
  return std::filesystem::temp_directory_path() / ("drum-machine-" + std::to_string(getuid()));
}

OsFacts DefaultOs() {
  OsFacts facts;
  if (auto machine = platform::machine::CurrentIfOpen()) {
    const auto& os = machine->os();
    facts.major = os.major;
    facts.minor = os.minor;
    facts.build = os.build;
    facts.platform_id = os.platform_id;
    facts.service_pack = platform::to_utf16(os.service_pack);
    facts.service_pack_major = 0;
    const std::string prefix = "Service Pack ";
    if (os.service_pack.rfind(prefix, 0) == 0)
      facts.service_pack_major = static_cast<WORD>(std::atoi(os.service_pack.c_str() + prefix.size()));
    facts.wow64 = os.wow64;
    facts.winpe = os.winpe;
  }
  return facts;
}

std::u16string MachineFolderText(std::string platform::machine::OsFacts::*field, const char16_t* fallback) {
  if (auto machine = platform::machine::CurrentIfOpen()) return platform::to_utf16(machine->os().*field);
  return fallback;
}

MachineLink Defaults() {
  MachineLink link;
  link.folder = DefaultFolder;
  link.log = [](const std::string& line) {
    // "process start ..." -> category "process", text "start ...".
    size_t blank = line.find(' ');
    if (blank == std::string::npos)
      platform::machine::Log(line, "");
    else
      platform::machine::Log(line.substr(0, blank), line.substr(blank + 1));
  };
  link.file_attributes = [](const std::u16string& path) -> DWORD { return GetFileAttributesW(path.c_str()); };
  link.system_folder = [] { return MachineFolderText(&platform::machine::OsFacts::system_folder, u"C:\\Windows\\System32"); };
  link.windows_folder = [] { return MachineFolderText(&platform::machine::OsFacts::windows_folder, u"C:\\Windows"); };
  link.current_folder = [] {
    std::u16string folder = platform::fs::CurrentDirectory();
    while (folder.size() > 3 && folder.back() == u'\\') folder.pop_back();
    return folder;
  };
  link.path_variable = [] {
    return MachineFolderText(&platform::machine::OsFacts::system_folder, u"C:\\Windows\\System32") + u";" +
           MachineFolderText(&platform::machine::OsFacts::windows_folder, u"C:\\Windows");
  };
  link.os = DefaultOs;
  return link;
}

std::mutex& link_lock() {
  static std::mutex m;
  return m;
}

MachineLink& current() {
  static MachineLink* link = new MachineLink(Defaults());
  return *link;
}

}  // namespace

const MachineLink& Machine() { return current(); }

void SetMachineLink(const MachineLink& link) {
  std::lock_guard guard(link_lock());
  auto& c = current();
  if (link.folder) c.folder = link.folder;
  if (link.log) c.log = link.log;
  if (link.file_attributes) c.file_attributes = link.file_attributes;
  if (link.system_folder) c.system_folder = link.system_folder;
  if (link.windows_folder) c.windows_folder = link.windows_folder;
  if (link.current_folder) c.current_folder = link.current_folder;
  if (link.path_variable) c.path_variable = link.path_variable;
  if (link.os) c.os = link.os;
}

void ResetMachineLink() {
  std::lock_guard guard(link_lock());
  current() = Defaults();
}

void MachineLog(const std::string& line) { Machine().log(line); }

}  // namespace platform::process
