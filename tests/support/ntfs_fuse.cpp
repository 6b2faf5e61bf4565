#include "tests/support/ntfs_fuse.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/shell.h"
#include "tests/support/temp_folder.h"

namespace test_support {

NtfsFuseVolume::NtfsFuseVolume(const std::string& image, bool read_only) {
  if (access("/dev/fuse", R_OK | W_OK) != 0 || Shell("command -v ntfs-3g") != 0) return;
  folder_ = MakeTempFolder("drum-fuse");
  root_ = folder_ + "/root";
  std::filesystem::create_directory(root_);
  // Bounded: a mount that cannot start must not hang the test.
  mounted_ = Shell("timeout 30 ntfs-3g -o streams_interface=xattr" + std::string(read_only ? ",ro " : " ") + Quote(image) + " " + Quote(root_)) == 0;
  // The driver's process, to wait for at the unmount: it writes the volume back after letting go.
  std::string pid;
  if (mounted_ && Shell("pgrep -f " + Quote("[n]tfs-3g .*" + root_), &pid) == 0) daemon_ = std::atoi(pid.c_str());
}

NtfsFuseVolume::~NtfsFuseVolume() {
  Unmount();
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

int NtfsFuseVolume::Run(const std::string& command) const {
  return Shell("cd " + Quote(root_) + " && " + command);
}

bool NtfsFuseVolume::Put(const std::string& path, const std::string& bytes) const {
  std::ofstream out(at(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool NtfsFuseVolume::SetAttribute(const std::string& path, const std::string& name,
                                  const std::vector<uint8_t>& value) const {
  return lsetxattr(at(path).c_str(), name.c_str(), value.data(), value.size(), 0) == 0;
}

bool NtfsFuseVolume::SetAttribute(const std::string& path, const std::string& name, const std::string& value) const {
  return SetAttribute(path, name, std::vector<uint8_t>(value.begin(), value.end()));
}

std::vector<uint8_t> NtfsFuseVolume::Attribute(const std::string& path, const std::string& name) const {
  const ssize_t size = lgetxattr(at(path).c_str(), name.c_str(), nullptr, 0);
  if (size <= 0) return {};
  std::vector<uint8_t> value(static_cast<size_t>(size));
  const ssize_t got = lgetxattr(at(path).c_str(), name.c_str(), value.data(), value.size());
  value.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return value;
}

bool NtfsFuseVolume::Unmount() {
  if (!mounted_) return true;
  mounted_ = false;
  const bool ok = Shell("timeout 30 fusermount -u " + Quote(root_)) == 0;
  // fusermount returns once the kernel let go; ntfs-3g ends after writing
  // the volume back. At most 30 s.
  const std::string proc = "/proc/" + std::to_string(daemon_);
  for (int i = 0; daemon_ > 0 && i < 300 && access(proc.c_str(), F_OK) == 0; ++i) usleep(100000);
  return ok;
}

}  // namespace test_support
