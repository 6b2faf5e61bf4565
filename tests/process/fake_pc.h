// A simulated PC for process tests: a set of files and folders, OS facts and a
// captured machine log, installed through the process library's machine link.
#pragma once

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/text.h"
#include "platform/process/command_line.h"
#include "platform/process/machine_link.h"

namespace process_test {

class FakePc {
 public:
  FakePc() {
    platform::Clock::instance().reset();
    folder_ = std::filesystem::temp_directory_path() /
              ("process-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter()++));
    std::filesystem::create_directories(folder_);
    add_folder(u"C:\\");
    add_folder(u"C:\\Windows");
    add_folder(u"C:\\Windows\\System32");
    platform::process::MachineLink link;
    link.folder = [this] { return folder_; };
    link.log = [this](const std::string& line) {
      std::lock_guard guard(lock_);
      log_.push_back(line);
    };
    link.file_attributes = [this](const std::u16string& path) -> DWORD {
      std::lock_guard guard(lock_);
      auto it = entries_.find(platform::process::UpperCase(path));
      return it == entries_.end() ? 0xFFFFFFFF : it->second;
    };
    link.system_folder = [] { return std::u16string(u"C:\\Windows\\System32"); };
    link.windows_folder = [] { return std::u16string(u"C:\\Windows"); };
    link.current_folder = [this] {
      std::lock_guard guard(lock_);
      return current_;
    };
    link.path_variable = [this] {
      std::lock_guard guard(lock_);
      return path_;
    };
    link.os = [this] {
      std::lock_guard guard(lock_);
      return os_;
    };
    platform::process::SetMachineLink(link);
  }
  ~FakePc() {
    platform::process::ResetMachineLink();
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }

  void add_file(const std::u16string& path) {
    std::lock_guard guard(lock_);
    entries_[platform::process::UpperCase(path)] = 0x20;
  }
  void add_folder(const std::u16string& path) {
    std::lock_guard guard(lock_);
    entries_[platform::process::UpperCase(path)] = 0x10;
  }
  void set_current(const std::u16string& folder) {
    std::lock_guard guard(lock_);
    current_ = folder;
  }
  void set_path(const std::u16string& path) {
    std::lock_guard guard(lock_);
    path_ = path;
  }
  void set_os(const platform::process::OsFacts& os) {
    std::lock_guard guard(lock_);
    os_ = os;
  }
  std::vector<std::string> log() {
    std::lock_guard guard(lock_);
    return log_;
  }
  // Log lines that start with `prefix`.
  std::vector<std::string> log_starting(const std::string& prefix) {
    std::vector<std::string> out;
    for (auto& line : log())
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
  }
  const std::filesystem::path& folder() const { return folder_; }

 private:
  static int& counter() {
    static int n = 0;
    return n;
  }
  std::mutex lock_;
  std::filesystem::path folder_;
  std::map<std::u16string, DWORD> entries_;
  std::u16string current_ = u"C:\\Users\\User";
  std::u16string path_ = u"C:\\Windows\\System32;C:\\Windows";
  platform::process::OsFacts os_;
  std::vector<std::string> log_;
};

}  // namespace process_test
