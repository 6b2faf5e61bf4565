#include "tests/support/copied_volume.h"

#include <sstream>

#include "tests/support/shell.h"

namespace test_support {

namespace {

constexpr const char* kMtools = "MTOOLS_SKIP_CHECK=1 ";

std::string Output(const std::string& command) {
  std::string out;
  Shell(command, &out);
  return out;
}

}  // namespace

CopiedVolume::CopiedVolume(std::string image, const std::string& fs_name)
    : image_(std::move(image)), kind_(fs_name == "ntfs" ? Kind::Ntfs : Kind::Fat) {}

std::string CopiedVolume::Cat(const std::string& path) const {
  if (ntfs()) return Output("ntfscat " + Quote(image_) + " " + Quote(path));
  return Output(kMtools + std::string("mtype -i ") + Quote(image_) + " " + Quote("::" + path));
}

bool CopiedVolume::SameBytes(const std::string& path, const std::string& reference) const {
  const std::string reader = ntfs() ? "ntfscat " + Quote(image_) + " " + Quote(path)
                                    : kMtools + std::string("mtype -i ") + Quote(image_) + " " + Quote("::" + path);
  return Shell(reader + " | cmp - " + Quote(reference)) == 0;
}

std::string CopiedVolume::List(const std::string& folder, const std::string& ntfs_options) const {
  if (ntfs()) return Output("ntfsls " + ntfs_options + " -p " + Quote(folder) + " " + Quote(image_));
  return Output(kMtools + std::string("mdir -b -i ") + Quote(image_) + " " + Quote("::" + folder));
}

std::string CopiedVolume::ListWithTimes(const std::string& folder) const {
  if (ntfs()) return Output("TZ=UTC ntfsls -l -p " + Quote(folder) + " " + Quote(image_));
  return Output(std::string("TZ=UTC ") + kMtools + "mdir -i " + Quote(image_) + " " + Quote("::" + folder));
}

std::string CopiedVolume::Attributes(const std::string& path) const {
  if (ntfs()) return Output("ntfsinfo -F " + Quote(path) + " " + Quote(image_) + " | grep -i attributes");
  // mattrib prints the set letters, then the item's name: only the letters
  // count (the name may hold capitals of its own).
  const std::string line = Output(kMtools + std::string("mattrib -i ") + Quote(image_) + " " + Quote("::" + path));
  const size_t name = line.find("::");
  return name == std::string::npos ? std::string() : line.substr(0, name);
}

std::string CopiedVolume::NtfsInfo(const std::string& path) const {
  if (!ntfs()) return {};
  return Output("ntfsinfo -F " + Quote(path) + " " + Quote(image_));
}

bool CopiedVolume::StoredCompressed(const std::string& path) const {
  const std::string info = NtfsInfo(path);
  // The unnamed data attribute is the report's last "Data size" of a
  // non-resident attribute, the one followed by its compressed size.
  const size_t packed = info.find("Compressed size:");
  const size_t data = info.rfind("Data size:", packed);
  if (info.find("COMPRESSED") == std::string::npos || packed == std::string::npos || data == std::string::npos)
    return false;
  return std::stoull(info.substr(packed + 16)) < std::stoull(info.substr(data + 10));
}

std::vector<uint8_t> CopiedVolume::Dacl(const std::string& path) const {
  if (!ntfs()) return {};
  // ntfssecaudit -v dumps the descriptor as lines of a six-digit hex offset
  // followed by groups of hex bytes.
  const std::string out = Output("ntfssecaudit -v " + Quote(image_) + " " + Quote(path));
  std::vector<uint8_t> bytes;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string offset, word;
    if (!(words >> offset) || offset.size() != 6 || offset.find_first_not_of("0123456789abcdef") != std::string::npos)
      continue;
    while (words >> word) {
      if (word.size() % 2 != 0 || word.find_first_not_of("0123456789abcdef") != std::string::npos) break;
      for (size_t i = 0; i + 1 < word.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(word.substr(i, 2), nullptr, 16)));
    }
  }
  // Self-relative descriptor: control word at 2 (0x04: DACL present), the
  // DACL's offset at 16; the ACL's size at its offset 2.
  if (bytes.size() < 20 || !(bytes[2] & 0x04)) return {};
  const size_t at = bytes[16] | (bytes[17] << 8) | (bytes[18] << 16) | (static_cast<size_t>(bytes[19]) << 24);
  if (at == 0 || at + 8 > bytes.size()) return {};
  const size_t size = bytes[at + 2] | (bytes[at + 3] << 8);
  if (at + size > bytes.size()) return {};
  return std::vector<uint8_t>(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + size));
}

std::string CopiedVolume::Label() const {
  if (ntfs()) return Output("ntfslabel -f " + Quote(image_));
  return Output(kMtools + std::string("mlabel -s -i ") + Quote(image_) + " ::");
}

bool CopiedVolume::Consistent(std::string* report) const {
  const std::string command = ntfs() ? "ntfsfix -n " + Quote(image_) : "fsck.fat -n " + Quote(image_);
  CommandResult result = RunCommand(command);
  if (report) *report = result.output;
  return result.status == 0;
}

}  // namespace test_support
