#include "platform/process/machine_link.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <mutex>

namespace platform::process {

namespace {

std::filesystem::path DefaultFolder() {
  if (const char* dir = std::getenv("DRUM_MACHINE_DIR"); dir && *dir) return dir;
  return std::filesystem::temp_directory_path() / ("drum-machine-" + std::to_string(getuid()));
}

MachineLink Defaults() {
  MachineLink link;
  link.folder = DefaultFolder;
  link.log = [](const std::string& line) {
    static std::mutex lock;
    std::lock_guard guard(lock);
    std::error_code ec;
    auto dir = Machine().folder();
    std::filesystem::create_directories(dir, ec);
    std::ofstream out(dir / "machine.log", std::ios::app);
    out << line << '\n';
  };
  link.file_attributes = [](const std::u16string&) -> DWORD { return 0xFFFFFFFF; };
  link.system_folder = [] { return std::u16string(u"C:\\Windows\\System32"); };
  link.windows_folder = [] { return std::u16string(u"C:\\Windows"); };
  link.current_folder = [] { return std::u16string(u"C:\\Windows\\System32"); };
  link.path_variable = [] { return std::u16string(u"C:\\Windows\\System32;C:\\Windows"); };
  link.os = [] { return OsFacts{}; };
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
